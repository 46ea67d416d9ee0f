// ImapSession's life: its connection, the greeting, securing the channel
// (TLS from the first byte, or STARTTLS), the tagged exchange and the end.
// The logins are in ImapLogin.cpp.
#include "ImapSession.h"

#include "CancelFlag.h"
#include "ProfileRecord.h"
#include "LoginReplies.h"
#include "RunStatus.h"

namespace {

ImapLimits limitsOf(const SessionOptions &options)
{
    ImapLimits limits;
    limits.lineBytes = options.listingLimitBytes;
    limits.responseBytes = options.replyLimitBytes;
    limits.literalBytes = qMin(limits.literalBytes, options.replyLimitBytes);
    return limits;
}

} // namespace

ImapSession::ImapSession(RunStatus &status, const ProfileSettingsRecord &settings, CancelFlag &cancel,
                         SessionOptions options, QObject *parent)
    // A copy, not a move: the connection is made from the same options.
    : ImapSession(newConnection(options), status, settings, cancel, options, parent)
{
}

ImapSession::ImapSession(std::unique_ptr<MailConnection> connection, RunStatus &status,
                         const ProfileSettingsRecord &settings, CancelFlag &cancel, SessionOptions options,
                         QObject *parent)
    : LineSession(std::move(connection), status, settings, cancel, std::move(options),
                  {QStringLiteral("IMAP"), QStringLiteral("an IMAP"), QStringLiteral("143, or 993 for SSL/TLS"),
                   QStringLiteral("993")},
                  parent)
    , m_framer(limitsOf(m_options))
{
    connect(m_connection, &MailConnection::dataArrived, this, &ImapSession::frameResponses);
    connect(m_connection, &MailConnection::broken, this, [this] { m_framer.reset(); });
}

ImapSession::~ImapSession()
{
    discard();
}

void ImapSession::discard()
{
    m_framer.reset();
    m_pending.clear();
    m_done.clear();
    m_continuation.reset();
    m_connection->close();
}

void ImapSession::resetConversation()
{
    discard();
    m_connection->received().clear();
    m_capabilities.clear();
    m_capabilitiesKnown = false;
    m_trust = CertificateTrust::NotEncrypted;
    m_greeting.reset();
    m_preauth = false;
    m_bye.clear();
    m_completion = {};
}

bool ImapSession::cancelRaised() const
{
    return m_cancel.isSet();
}

bool ImapSession::hasCapability(QByteArrayView name) const
{
    for (const QByteArray &c : m_capabilities)
        if (QByteArrayView(c).compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

void ImapSession::learnCapabilities(const QByteArray &words)
{
    m_capabilities = words.toUpper().split(' ');
    m_capabilities.removeAll(QByteArray());
    m_capabilitiesKnown = true;
}

// Takes every complete response off the front of what arrived; each is
// parsed where it lies and handed on before the next is looked at.
void ImapSession::frameResponses()
{
    if (m_connection->isBroken())
        return;
    const ImapFramer::End end = m_framer.frame(m_connection->received(), [this](const ImapFramed &framed) {
        QString why;
        std::optional<ImapResponse> response = parseImapResponse(framed, m_framer.limits(), &why);
        if (!response) {
            lose(QStringLiteral("The server sent a response that is not IMAP (%1), so the connection was closed.")
                     .arg(why));
            return false;
        }
        dispatch(std::move(*response));
        return !m_connection->isBroken();
    });
    if (end == ImapFramer::End::TooLarge)
        lose(QStringLiteral("The server sent a response larger than this program accepts, so the connection was "
                            "closed."));
}

void ImapSession::lose(const QString &text)
{
    m_framer.reset();
    m_connection->breakOff(text);
}

void ImapSession::dispatch(ImapResponse response)
{
    if (response.kind == ImapResponse::Kind::Continuation) {
        if (m_pending.isEmpty())
            return lose(QStringLiteral("The server asked for more of a command it was not sent, so the connection "
                                       "was closed."));
        m_continuation = response.text;
        return;
    }
    if (response.kind == ImapResponse::Kind::Tagged)
        return completeCommand(std::move(response));
    if (response.code == "CAPABILITY")
        learnCapabilities(response.codeArguments);
    else if (response.keyword == "CAPABILITY" && !response.values.isEmpty()) {
        QByteArrayList words;
        for (const ImapValue &v : response.values)
            words << v.text;
        learnCapabilities(words.join(' '));
    }
    if (response.keyword == "BYE")
        m_bye = response.text;
    if (m_awaitingGreeting) {
        m_awaitingGreeting = false;
        m_greeting = std::move(response);
        return;
    }
    if (!m_pending.isEmpty() && m_pending.first().data)
        m_pending.first().data(response);
}

void ImapSession::completeCommand(ImapResponse response)
{
    for (qsizetype i = 0; i < m_pending.size(); ++i) {
        if (m_pending.at(i).tag != response.tag)
            continue;
        if (response.code == "CAPABILITY")
            learnCapabilities(response.codeArguments);
        m_done.insert(m_pending.at(i).id, {std::move(response), clockMs()});
        m_pending.removeAt(i);
        return;
    }
    lose(QStringLiteral("The server answered a command it was not sent, so the connection was closed."));
}

quint64 ImapSession::send(const QByteArray &command, DataHandler data)
{
    if (m_cancel.isSet()) {
        m_failureText.clear();
        return 0;
    }
    return sendAnyway(command, std::move(data));
}

quint64 ImapSession::sendAnyway(const QByteArray &command, DataHandler data)
{
    const quint64 id = m_nextId++;
    const QByteArray tag = 'a' + QByteArray::number(id);
    if (!m_connection->isOpen() || m_connection->isBroken() || !m_connection->write(tag + ' ' + command + "\r\n")) {
        const MailResult why = m_connection->failure();
        m_failureText = why.text.isEmpty() ? QStringLiteral("The connection to the server was lost.") : why.text;
        m_failureTitle = why.title.isEmpty() ? QStringLiteral("Error") : why.title;
        return 0;
    }
    m_pending.append({id, tag, std::move(data)});
    return id;
}

ImapSession::Outcome ImapSession::waitFor(const std::function<bool()> &met, MailConnection::CancelMode mode)
{
    if (met())
        return Outcome::Completed;
    Q_EMIT aboutToWait();
    switch (m_connection->wait(met, mode)) {
    case MailConnection::WaitEnd::Met:
        return Outcome::Completed;
    case MailConnection::WaitEnd::Cancelled:
        return Outcome::Cancelled;
    case MailConnection::WaitEnd::Failed:
        break;
    }
    const MailResult why = m_connection->failure();
    m_failureText = why.text;
    m_failureTitle = why.title;
    if (!m_bye.isEmpty() && !m_connection->isBroken())
        m_failureText = QStringLiteral("The server ended the session.\r\nThe server said: ") + serverWords(m_bye);
    return Outcome::Failed;
}

ImapSession::Outcome ImapSession::await(quint64 id, MailConnection::CancelMode mode)
{
    if (id == 0)
        return m_cancel.isSet() ? Outcome::Cancelled : Outcome::Failed;
    const Outcome outcome = waitFor([this, id] { return m_done.contains(id); }, mode);
    if (outcome == Outcome::Completed) {
        Done done = m_done.take(id);
        m_completion = std::move(done.response);
        m_completedAtMs = done.atMs;
    }
    return outcome;
}

ImapSession::Outcome ImapSession::awaitInTurns(quint64 id, int turnMs, MailConnection::CancelMode mode)
{
    if (id == 0)
        return await(id, mode);
    QElapsedTimer turn;
    for (;;) {
        turn.start();
        const Outcome outcome = waitFor([&] { return m_done.contains(id) || turn.elapsed() >= turnMs; }, mode);
        if (outcome != Outcome::Completed)
            return outcome;
        if (m_done.contains(id))
            return await(id, mode);
    }
}

void ImapSession::dropHandlers()
{
    for (Pending &p : m_pending)
        p.data = {};
}

ImapSession::Outcome ImapSession::run(const QByteArray &command, DataHandler data, MailConnection::CancelMode mode)
{
    return await(send(command, std::move(data)), mode);
}

QString ImapSession::serverWords(const QByteArray &text) const
{
    // The POP3 helper quotes the text after the first word.
    return replyText(QStringLiteral("* ") + QString::fromUtf8(text), m_settings.EmailPassword);
}

MailResult ImapSession::failure() const
{
    return MailResult::failure(MailOutcome::ConnectionFailed,
                               m_failureTitle.isEmpty() ? QStringLiteral("Error") : m_failureTitle, m_failureText);
}

MailResult ImapSession::refused(const QString &what) const
{
    const QString said = serverWords(m_completion.text);
    return MailResult::failure(MailOutcome::ConnectionFailed, QStringLiteral("Error"),
                               QStringLiteral("The server refused to %1.").arg(what)
                                   + (said.isEmpty() ? QString() : QStringLiteral("\r\nThe server said: ") + said),
                               said);
}

MailResult ImapSession::stepEnded(Outcome outcome) const
{
    return outcome == Outcome::Cancelled ? MailResult::cancelled() : failure();
}

MailResult ImapSession::connectServer()
{
    resetConversation();
    m_status.setStatusText(QStringLiteral("Connecting To Server..."));
    if (MailResult opened = openChannel([this] { m_awaitingGreeting = true; }); !opened.ok())
        return opened;
    if (m_security == ConnectionSecurity::Implicit)
        frameResponses(); // what arrived inside TLS while securing
    const Outcome outcome = waitFor([this] { return m_greeting.has_value(); }, MailConnection::CancelMode::Ends);
    if (outcome == Outcome::Cancelled) {
        discard();
        return MailResult::cancelled();
    }
    if (outcome == Outcome::Failed)
        return greetingFailed(m_connection->isBroken());
    return greeted();
}

MailResult ImapSession::greeted()
{
    const ImapResponse greeting = *m_greeting;
    if (greeting.keyword == "BYE" || !greeting.isStatus() || greeting.keyword == "NO" || greeting.keyword == "BAD") {
        const QString said = serverWords(greeting.text);
        return connectFailed(QStringLiteral("The server %1 refused the session.").arg(m_settings.EmailHost)
                                 + (said.isEmpty() ? QString() : QStringLiteral("\r\nThe server said: ") + said),
                             QStringLiteral("Connection Failed"), said);
    }
    m_preauth = greeting.keyword == "PREAUTH";
    if (m_security == ConnectionSecurity::StartTls)
        return startTls();
    if (!m_capabilitiesKnown) {
        if (const Outcome asked = askCapabilities(); asked != Outcome::Completed)
            return stepEnded(asked);
    }
    return MailResult::done();
}

void ImapSession::endConnect(bool cancelled)
{
    if (!cancelled)
        m_failureText.clear(); // the connect's result says it all
    discard();
}

ImapSession::Outcome ImapSession::askCapabilities(quint64 sent)
{
    m_capabilitiesKnown = false;
    const Outcome outcome = await(sent != 0 ? sent : send("CAPABILITY"));
    if (outcome == Outcome::Completed && !m_capabilitiesKnown)
        m_capabilitiesKnown = true; // a server that names none offers nothing we rely on
    return outcome;
}

MailResult ImapSession::startTls()
{
    if (m_preauth)
        return connectFailed(QStringLiteral("The server logged in without being asked, before the connection was "
                                            "secured, so STARTTLS is no longer possible and the connection was "
                                            "closed.\r\nChoose SSL/TLS (usually port 993) if the server offers it."));
    if (!m_capabilitiesKnown) {
        if (const Outcome asked = askCapabilities(); asked != Outcome::Completed) {
            discard();
            return stepEnded(asked);
        }
    }
    if (!hasCapability("STARTTLS"))
        return connectFailed(QStringLiteral("The server does not offer STARTTLS, so the connection cannot be "
                                            "secured and the user name and password were not sent.\r\n"
                                            "Choose SSL/TLS (usually port 993) if the server offers it."));
    if (const Outcome outcome = run("STARTTLS"); outcome != Outcome::Completed) {
        discard();
        return stepEnded(outcome);
    }
    if (!completedOk()) {
        const QString said = serverWords(m_completion.text);
        return connectFailed(QStringLiteral("The server refused to start TLS, so the user name and password "
                                            "were not sent.\r\nThe server said: ")
                                 + said,
                             QStringLiteral("Connection Failed"), said);
    }
    // Nothing that came in the clear may pass for a response inside TLS, and
    // what the server offered before may have been tampered with.
    m_framer.reset();
    m_capabilities.clear();
    m_capabilitiesKnown = false;
    if (MailResult secured = secureChannel(); !secured.ok())
        return secured;
    if (const Outcome asked = askCapabilities(); asked != Outcome::Completed) {
        discard();
        return stepEnded(asked);
    }
    return MailResult::done();
}

quint64 ImapSession::sendLogout()
{
    // Also after a Cancel: the server is told the session ends.
    return sendAnyway("LOGOUT", {});
}

ImapSession::Outcome ImapSession::logout(quint64 sent)
{
    const Outcome outcome = await(sent != 0 ? sent : sendLogout(), MailConnection::CancelMode::Bounded);
    closeServer();
    return outcome;
}

void ImapSession::closeServer()
{
    m_status.setStatusText(QStringLiteral("Disconnected"));
    discard();
}
