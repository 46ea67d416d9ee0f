#pragma once

#include "MailConnection.h"
#include "MailResult.h"
#include "SaslOAuth.h"
#include "SecureChannel.h"
#include "SessionOptions.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class CancelFlag;
class RunStatus;
struct ProfileSettingsRecord;

// What a session of a line protocol over one MailConnection shares with
// the others: the connection, watched by the run's Cancel and deadlines and
// owned by the session; the profile; the clock; and the way in: the port
// and the security checked, the connection opened and, where the profile
// asks, secured, with the same failure texts for every protocol. A protocol
// adds its own commands and replies.
class LineSession : public QObject {
    Q_OBJECT
public:
    // The session's clock (SessionOptions::clockMs, else its own).
    qint64 clockMs() const { return m_options.clockMs ? m_options.clockMs() : m_clock.elapsed(); }
    bool isEncrypted() const { return m_connection->isEncrypted(); }
    // "TLS 1.3" and the like while encrypted; empty otherwise.
    QString protocolName() const { return m_connection->protocolName(); }
    CertificateTrust certificateTrust() const { return m_trust; }
    const ProfileSettingsRecord &settings() const { return m_settings; }

protected:
    // How the protocol's texts name it.
    struct Words {
        QString name; // "POP3"
        QString aName; // "a POP3"
        QString usualPorts; // "110, or 995 for SSL/TLS"
        QString tlsPort; // "995"
    };
    // The server a session goes to and how its connection is secured.
    struct Target {
        QString host;
        QString port; // as the user wrote it
        ConnectionSecurity security = ConnectionSecurity::None;
    };
    LineSession(std::unique_ptr<MailConnection> connection, RunStatus &status, const ProfileSettingsRecord &settings,
                CancelFlag &cancel, SessionOptions options, Words words, QObject *parent);

    // The profile's server, unless the protocol has one of its own.
    virtual Target target() const;
    // For a protocol whose progress is not shown: its status texts go nowhere.
    static RunStatus &noStatus();

    // Checks the target's port and security, runs `opening` and opens the
    // connection; with TLS from the first byte, secures it too. Done, or
    // how it failed (the conversation then dropped).
    MailResult openChannel(const std::function<void()> &opening = {});
    // The TLS handshake, on a connection that is open.
    MailResult secureChannel();
    // Why a handshake failed, as the user reads it.
    virtual MailResult handshakeFailed(const HandshakeResult &result);
    // The server was never reached: the text says why, from the
    // connection's error.
    QString unreachableText() const;
    // No greeting came, or not one of this protocol (`garbled`): the server
    // was not reached, or what answered is not this protocol's server.
    MailResult greetingFailed(bool garbled);
    // The way in failed: the conversation dropped, "Connect Error" told.
    MailResult connectFailed(const QString &text, const QString &title = QStringLiteral("Connection Failed"),
                             const QString &serverWords = {});
    // Drops the conversation once its way in ended, by a Cancel or a failure.
    virtual void endConnect(bool cancelled) = 0;

    // How one try of an OAuth2 token ended: signed in; refused in a way a
    // fresh token may mend; or over, `result` saying how.
    struct TokenTry {
        enum class End { SignedIn, Refused, Over };
        End end = End::Over;
        MailResult result;
    };
    // The OAuth2 sign-in's course, alike for every protocol: a token asked
    // for and tried, renewed once when refused. `unavailable` words what
    // stops it before the server is asked (no mechanism, no token), `refused`
    // the server's last refusal of `token`.
    struct TokenSignIn {
        OAuthMechanism mechanism = OAuthMechanism::None;
        std::function<TokenTry(const QString &token)> attempt;
        std::function<MailResult(const QString &text)> unavailable;
        std::function<MailResult(const QString &token)> refused;
    };
    MailResult signInWithToken(const TokenSignIn &signIn);
    // The client response that carries `token` by `mechanism`.
    QByteArray oauthResponse(OAuthMechanism mechanism, const QString &token) const;
    // "The server refused the OAuth2 sign-in of ..." with the server's words.
    QString tokenRefusedText(const QString &said) const;

    RunStatus &m_status;
    const ProfileSettingsRecord &m_settings;
    CancelFlag &m_cancel;
    SessionOptions m_options;
    MailConnection *m_connection; // a child of this session
    ConnectionSecurity m_security = ConnectionSecurity::None;
    CertificateTrust m_trust = CertificateTrust::NotEncrypted;
    QElapsedTimer m_clock;

private:
    Words m_words;
};
