// ImapMailbox: opening, and the end. Listing and reading headers are in
// ImapMailboxFetch.cpp; finding rows again and removing them in
// ImapRemoval.cpp.
#include "ImapMailbox.h"

#include "CancelFlag.h"

#include <QSet>
#include <QStringList>

#include <utility>


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
    QList<std::pair<qsizetype, quint64>> out; // chunks sent and not yet completed
    qsizetype next = 0;
    bool stop = false;
    ImapSession::Outcome outcome = ImapSession::Outcome::Completed;
    for (;;) {
        while (!stop && next < count && out.size() < kWindow) {
            const quint64 id = m_session.send(make(next), data);
            if (id == 0) {
                stop = true;
                if (!m_cancel.isSet())
                    outcome = ImapSession::Outcome::Failed;
                break;
            }
            out.append({next++, id});
            if (next == count && afterLast)
                afterLast();
        }
        if (out.isEmpty())
            break;
        // After a stop the answers still owed are read within the cancel
        // grace, so that the next command's answer is told apart.
        const ImapSession::Outcome awaited = m_session.await(out.first().second,
                                                             stop ? MailConnection::CancelMode::Bounded : mode);
        if (awaited == ImapSession::Outcome::Failed) {
            outcome = awaited;
            break;
        }
        if (awaited == ImapSession::Outcome::Cancelled) {
            // Answers owed to reads protect nothing: the session closes at
            // once, so that a deadline is the deadline. Those owed to
            // removals are read, within the cancel grace.
            if (mode == MailConnection::CancelMode::Ends) {
                m_abandoned = true;
                break;
            }
            stop = true;
            continue;
        }
        if (!done(out.takeFirst().first))
            stop = true;
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
