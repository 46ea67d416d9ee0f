// Pop3Session's life: its connection, the greeting, securing the channel
// (TLS from the first byte, or STLS), and the end. The exchange of commands
// and replies is in Pop3Exchange.cpp, the logins in Pop3Login.cpp and
// Pop3OAuthLogin.cpp.
#include "Pop3Session.h"

#include "ConnectErrorText.h"
#include "ProfileRecord.h"
#include "CancelFlag.h"
#include "LoginReplies.h"
#include "RunStatus.h"

Pop3Session::Pop3Session(RunStatus &status, const ProfileSettingsRecord &settings, CancelFlag &cancel,
                         SessionOptions options, QObject *parent)
    // A copy, not a move: the connection is made from the same options.
    : Pop3Session(newConnection(options), status, settings, cancel, options, parent)
{
}

Pop3Session::Pop3Session(std::unique_ptr<MailConnection> connection, RunStatus &status,
                         const ProfileSettingsRecord &settings, CancelFlag &cancel, SessionOptions options,
                         QObject *parent)
    : QObject(parent)
    , m_status(status)
    , m_settings(settings)
    , m_cancel(cancel)
    , m_options(std::move(options))
    , m_connection(connection.release())
    , m_framer({m_options.listingLimitBytes, m_options.replyLimitBytes})
{
    m_connection->setParent(this);
    m_connection->watch(cancel, {m_options.inactivityLimitMs, m_options.cancelGraceMs, m_options.cancelGraceBytes});
    connect(m_connection, &MailConnection::dataArrived, this, &Pop3Session::frameReplies);
    connect(m_connection, &MailConnection::broken, this, &Pop3Session::connectionBroken);
    m_clock.start();
}

Pop3Session::~Pop3Session()
{
    discard();
}

void Pop3Session::discard()
{
    m_framer.clear();
    m_ahead.clear();
    m_connection->close();
}

void Pop3Session::resetConversation()
{
    discard();
    m_connection->received().clear();
    m_capabilities.clear();
    m_capabilitiesKnown = false;
    m_trust = CertificateTrust::NotEncrypted;
    m_outOfStep = false;
    m_reply.clear();
}

MailResult Pop3Session::ConnectServer()
{
    resetConversation();
    m_status.setStatusText(QStringLiteral("Connecting To Server..."));

    bool ok = false;
    const int port = m_settings.EmailPort.trimmed().toInt(&ok);
    if (!ok || port < 0 || port > 65535)
        return MailResult::failure(MailOutcome::Failed, QStringLiteral("Error"),
                                   QStringLiteral("The POP3 port \"%1\" is not a port number.")
                                       .arg(m_settings.EmailPort));

    m_security = connectionSecurity(m_settings);
    if (m_security == ConnectionSecurity::Unknown)
        return connectFailed(unknownSecurityText(m_settings.EmailSecurity), QStringLiteral("Connection Failed"));
    if (m_security != ConnectionSecurity::None && !m_connection->canSecure())
        return connectFailed(QStringLiteral("This system offers no TLS, so the connection cannot be secured and "
                                            "nothing was sent."),
                             QStringLiteral("Connection Failed"));

    const bool implicitTls = m_security == ConnectionSecurity::Implicit;
    m_connection->open(m_settings.EmailHost, quint16(port), implicitTls);
    if (implicitTls) {
        if (MailResult secured = secureChannel(); !secured.ok())
            return secured;
        m_awaited = expectReply(kSingleReply); // the greeting, inside TLS
        frameReplies();
    } else {
        m_awaited = expectReply(kSingleReply); // the greeting
    }

    m_lastOutcome = wait(m_awaited, MailConnection::CancelMode::Ends);
    if (m_lastOutcome == Outcome::Cancelled)
        return MailResult::cancelled();
    if (m_lastOutcome == Outcome::Failed)
        return greetingFailed();
    return greeted();
}

MailResult Pop3Session::greeted()
{
    if (serverReply().startsWith(QLatin1String("-ERR"), Qt::CaseInsensitive)) {
        // A server refusing service says why; nothing of ours is sent.
        const QString said = replyText(serverReply(), m_settings.EmailPassword);
        return connectFailed(QStringLiteral("The server %1 refused the session.").arg(m_settings.EmailHost)
                                 + (said.isEmpty() ? QString() : QStringLiteral("\r\nThe server said: ") + said),
                             QStringLiteral("Connection Failed"), said);
    }
    if (m_security == ConnectionSecurity::StartTls)
        return startTls();
    return MailResult::done();
}

// The server was never reached: the text says why, from the connection's error.
QString Pop3Session::unreachableText() const
{
    return ConnectErrorText(m_connection->error(), m_settings.EmailHost, m_settings.EmailPort.trimmed(),
                            m_options.inactivityLimitMs / 1000.0, m_connection->errorString());
}

MailResult Pop3Session::greetingFailed()
{
    if (!m_connection->wasReached() && !isEncrypted())
        return connectFailed(unreachableText(), m_settings.EmailHost);
    // Reached, but what answered is no POP3 server (or nothing answered):
    // the network is fine, the settings are not.
    const QString where = QStringLiteral("%1 (port %2)").arg(m_settings.EmailHost, m_settings.EmailPort.trimmed());
    QString text;
    if (m_outOfStep || !m_connection->received().isEmpty())
        text = QStringLiteral("The server %1 did not answer as a POP3 server.").arg(where);
    else if (m_connection->isOpen()) {
        text = QStringLiteral("The server %1 accepted the connection but sent no POP3 greeting in %2 seconds.")
                   .arg(where)
                   .arg(m_options.inactivityLimitMs / 1000.0);
        // A server that waits in silence is most often one that expects TLS
        // from the first byte.
        if (m_security != ConnectionSecurity::Implicit)
            text += QStringLiteral("\r\nIf this port expects TLS from the start (usually port 995), choose SSL/TLS "
                                   "as Connection Security.");
    } else {
        text = QStringLiteral("The server %1 closed the connection without a POP3 greeting.").arg(where);
    }
    return connectFailed(text
                             + QStringLiteral("\r\nCheck the server name, the port and the connection security "
                                              "in the settings."),
                         QStringLiteral("Connection Failed"));
}

MailResult Pop3Session::connectFailed(const QString &text, const QString &title, const QString &serverWords)
{
    m_lastOutcome = Outcome::Failed;
    m_failureText.clear(); // this result says it all
    m_status.setStatusText(QStringLiteral("Connect Error"));
    discard();
    return MailResult::failure(MailOutcome::ConnectionFailed, title, text, serverWords);
}

MailResult Pop3Session::stepEnded() const
{
    return m_lastOutcome == Outcome::Cancelled ? MailResult::cancelled() : failure();
}

MailResult Pop3Session::commandStopped()
{
    // A command of the upgrade failed: failure() says why.
    discard();
    return stepEnded();
}

MailResult Pop3Session::secureChannel()
{
    m_status.setStatusText(QStringLiteral("Securing Connection..."));
    const HandshakeResult result = m_connection->secure({m_settings.EmailHost, m_settings.TrustedCertificate,
                                                         m_options.certificatePrompt, m_options.certificateTrusted});
    switch (result.kind) {
    case HandshakeResult::Kind::Secured:
        m_trust = result.trust;
        return MailResult::done();
    case HandshakeResult::Kind::Cancelled:
        m_lastOutcome = Outcome::Cancelled;
        discard();
        return MailResult::cancelled();
    case HandshakeResult::Kind::Untrusted:
        return connectFailed(QStringLiteral("The server's certificate is not trusted, so the connection was closed "
                                            "before the password was sent.\r\n")
                                 + result.reason,
                             QStringLiteral("Connection Failed"));
    case HandshakeResult::Kind::Failed:
        break;
    }
    return handshakeFailed(result);
}

MailResult Pop3Session::handshakeFailed(const HandshakeResult &result)
{
    if (!result.tcpConnected)
        return connectFailed(unreachableText(), m_settings.EmailHost);
    if (result.plainTextPeer && m_security == ConnectionSecurity::Implicit)
        return connectFailed(QStringLiteral("A secure connection to the server could not be made, so the password "
                                            "was not sent.\r\nThe server %1 (port %2) answers in plain text, not "
                                            "SSL/TLS.\r\nChoose STARTTLS as Connection Security for this port, or use "
                                            "the server's SSL/TLS port (usually 995).")
                                 .arg(m_settings.EmailHost, m_settings.EmailPort.trimmed()),
                             QStringLiteral("Connection Failed"));
    return connectFailed(QStringLiteral("A secure connection to the server could not be made, so the password "
                                        "was not sent.\r\n")
                             + result.reason,
                         QStringLiteral("Connection Failed"));
}

MailResult Pop3Session::startTls()
{
    if (QueryCapabilities() != Outcome::Reply)
        return commandStopped();
    if (!hasCapability(QStringLiteral("STLS")))
        return connectFailed(QStringLiteral("The server does not offer STARTTLS, so the connection cannot be "
                                            "secured and the user name and password were not sent.\r\n"
                                            "Choose SSL/TLS (usually port 995) if the server offers it."),
                             QStringLiteral("Connection Failed"));
    if (sendAndWait(QStringLiteral("STLS"), kSingleReply, MailConnection::CancelMode::Ends) != Outcome::Reply)
        return commandStopped();
    if (!serverReply().startsWith(QLatin1String("+OK"))) {
        const QString said = replyText(serverReply(), m_settings.EmailPassword);
        return connectFailed(QStringLiteral("The server refused to start TLS, so the user name and password "
                                            "were not sent.\r\nThe server said: ")
                                 + said,
                             QStringLiteral("Connection Failed"), said);
    }
    // Nothing that came in the clear may pass for a reply inside TLS: the
    // connection drops those bytes, the framer what it expected of them.
    m_framer.clear();
    if (MailResult secured = secureChannel(); !secured.ok())
        return secured;
    // What the server offered before TLS may have been tampered with.
    if (QueryCapabilities() != Outcome::Reply)
        return commandStopped();
    m_capabilitiesKnown = true;
    return MailResult::done();
}

void Pop3Session::CloseServer()
{
    m_status.setStatusText(QStringLiteral("Disconnected"));
    discard();
}

bool Pop3Session::isEncrypted() const
{
    return m_connection->isEncrypted();
}

QString Pop3Session::protocolName() const
{
    return m_connection->protocolName();
}

MailResult Pop3Session::failure(const QString &extraLine) const
{
    QString text = m_failureText;
    if (!text.isEmpty() && !extraLine.isEmpty())
        text += QStringLiteral("\r\n") + extraLine;
    return MailResult::failure(MailOutcome::ConnectionFailed, m_failureTitle, text);
}

void Pop3Session::setFailure(const QString &text, const QString &title)
{
    m_failureText = text;
    m_failureTitle = title;
}
