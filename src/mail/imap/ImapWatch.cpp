// ImapWatch: connecting, selecting, waiting and connecting again. What is
// done with each new message is in ImapWatchScreening.cpp.
#include "ImapWatch.h"

#include "CancelFlag.h"
#include "ImapCommands.h"
#include "RunStatus.h"

#include <QEventLoop>
#include <QTimer>

ImapWatch::ImapWatch(RunStatus &status, const ProfileSettingsRecord &settings, CancelFlag &cancel,
                     MessageClassifier classify, DeletionJournal journal, SessionOptions options, QObject *parent)
    : MailWatch(parent)
    , m_status(status)
    , m_settings(settings)
    , m_cancel(cancel)
    , m_classify(std::move(classify))
    , m_journal(std::move(journal))
    , m_options(std::move(options))
    , m_folders(imapFoldersOf(settings))
{
    if (m_folders.removal == ImapFolders::Removal::Delete) {
        // Unattended, a filter hit may be wrong: it goes where it can be undone.
        m_folders.removal = ImapFolders::Removal::MoveToFolder;
        m_folders.specialUse = "\\Trash";
        m_folders.target.clear();
    }
}

MailResult ImapWatch::run()
{
    int delay = m_delays.firstMs;
    bool everWatched = false;
    for (;;) {
        Reached reached;
        const MailResult ended = watchOnce(reached);
        if (m_cancel.isSet())
            return MailResult::cancelled();
        everWatched = everWatched || reached.selected;
        if (!everWatched)
            return ended;
        if (reached.waitedWell)
            delay = m_delays.firstMs;
        Q_EMIT trouble(ended.text.isEmpty() ? QStringLiteral("The connection to the server was lost.") : ended.text,
                       ended.reason);
        Q_EMIT reconnecting(delay);
        if (!pause(delay))
            return MailResult::cancelled();
        delay = qMin(delay * 2, m_delays.longestMs);
    }
}

// One connection: open, select, then wait and screen until it fails or
// Cancel ends it.
MailResult ImapWatch::watchOnce(Reached &reached)
{
    ImapMailbox mailbox(m_status, m_settings, m_cancel, m_options, m_folders);
    if (MailResult opened = mailbox.open(); !opened.ok()) {
        mailbox.close();
        return opened;
    }
    ImapSession &session = mailbox.session();
    MailResult result = selectFolder(session);
    if (result.ok())
        result = screenArrivals(mailbox);
    ImapIdle idle(session, m_intervals);
    reached.selected = result.ok();
    if (result.ok())
        Q_EMIT watching(m_folders.screened, session.hasCapability("IDLE"));
    while (result.ok()) {
        ImapIdle::News news;
        const ImapSession::Outcome outcome = idle.wait(news);
        if (outcome == ImapSession::Outcome::Cancelled)
            result = MailResult::cancelled();
        else if (outcome == ImapSession::Outcome::Failed)
            result = session.failure();
        else {
            reached.waitedWell = true;
            // Also without news: an EXISTS the server sent between commands
            // was not heard, and one look per interval costs little. A
            // server that told nothing may not tell a selected folder at all:
            // it is asked, and the folder opened again when mail came.
            if (!news.any())
                result = refreshWhenStale(session);
            if (result.ok())
                result = screenArrivals(mailbox);
        }
    }
    if (result.kind == MailOutcome::Cancelled || m_cancel.isSet())
        (void)session.logout();
    else
        mailbox.close();
    return result;
}

MailResult ImapWatch::selectFolder(ImapSession &session)
{
    quint32 validity = 0;
    quint32 next = 0;
    const ImapSession::Outcome outcome = session.run("SELECT " + ImapCommands::mailbox(m_folders.screened),
                                                     [&](const ImapResponse &r) {
                                                         if (r.code == "UIDVALIDITY")
                                                             validity = r.codeArguments.toUInt();
                                                         else if (r.code == "UIDNEXT")
                                                             next = r.codeArguments.toUInt();
                                                     });
    session.dropHandlers();
    if (outcome == ImapSession::Outcome::Cancelled)
        return MailResult::cancelled();
    if (outcome == ImapSession::Outcome::Failed)
        return session.failure();
    if (!session.completedOk())
        return session.refused(QStringLiteral("open the folder %1").arg(m_folders.screened));
    if (session.completion().code == "READ-ONLY")
        return MailResult::failure(MailOutcome::ConnectionFailed, QStringLiteral("Error"),
                                   QStringLiteral("The server opened the folder %1 read-only, so nothing can be "
                                                  "moved from it.")
                                       .arg(m_folders.screened));
    if (m_nextUid != 0 && validity != m_uidValidity)
        Q_EMIT trouble(QStringLiteral("The folder %1 was renumbered on the server (its UIDVALIDITY changed): "
                                      "messages that arrived while the connection was lost are not screened.")
                           .arg(m_folders.screened));
    if (m_nextUid == 0 || validity != m_uidValidity) {
        // Without UIDNEXT, the first look takes the newest message as the
        // last one there before the watch.
        m_nextUid = next;
        m_uidValidity = validity;
    }
    return MailResult::done();
}

MailResult ImapWatch::refreshWhenStale(ImapSession &session)
{
    quint32 next = 0;
    const ImapSession::Outcome outcome =
        session.run("STATUS " + ImapCommands::mailbox(m_folders.screened) + " (UIDNEXT)",
                    [&next](const ImapResponse &r) {
                        if (r.keyword != "STATUS" || r.values.size() < 2)
                            return;
                        const QList<ImapValue> &items = r.values.at(1).items;
                        for (qsizetype i = 0; i + 1 < items.size(); i += 2)
                            if (items.at(i).isAtom("UIDNEXT"))
                                next = quint32(qMax<qint64>(0, items.at(i + 1).number()));
                    });
    session.dropHandlers();
    if (outcome == ImapSession::Outcome::Cancelled)
        return MailResult::cancelled();
    if (outcome == ImapSession::Outcome::Failed)
        return session.failure();
    // A refused STATUS leaves the looks after each wait as they are.
    if (!session.completedOk() || m_nextUid == 0 || next <= m_nextUid)
        return MailResult::done();
    return selectFolder(session);
}

bool ImapWatch::pause(int ms)
{
    if (m_cancel.isSet())
        return false;
    m_status.setStatusText(QStringLiteral("Reconnecting in %1 seconds...").arg(ms / 1000.0));
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(&m_cancel, &CancelFlag::raised, &loop, &QEventLoop::quit);
    timer.start(ms);
    loop.exec();
    return !m_cancel.isSet();
}
