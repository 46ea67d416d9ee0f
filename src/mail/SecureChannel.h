#pragma once

#include <QList>
#include <QSsl>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <functional>

struct ProfileSettingsRecord;

// How a profile's connection is secured.
enum class ConnectionSecurity {
    None, // plain POP3
    StartTls, // plain POP3 upgraded with STLS before logging in
    Implicit, // TLS from the first byte
    Unknown, // a value we do not understand: nothing is sent
};

// Reads EmailSecurity ("None", "STARTTLS", "SSL/TLS", case ignored); an empty
// value means TLS on port 995 and plain POP3 elsewhere.
ConnectionSecurity connectionSecurity(const ProfileSettingsRecord &settings);
// Why a profile whose security is Unknown is refused before connecting.
QString unknownSecurityText(const QString &value);
// Why the connection was closed after the handshake, when the certificate
// was not trusted (`reason` says what was wrong with it).
QString untrustedCertificateText(const QString &reason);

// The user's answer when a certificate failed verification.
enum class CertificateDecision { Refuse, TrustAlways };
using CertificatePrompt = std::function<CertificateDecision(const QString &host, const QList<QSslCertificate> &chain,
                                                            const QList<QSslError> &errors)>;
// Told the fingerprint of a certificate the user has just chosen to trust.
using CertificateTrusted = std::function<void(const QString &fingerprint)>;

// Why the channel's certificate was accepted.
enum class CertificateTrust {
    NotEncrypted,
    Verified, // by the system's trust store and the host name
    Pinned, // its fingerprint is the profile's TrustedCertificate
    TrustedNow, // the user trusted it when asked
};

// "TLS 1.3", "TLS 1.2", ...
QString tlsProtocolName(QSsl::SslProtocol protocol);

// How securing a connection ended.
struct HandshakeResult {
    enum class Kind { Secured, Cancelled, Failed, Untrusted };
    Kind kind = Kind::Failed;
    bool tcpConnected = false; // false: the server was never reached
    CertificateTrust trust = CertificateTrust::NotEncrypted;
    QString reason; // why it failed, for the user
    bool plainTextPeer = false; // what answered the handshake was no TLS at all
    QString newFingerprint; // set when the user trusted a certificate now
};
