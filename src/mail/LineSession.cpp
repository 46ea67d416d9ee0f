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

MailResult LineSession::openChannel(const std::function<void()> &opening)
{
    bool ok = false;
    const int port = m_settings.EmailPort.trimmed().toInt(&ok);
    if (!ok || port < 0 || port > 65535)
        return MailResult::failure(MailOutcome::Failed, QStringLiteral("Error"),
                                   QStringLiteral("The %1 port \"%2\" is not a port number.")
                                       .arg(m_words.name, m_settings.EmailPort));
    m_security = connectionSecurity(m_settings);
    if (m_security == ConnectionSecurity::Unknown)
        return connectFailed(unknownSecurityText(m_settings.EmailSecurity));
    if (m_security != ConnectionSecurity::None && !m_connection->canSecure())
        return connectFailed(QStringLiteral("This system offers no TLS, so the connection cannot be secured and "
                                            "nothing was sent."));
    if (opening)
        opening();
    const bool implicitTls = m_security == ConnectionSecurity::Implicit;
    m_connection->open(m_settings.EmailHost, quint16(port), implicitTls);
    return implicitTls ? secureChannel() : MailResult::done();
}

MailResult LineSession::secureChannel()
{
    m_status.setStatusText(QStringLiteral("Securing Connection..."));
    const HandshakeResult result = m_connection->secure({m_settings.EmailHost, m_settings.TrustedCertificate,
                                                         m_options.certificatePrompt, m_options.certificateTrusted});
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
    if (!result.tcpConnected)
        return connectFailed(unreachableText(), m_settings.EmailHost);
    if (result.plainTextPeer && m_security == ConnectionSecurity::Implicit)
        return connectFailed(QStringLiteral("A secure connection to the server could not be made, so the password "
                                            "was not sent.\r\nThe server %1 (port %2) answers in plain text, not "
                                            "SSL/TLS.\r\nChoose STARTTLS as Connection Security for this port, or use "
                                            "the server's SSL/TLS port (usually %3).")
                                 .arg(m_settings.EmailHost, m_settings.EmailPort.trimmed(), m_words.tlsPort));
    return connectFailed(QStringLiteral("A secure connection to the server could not be made, so the password "
                                        "was not sent.\r\n")
                         + result.reason);
}

QString LineSession::unreachableText() const
{
    return ConnectErrorText(m_connection->error(), m_settings.EmailHost, m_settings.EmailPort.trimmed(),
                            m_options.inactivityLimitMs / 1000.0, m_connection->errorString(), m_words.usualPorts);
}

MailResult LineSession::connectFailed(const QString &text, const QString &title, const QString &serverWords)
{
    endConnect(false);
    m_status.setStatusText(QStringLiteral("Connect Error"));
    return MailResult::failure(MailOutcome::ConnectionFailed, title, text, serverWords);
}
