#include "LineSession.h"

#include "CancelFlag.h"
#include "ConnectErrorText.h"
#include "LoginReplies.h"
#include "ProfileRecord.h"
#include "RunStatus.h"

LineSession::LineSession(std::unique_ptr<MailConnection> connection, RunStatus &status,
                         const ProfileSettingsRecord &settings, CancelFlag &cancel, SessionOptions options, Words words,
                         QObject *parent)
    : QObject(parent)
    , m_status(status)
    , m_settings(settings)
    , m_cancel(cancel)
    , m_options(std::move(options))
    , m_connection(connection.release())
    , m_words(std::move(words))
{
    m_clock.start();
    m_connection->setParent(this);
    m_connection->watch(cancel, {m_options.inactivityLimitMs, m_options.cancelGraceMs, m_options.cancelGraceBytes});
}

LineSession::Target LineSession::target() const
{
    return {m_settings.EmailHost, m_settings.EmailPort, connectionSecurity(m_settings)};
}

RunStatus &LineSession::noStatus()
{
    // Stateless, so one serves every session.
    class Silent final : public RunStatus {
    public:
        void setStatusText(const QString &) override { }
        void setProgressMaximum(int) override { }
        void setProgressValue(int) override { }
        void setNodeText(const QString &, const QString &) override { }
    };
    static Silent silent;
    return silent;
}

MailResult LineSession::openChannel(const std::function<void()> &opening)
{
    const Target to = target();
    bool ok = false;
    const int port = to.port.trimmed().toInt(&ok);
    if (!ok || port < 0 || port > 65535)
        return MailResult::failure(MailOutcome::Failed, QStringLiteral("Error"),
                                   QStringLiteral("The %1 port \"%2\" is not a port number.")
                                       .arg(m_words.name, to.port));
    m_security = to.security;
    if (m_security == ConnectionSecurity::Unknown)
        return connectFailed(unknownSecurityText(m_settings.EmailSecurity));
    if (m_security != ConnectionSecurity::None && !m_connection->canSecure())
        return connectFailed(QStringLiteral("This system offers no TLS, so the connection cannot be secured and "
                                            "nothing was sent."));
    if (opening)
        opening();
    const bool implicitTls = m_security == ConnectionSecurity::Implicit;
    m_connection->open(to.host, quint16(port), implicitTls);
    return implicitTls ? secureChannel() : MailResult::done();
}

MailResult LineSession::secureChannel()
{
    m_status.setStatusText(QStringLiteral("Securing Connection..."));
    const HandshakeResult result = m_connection->secure(
        {target().host, m_settings.TrustedCertificate, m_options.certificatePrompt, m_options.certificateTrusted});
    switch (result.kind) {
    case HandshakeResult::Kind::Secured:
        m_trust = result.trust;
        return MailResult::done();
    case HandshakeResult::Kind::Cancelled:
        endConnect(true);
        return MailResult::cancelled();
    case HandshakeResult::Kind::Untrusted:
        return connectFailed(untrustedCertificateText(result.reason));
    case HandshakeResult::Kind::Failed:
        break;
    }
    return handshakeFailed(result);
}

MailResult LineSession::handshakeFailed(const HandshakeResult &result)
{
    const Target to = target();
    if (!result.tcpConnected)
        return connectFailed(unreachableText(), to.host);
    if (result.plainTextPeer && m_security == ConnectionSecurity::Implicit)
        return connectFailed(QStringLiteral("A secure connection to the server could not be made, so the password "
                                            "was not sent.\r\nThe server %1 (port %2) answers in plain text, not "
                                            "SSL/TLS.\r\nChoose STARTTLS as Connection Security for this port, or use "
                                            "the server's SSL/TLS port (usually %3).")
                                 .arg(to.host, to.port.trimmed(), m_words.tlsPort));
    return connectFailed(QStringLiteral("A secure connection to the server could not be made, so the password "
                                        "was not sent.\r\n")
                         + result.reason);
}

QString LineSession::unreachableText() const
{
    const Target to = target();
    return ConnectErrorText(m_connection->error(), to.host, to.port.trimmed(), m_options.inactivityLimitMs / 1000.0,
                            m_connection->errorString(), m_words.usualPorts);
}

MailResult LineSession::greetingFailed(bool garbled)
{
    const Target to = target();
    if (!m_connection->wasReached() && !isEncrypted())
        return connectFailed(unreachableText(), to.host);
    // Reached, but what answered is no such server (or nothing answered):
    // the network is fine, the settings are not.
    const QString where = QStringLiteral("%1 (port %2)").arg(to.host, to.port.trimmed());
    QString text;
    if (garbled)
        text = QStringLiteral("The server %1 did not answer as %2 server.").arg(where, m_words.aName);
    else if (m_connection->isOpen()) {
        text = QStringLiteral("The server %1 accepted the connection but sent no %2 greeting in %3 seconds.")
                   .arg(where, m_words.name)
                   .arg(m_options.inactivityLimitMs / 1000.0);
        // A server that waits in silence is most often one that expects TLS
        // from the first byte.
        if (m_security != ConnectionSecurity::Implicit)
            text += QStringLiteral("\r\nIf this port expects TLS from the start (usually port %1), choose SSL/TLS "
                                   "as Connection Security.")
                        .arg(m_words.tlsPort);
    } else {
        text = QStringLiteral("The server %1 closed the connection without %2 greeting.").arg(where, m_words.aName);
    }
    return connectFailed(text
                         + QStringLiteral("\r\nCheck the server name, the port and the connection security in the "
                                          "settings."));
}

MailResult LineSession::connectFailed(const QString &text, const QString &title, const QString &serverWords)
{
    endConnect(false);
    m_status.setStatusText(QStringLiteral("Connect Error"));
    return MailResult::failure(MailOutcome::ConnectionFailed, title, text, serverWords);
}

MailResult LineSession::signInWithToken(const TokenSignIn &signIn)
{
    if (signIn.mechanism == OAuthMechanism::None)
        return signIn.unavailable(QStringLiteral("The server does not offer OAuth2 sign-in (SASL XOAUTH2 or "
                                                 "OAUTHBEARER), so the login was not tried.\r\nChoose the sign-in "
                                                 "method Password for this server."));
    if (!m_options.accessToken)
        return signIn.unavailable(
            QStringLiteral("This profile signs in with OAuth2, but no sign-in is available here."));
    AccessToken token = m_options.accessToken(false);
    for (int attempt = 0;; ++attempt) {
        if (token.state != AccessToken::State::Ready)
            return signIn.unavailable(token.error).advising(token.reason);
        const TokenTry tried = signIn.attempt(token.token);
        if (tried.end == TokenTry::End::SignedIn)
            return MailResult::done();
        if (tried.end == TokenTry::End::Over)
            return tried.result;
        if (attempt > 0)
            return signIn.refused(token.token);
        // The token may have expired or been withdrawn since it was issued:
        // one fresh token, one more try, never more.
        m_status.setStatusText(QStringLiteral("Renewing Sign-In..."));
        token = m_options.accessToken(true);
        m_status.setStatusText(QStringLiteral("Verify ID/Password"));
    }
}

QByteArray LineSession::oauthResponse(OAuthMechanism mechanism, const QString &token) const
{
    const Target to = target();
    if (mechanism == OAuthMechanism::XOAuth2)
        return xoauth2Response(m_settings.EmailUserid, token);
    bool ok = false;
    const int port = to.port.trimmed().toInt(&ok);
    return oauthBearerResponse(m_settings.EmailUserid, to.host, ok ? port : 0, token);
}

QString LineSession::tokenRefusedText(const QString &said) const
{
    return QStringLiteral("The server refused the OAuth2 sign-in of %1.").arg(m_settings.EmailUserid)
        + (said.isEmpty() ? QString() : QStringLiteral("\r\nThe server said: ") + said)
        + QStringLiteral("\r\nCheck that the user name is the account that signed in, or sign in again in the "
                         "settings.");
}
