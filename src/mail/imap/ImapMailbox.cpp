// ImapMailbox: opening, and the end. Listing and reading headers are in
// ImapMailboxFetch.cpp; finding rows again and removing them in
// ImapRemoval.cpp.
#include "ImapMailbox.h"

#include "CancelFlag.h"
#include "PipelinedCommands.h"

#include <QSet>
#include <QStringList>

#include <utility>


namespace {

// IMAP's use of the pipelining engine: each command under a tag of its own,
// the untagged data of all of them to `data`. A removal's answer is owed
// whatever happens: a Cancel only bounds its wait.
class ImapChannel final : public PipelinedCommands::Channel {
public:
    ImapChannel(ImapSession &session, ImapSession::DataHandler data, MailConnection::CancelMode mode)
        : m_session(session)
        , m_data(std::move(data))
        , m_mode(mode)
    {
    }
    quint64 sendAhead(const QByteArray &command, int) override { return m_session.send(command, m_data); }
    PipelinedCommands::Answer awaitAnswer(quint64 id, bool cancelEnds) override
    {
        const bool ends = cancelEnds && m_mode == MailConnection::CancelMode::Ends;
        switch (m_session.await(id, ends ? MailConnection::CancelMode::Ends : MailConnection::CancelMode::Bounded)) {
        case ImapSession::Outcome::Completed:
            return PipelinedCommands::Answer::Arrived;
        case ImapSession::Outcome::Cancelled:
            return PipelinedCommands::Answer::Cancelled;
        case ImapSession::Outcome::Failed:
            break;
        }
        return PipelinedCommands::Answer::Failed;
    }
    bool cancelRaised() const override { return m_session.cancelRaised(); }
    qint64 clockMs() const override { return m_session.clockMs(); }
    qint64 lastAnsweredAtMs() const override { return m_session.completedAtMs(); }

private:
    ImapSession &m_session;
    ImapSession::DataHandler m_data;
    MailConnection::CancelMode m_mode;
};

} // namespace

ImapMailbox::ImapMailbox(RunStatus &status, const ProfileSettingsRecord &settings, CancelFlag &cancel,
                         SessionOptions options, ImapFolders folders, QObject *parent)
    : MailboxSession(parent)
    , m_session(status, settings, cancel, std::move(options))
    , m_cancel(cancel)
    , m_folders(std::move(folders))
{
    connect(&m_session, &ImapSession::aboutToWait, this, &MailboxSession::aboutToWait);
}

ImapMailbox::ImapMailbox(std::unique_ptr<MailConnection> connection, RunStatus &status,
                         const ProfileSettingsRecord &settings, CancelFlag &cancel, SessionOptions options,
                         ImapFolders folders, QObject *parent)
    : MailboxSession(parent)
    , m_session(std::move(connection), status, settings, cancel, std::move(options))
    , m_cancel(cancel)
    , m_folders(std::move(folders))
{
    connect(&m_session, &ImapSession::aboutToWait, this, &MailboxSession::aboutToWait);
}

MailResult ImapMailbox::ended(ImapSession::Outcome outcome) const
{
    if (outcome == ImapSession::Outcome::Failed)
        return m_session.failure();
    return m_cancel.isSet() ? MailResult::cancelled() : MailResult::done();
}

MailResult ImapMailbox::open()
{
    m_abandoned = false;
    m_selected = false;
    m_listId = 0;
    m_logout = 0;
    m_reading = {};
    const bool listAhead = std::exchange(m_listAhead, false);
    if (MailResult connected = m_session.connectServer(); !connected.ok())
        return connected;
    // The listing goes out with the login: one round trip fewer.
    return m_session.login(listAhead ? std::function<void()>([this] { sendListing(); }) : std::function<void()>());
}

ImapSession::Outcome ImapMailbox::runChunks(qsizetype count, const MakeCommand &make,
                                            const ImapSession::DataHandler &data, const ChunkDone &done,
                                            MailConnection::CancelMode mode, const std::function<void()> &afterLast)
{
    ImapChannel channel(m_session, data, mode);
    qsizetype next = 0;
    bool lastSent = false;
    PipelinedCommands commands(channel, [&]() -> std::optional<PipelinedCommands::Command> {
        if (next < count)
            return PipelinedCommands::Command{make(next++)};
        if (afterLast && !std::exchange(lastSent, true))
            afterLast();
        return std::nullopt;
    });
    ImapSession::Outcome outcome = ImapSession::Outcome::Completed;
    for (qsizetype answered = 0; answered < count;) {
        const PipelinedCommands::Answer answer = commands.next();
        if (answer == PipelinedCommands::Answer::Failed) {
            outcome = ImapSession::Outcome::Failed;
            break;
        }
        if (answer == PipelinedCommands::Answer::Cancelled) {
            if (commands.owed() == 0) // what was not sent never will be
                break;
            // Answers owed to reads protect nothing: the session closes at
            // once, so that a deadline is the deadline. Those owed to
            // removals are read, within the cancel grace.
            if (mode == MailConnection::CancelMode::Ends) {
                m_abandoned = true;
                break;
            }
            continue;
        }
        if (!done(answered++))
            commands.stop();
        if (commands.stopped() && commands.owed() == 0)
            break;
    }
    m_session.dropHandlers();
    if (outcome == ImapSession::Outcome::Completed && m_cancel.isSet())
        outcome = ImapSession::Outcome::Cancelled;
    return outcome;
}

QString ImapMailbox::unreadNote(const QList<quint32> &uids) const
{
    constexpr qsizetype kNamed = 10;
    QStringList named;
    for (qsizetype i = 0; i < qMin(uids.size(), kNamed); ++i)
        named << QString::number(uids.at(i));
    if (uids.size() > kNamed)
        named << QStringLiteral("…");
    return (uids.size() == 1 ? QStringLiteral("1 message could not be read (UID %1); it stays in the Inbox, unscreened")
                             : QStringLiteral("%1 messages could not be read (UIDs %2); they stay in the Inbox, "
                                              "unscreened")
                                   .arg(uids.size()))
        .arg(named.join(QStringLiteral(", ")));
}

MailResult ImapMailbox::commit()
{
    // Every removal acted already; logging out only ends the session well,
    // and a session a Cancel left with answers owed just closes.
    m_logoutAhead = false;
    m_logoutAfterReading = false;
    if (m_abandoned)
        m_session.closeServer();
    else
        (void)m_session.logout(std::exchange(m_logout, 0));
    return MailResult::done();
}

void ImapMailbox::close()
{
    m_session.closeServer();
}
