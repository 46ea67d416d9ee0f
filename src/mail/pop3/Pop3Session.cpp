// Pop3Session's life: its connection, the greeting, securing the channel
// (TLS from the first byte, or STLS), and the end. The exchange of commands
// and replies is in Pop3Exchange.cpp, the logins in Pop3Login.cpp and
// Pop3OAuthLogin.cpp.
#include "Pop3Session.h"

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
    : LineSession(std::move(connection), status, settings, cancel, std::move(options),
                  {QStringLiteral("POP3"), QStringLiteral("a POP3"), QStringLiteral("110, or 995 for SSL/TLS"),
                   QStringLiteral("995")},
                  parent)
    , m_framer({m_options.listingLimitBytes, m_options.replyLimitBytes})
{
    connect(m_connection, &MailConnection::dataArrived, this, &Pop3Session::frameReplies);
    connect(m_connection, &MailConnection::broken, this, &Pop3Session::connectionBroken);
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
    if (MailResult opened = openChannel(); !opened.ok())
        return opened;
    m_awaited = expectReply(kSingleReply); // the greeting (inside TLS where it was asked for)
    if (m_security == ConnectionSecurity::Implicit)
        frameReplies(); // what arrived while securing

    m_lastOutcome = wait(m_awaited, MailConnection::CancelMode::Ends);
    if (m_lastOutcome == Outcome::Cancelled)
        return MailResult::cancelled();
    if (m_lastOutcome == Outcome::Failed)
        return greetingFailed(m_outOfStep || !m_connection->received().isEmpty());
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

void Pop3Session::endConnect(bool cancelled)
{
    m_lastOutcome = cancelled ? Outcome::Cancelled : Outcome::Failed;
    if (!cancelled)
        m_failureText.clear(); // the connect's result says it all
    discard();
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
