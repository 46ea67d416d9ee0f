// ImapMailbox: finding rows again by UIDVALIDITY and UID, and removing them
// by UID (a move to the target folder, or a deletion).
#include "ImapMailbox.h"

#include "CancelFlag.h"
#include "ImapCommands.h"

#include <limits>
#include <utility>

namespace {

constexpr qint64 kNumberMax = std::numeric_limits<qint32>::max();

} // namespace

quint64 ImapMailbox::sendSelect()
{
    m_selectedValidity = 0;
    return m_session.send("SELECT " + ImapCommands::mailbox(folderName()), [this](const ImapResponse &r) {
        if (r.code == "UIDVALIDITY")
            m_selectedValidity = r.codeArguments.toUInt();
    });
}

// Judges the SELECT sent as `id`: the folder is open for changes only once
// its answer came, it was accepted read-write, and its UIDVALIDITY is known.
MailResult ImapMailbox::judgeSelect(quint64 id)
{
    const ImapSession::Outcome outcome = m_session.await(id);
    if (outcome != ImapSession::Outcome::Completed)
        return ended(outcome);
    if (!m_session.completedOk())
        return m_session.refused(QStringLiteral("open the folder %1").arg(folderName()));
    if (m_session.completion().code == "READ-ONLY")
        return MailResult::failure(MailOutcome::ConnectionFailed, QStringLiteral("Error"),
                                   QStringLiteral("The server opened the folder %1 read-only, so nothing can be "
                                                  "removed from it.")
                                       .arg(folderName()));
    m_uidValidity = m_selectedValidity;
    m_selected = true;
    return MailResult::done();
}

MailResult ImapMailbox::selectForChanges()
{
    return m_selected ? MailResult::done() : judgeSelect(sendSelect());
}

MailResult ImapMailbox::locate(const QList<MessageIdentity> &rows, QList<qint32> &numbers)
{
    numbers = QList<qint32>(rows.size(), -1);
    QList<quint32> uids;
    for (const MessageIdentity &row : rows)
        if (const auto id = ImapCommands::parseIdentity(row.uid); id && id->uid <= kNumberMax)
            uids.append(id->uid);
    // SELECT, the folder listing a move needs and the searches go out
    // together; none of them acts, and the search results are used only
    // once the SELECT was accepted and its UIDVALIDITY matched.
    const quint64 select = m_selected ? 0 : sendSelect();
    askForFolders();
    // Which of them are still there: another client may have removed some.
    QSet<quint32> present;
    const qsizetype chunks = (uids.size() + kChunk - 1) / kChunk;
    const auto make = [&](qsizetype c) {
        return "UID SEARCH UID " + ImapCommands::uidSet(uids.mid(c * kChunk, kChunk));
    };
    const auto data = [&present](const ImapResponse &r) {
        if (r.keyword == "SEARCH")
            for (const ImapValue &v : r.values)
                if (v.number() > 0)
                    present.insert(quint32(v.number()));
    };
    bool refused = false;
    const auto done = [&](qsizetype) {
        refused = !m_session.completedOk();
        return !refused;
    };
    // Without searches the SELECT's data must still reach its handler.
    const ImapSession::Outcome outcome = chunks == 0
        ? ImapSession::Outcome::Completed
        : runChunks(chunks, make, data, done, MailConnection::CancelMode::Ends);
    if (!m_selected) {
        if (MailResult selected = judgeSelect(select); !selected.ok())
            return selected;
    }
    for (const MessageIdentity &row : rows) {
        const auto id = ImapCommands::parseIdentity(row.uid);
        if (id && id->uidValidity != m_uidValidity) {
            // The folder was rebuilt: its UIDs name other messages now.
            numbers.fill(0);
            return MailResult::failure(
                MailOutcome::Failed, QStringLiteral("Error"),
                QStringLiteral("The folder %1 was renumbered on the server since the messages were fetched (its "
                               "UIDVALIDITY changed), so nothing was touched.\r\nFetch the messages again.")
                    .arg(folderName()));
        }
    }
    if (outcome != ImapSession::Outcome::Completed)
        return ended(outcome);
    if (refused)
        return m_session.refused(QStringLiteral("search the folder %1").arg(folderName()));
    QSet<quint32> given;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const auto id = ImapCommands::parseIdentity(rows.at(i).uid);
        const bool found = id && present.contains(id->uid) && !given.contains(id->uid);
        numbers[i] = found ? qint32(id->uid) : 0;
        if (found)
            given.insert(id->uid);
    }
    return MailResult::done();
}

QString ImapMailbox::removalAction() const
{
    if (m_folders.removal == ImapFolders::Removal::Delete)
        return {};
    if (!m_targetName.isEmpty())
        return QStringLiteral("moved to ") + m_targetName;
    return m_folders.specialUse == "\\Trash" ? QStringLiteral("moved to Trash") : QStringLiteral("moved to Junk");
}

MailResult ImapMailbox::remove(const QList<qint32> &numbers, const RemovalSink &sink)
{
    m_note.clear();
    const bool logoutAhead = std::exchange(m_logoutAhead, false);
    if (MailResult selected = selectForChanges(); !selected.ok())
        return selected;
    if (m_folders.removal == ImapFolders::Removal::MoveToFolder) {
        if (MailResult found = findTarget(); !found.ok())
            return found;
    }
    const qsizetype chunks = (numbers.size() + kChunk - 1) / kChunk;
    const auto uidsOf = [&numbers](qsizetype c) {
        QList<quint32> uids;
        for (const qint32 n : numbers.mid(c * kChunk, kChunk))
            uids.append(quint32(n));
        return uids;
    };
    const auto tell = [&](qsizetype c, bool accepted) {
        for (qsizetype i = c * kChunk; i < qMin(numbers.size(), (c + 1) * kChunk); ++i)
            sink(i, accepted);
    };
    ImapSession::Outcome outcome = ImapSession::Outcome::Completed;
    if (m_folders.removal == ImapFolders::Removal::MoveToFolder && m_session.hasCapability("MOVE")) {
        // Moves are independent of each other: they go out ahead.
        const auto make = [&](qsizetype c) { return "UID MOVE " + ImapCommands::uidSet(uidsOf(c)) + ' ' + m_target; };
        const auto done = [&](qsizetype c) {
            const bool accepted = m_session.completedOk();
            if (!accepted && m_note.isEmpty())
                m_note = m_session.refused(QStringLiteral("move the messages to %1").arg(m_targetName)).text
                    + (m_session.completion().code == "TRYCREATE"
                           ? QStringLiteral("\r\nThe folder %1 does not exist on the server.").arg(m_targetName)
                           : QString());
            tell(c, accepted);
            return true;
        };
        // The moves act at once: when the session ends after them, LOGOUT
        // goes out behind the last instead of a round trip later.
        const auto logout = [&] {
            if (logoutAhead)
                m_logout = m_session.sendLogout();
        };
        outcome = runChunks(chunks, make, {}, done, MailConnection::CancelMode::Bounded, logout);
    } else {
        for (qsizetype c = 0; c < chunks && !m_cancel.isSet(); ++c) {
            bool accepted = false;
            if (MailResult step = removeChunk(uidsOf(c), accepted); !step.ok())
                return step;
            tell(c, accepted);
        }
    }
    MailResult result = ended(outcome);
    result.text = m_note;
    return result;
}

// Without MOVE: a copy first, and only once it is there the originals are
// marked and expunged, by UID, together.
MailResult ImapMailbox::removeChunk(const QList<quint32> &uids, bool &accepted)
{
    const QByteArray set = ImapCommands::uidSet(uids);
    const bool moving = m_folders.removal == ImapFolders::Removal::MoveToFolder;
    if (moving) {
        const ImapSession::Outcome copied = m_session.run("UID COPY " + set + ' ' + m_target, {},
                                                          MailConnection::CancelMode::Bounded);
        if (copied != ImapSession::Outcome::Completed)
            return ended(copied);
        if (!m_session.completedOk()) {
            if (m_note.isEmpty())
                m_note = m_session.refused(QStringLiteral("copy the messages to %1").arg(m_targetName)).text;
            return MailResult::done();
        }
    }
    const bool expunge = m_session.hasCapability("UIDPLUS");
    const quint64 store = m_session.send("UID STORE " + set + " +FLAGS.SILENT (\\Deleted)");
    const quint64 expunged = expunge && store ? m_session.send("UID EXPUNGE " + set) : 0;
    ImapSession::Outcome outcome = m_session.await(store, MailConnection::CancelMode::Bounded);
    accepted = outcome == ImapSession::Outcome::Completed && m_session.completedOk();
    if (expunge && outcome == ImapSession::Outcome::Completed) {
        outcome = m_session.await(expunged, MailConnection::CancelMode::Bounded);
        accepted = accepted && outcome == ImapSession::Outcome::Completed && m_session.completedOk();
    }
    if (outcome != ImapSession::Outcome::Completed)
        return ended(outcome);
    if (!expunge && accepted)
        m_note = moving ? QStringLiteral("The server cannot expunge single messages (it lacks UIDPLUS), so the "
                                         "messages copied to %1 are left in %2 marked as deleted; they disappear "
                                         "when a mail program next compacts %2.")
                              .arg(m_targetName, folderName())
                        : QStringLiteral("The server cannot expunge single messages (it lacks UIDPLUS), so the "
                                         "messages are left in %1 marked as deleted; they disappear when a mail "
                                         "program next compacts %1.")
                              .arg(folderName());
    return MailResult::done();
}
