#pragma once

#include <QList>
#include <QSsl>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <functional>

class QSslSocket;
struct ProfileSettingsRecord;
class CancelFlag;

// How a profile's connection is secured.
enum class ConnectionSecurity {
    None,     // plain POP3
    StartTls, // plain POP3 upgraded with STLS before logging in
    Implicit, // TLS from the first byte
    Unknown,  // a value we do not understand: nothing is sent
};

// Reads EmailSecurity ("None", "STARTTLS", "SSL/TLS", case ignored); an empty
// value means TLS on port 995 and plain POP3 elsewhere.
ConnectionSecurity connectionSecurity(const ProfileSettingsRecord &settings);
// Why a profile whose security is Unknown is refused before connecting.
QString unknownSecurityText(const QString &value);

// The user's answer when a certificate failed verification.
enum class CertificateDecision { Refuse, TrustAlways };
using CertificatePrompt = std::function<CertificateDecision(
    const QString &host, const QList<QSslCertificate> &chain, const QList<QSslError> &errors)>;
// Told the fingerprint of a certificate the user has just chosen to trust.
using CertificateTrusted = std::function<void(const QString &fingerprint)>;

// Why the channel's certificate was accepted.
enum class CertificateTrust {
    NotEncrypted,
    Verified,   // by the system's trust store and the host name
    Pinned,     // its fingerprint is the profile's TrustedCertificate
    TrustedNow, // the user trusted it when asked
};

// "TLS 1.3", "TLS 1.2", ...
QString tlsProtocolName(QSsl::SslProtocol protocol);

struct HandshakeResult {
    enum class Kind { Secured, Cancelled, Failed, Untrusted };
    Kind kind = Kind::Failed;
    bool tcpConnected = false; // false: the server was never reached
    CertificateTrust trust = CertificateTrust::NotEncrypted;
    QString reason;         // why it failed, for the user
    bool plainTextPeer = false; // what answered the handshake was no TLS at all
    QString newFingerprint; // set when the user trusted a certificate now
};

struct HandshakeOptions {
    QString host;          // the name the certificate must carry
    QString pinned;        // the profile's TrustedCertificate
    CertificatePrompt prompt;
    int inactivityLimitMs = 60000;
};

// Prepares a socket so that its certificate is checked against the system's
// trust store and the host name, and a failed check pauses the handshake for
// awaitHandshake() to decide instead of being ignored anywhere.
void prepareVerification(QSslSocket &socket, const QString &host);

// Waits until the socket's TLS handshake (already started) has finished. A
// certificate that failed verification is accepted only when it is the
// pinned one (and only for its own errors) or the prompt trusts it.
HandshakeResult awaitHandshake(QSslSocket &socket, const HandshakeOptions &options, CancelFlag &cancel);
