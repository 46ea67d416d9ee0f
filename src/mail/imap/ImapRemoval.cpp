// ImapMailbox: finding rows again by UIDVALIDITY and UID, and removing them
// by UID (a move to the target folder, or a deletion), counting what the
// server's answers say it did.
#include "ImapMailbox.h"

#include "CancelFlag.h"

#include <QSet>

#include <algorithm>
#include <utility>

MessageKey ImapMailbox::keyOf(quint32 uidValidity, quint32 uid) const
{
    return makeKey((quint64(uidValidity) << 32) | uid);
}

// A row's UIDVALIDITY and UID: from this session's key, else from its id.
std::optional<ImapCommands::Identity> ImapMailbox::identityOf(const MessageIdentity &row) const
{
    if (const std::optional<quint64> value = keyValue(row.key))
        return ImapCommands::Identity{quint32(*value >> 32), quint32(*value & 0xffffffffU)};
    return ImapCommands::parseIdentity(row.uid);
}

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
// That UIDVALIDITY is kept apart from the listing's: each key is checked
// against it, so a folder rebuilt between the two is never touched.
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
    if (m_selectedValidity == 0)
        return MailResult::failure(MailOutcome::ConnectionFailed, QStringLiteral("Error"),
                                   QStringLiteral("The server did not name the UIDVALIDITY of the folder %1, so its "
                                                  "messages cannot be confirmed and nothing was touched.")
                                       .arg(folderName()));
    m_selected = true;
    return MailResult::done();
}

MailResult ImapMailbox::selectForChanges()
{
    return m_selected ? MailResult::done() : judgeSelect(sendSelect());
}

MailResult ImapMailbox::locate(const QList<MessageIdentity> &rows, QList<LocatedMessage> &found)
{
    found = QList<LocatedMessage>(rows.size());
    QList<std::optional<ImapCommands::Identity>> ids;
    QList<quint32> uids;
    ids.reserve(rows.size());
    for (const MessageIdentity &row : rows) {
        ids.append(identityOf(row));
        if (ids.constLast())
            uids.append(ids.constLast()->uid);
    }
    // SELECT, the folder listing a move needs and the searches go out
    // together; none of them acts, and the search results are used only
    // once the SELECT was accepted with the rows' UIDVALIDITY. A message
    // marked \Deleted meanwhile is another program's to remove.
    const quint64 select = m_selected ? 0 : sendSelect();
    askForFolders();
    QSet<quint32> present;
    // One search: of the rows' UIDs where they fit a short line, else of the
    // whole folder (every server takes that), its answer sifted here.
    const QByteArray set = ImapCommands::uidSet(uids);
    const qsizetype chunks = uids.isEmpty() ? 0 : 1;
    const auto make = [&](qsizetype) {
        return set.size() <= ImapCommands::kUidSetBytes ? "UID SEARCH UID " + set + " UNDELETED"
                                                        : QByteArray("UID SEARCH UNDELETED");
    };
    const auto data = [&present](const ImapResponse &r) {
        if (r.keyword == "SEARCH")
            for (const ImapValue &v : r.values)
                if (v.number() > 0 && v.number() <= 0xffffffffLL)
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
    // A connection the searches lost has no answer to the SELECT either.
    if (outcome == ImapSession::Outcome::Failed)
        return ended(outcome);
    if (!m_selected) {
        if (MailResult selected = judgeSelect(select); !selected.ok())
            return selected;
    }
    for (const auto &id : std::as_const(ids)) {
        if (id && id->uidValidity != m_selectedValidity) {
            // The folder was rebuilt: its UIDs name other messages now.
            for (LocatedMessage &row : found)
                row.state = LocatedMessage::State::Changed;
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
    // The folder a move goes to is known before anything moves, so that the
    // records say where, and a missing one stops the removal before it starts.
    if (m_folders.removal == ImapFolders::Removal::MoveToFolder) {
        if (MailResult target = findTarget(); !target.ok())
            return target;
    }
    QSet<quint32> given;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const auto &id = ids.at(i);
        const bool there = id && present.contains(id->uid) && !given.contains(id->uid);
        found[i].state = there ? LocatedMessage::State::Found : LocatedMessage::State::Changed;
        if (there) {
            found[i].key = keyOf(id->uidValidity, id->uid);
            given.insert(id->uid);
        }
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

MailResult ImapMailbox::remove(const QList<MessageKey> &keys, const RemovalSink &sink)
{
    m_note.clear();
    const bool logoutAhead = std::exchange(m_logoutAhead, false);
    if (MailResult selected = selectForChanges(); !selected.ok())
        return selected;
    const bool moving = m_folders.removal == ImapFolders::Removal::MoveToFolder;
    if (moving) {
        if (MailResult found = findTarget(); !found.ok())
            return found;
    }
    // Only keys of this session, for the folder as it is selected now.
    QList<quint32> uids;
    QList<qsizetype> indexOf; // of each UID in `keys`
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const std::optional<quint64> value = keyValue(keys.at(i));
        if (value && quint32(*value >> 32) == m_selectedValidity && quint32(*value) != 0) {
            uids.append(quint32(*value));
            indexOf.append(i);
        } else {
            sink(i, RemovalAnswer::Gone);
        }
    }
    // As few commands as a command line's length allows.
    const QList<ImapCommands::UidSetPart> chunks = ImapCommands::uidSets(uids, ImapCommands::kUidSetBytes);
    const bool flagsOnly = !m_session.hasCapability("UIDPLUS") && !(moving && m_session.hasCapability("MOVE"));
    ImapRemovalTally tally(uids, flagsOnly);
    MailResult result;
    if (moving && m_session.hasCapability("MOVE")) {
        QList<quint32> refusedLong;
        result = moveAll(ImapCommands::uidSets(uids, ImapCommands::kLongUidSetBytes), tally, logoutAhead, &refusedLong);
        if (result.ok() && !refusedLong.isEmpty() && !m_cancel.isSet())
            result = moveAll(ImapCommands::uidSets(refusedLong, ImapCommands::kUidSetBytes), tally, logoutAhead);
    } else {
        for (const ImapCommands::UidSetPart &chunk : std::as_const(chunks)) {
            if (m_cancel.isSet() || !(result = removeChunk(chunk, tally)).ok())
                break;
        }
        if (result.ok() && !m_cancel.isSet() && !uids.isEmpty())
            result = verify(uids, tally, flagsOnly, logoutAhead);
    }
    // Each answer the server gave is told, also when the session failed
    // later: those removals acted.
    for (qsizetype k = 0; k < uids.size(); ++k)
        if (const std::optional<RemovalAnswer> answer = tally.answer(uids.at(k)))
            sink(indexOf.at(k), *answer);
    if (result.ok())
        result.text = m_note;
    return result;
}

// Every chunk's UID MOVE ahead of the answers. A server with UIDPLUS names
// in each answer what it took (COPYUID), and LOGOUT goes out behind the last
// when the session ends next; without it, a search of what is still there
// follows the answers. It cannot go out with the moves: a server may answer
// it before a move before it has finished (Dovecot does).
MailResult ImapMailbox::moveAll(const QList<ImapCommands::UidSetPart> &chunks, ImapRemovalTally &tally,
                                bool logoutAhead, QList<quint32> *refusedLong)
{
    const bool named = m_session.hasCapability("UIDPLUS");
    // A line a server may refuse for its length is followed by no LOGOUT:
    // its UIDs may have to be asked again.
    const bool longLines = refusedLong && std::any_of(chunks.cbegin(), chunks.cend(), [](const auto &chunk) {
                               return chunk.set.size() > ImapCommands::kUidSetBytes;
                           });
    QList<quint32> asked; // the UIDs of the moves the server carried out or refused for good
    const auto make = [&](qsizetype c) { return "UID MOVE " + chunks.at(c).set + ' ' + m_target; };
    const auto data = [&tally](const ImapResponse &r) {
        if (r.code == "COPYUID")
            tally.copied(r.codeArguments);
    };
    bool missingFolder = false;
    const auto done = [&](qsizetype c) {
        if (longLines && m_session.completion().keyword == "BAD"
            && chunks.at(c).set.size() > ImapCommands::kUidSetBytes) {
            *refusedLong += chunks.at(c).uids;
            return true;
        }
        asked += chunks.at(c).uids;
        const bool accepted = m_session.completedOk();
        if (m_session.completion().code == "COPYUID")
            tally.copied(m_session.completion().codeArguments);
        if (!accepted && m_note.isEmpty()) {
            missingFolder = m_session.completion().code == "TRYCREATE";
            m_note = m_session.refused(QStringLiteral("move the messages to %1").arg(m_targetName)).text
                + (missingFolder ? QStringLiteral("\r\nThe folder %1 does not exist on the server.").arg(m_targetName)
                                 : QString());
        }
        tally.answered(chunks.at(c).uids, accepted);
        return true;
    };
    const auto logout = [&] {
        if (logoutAhead && named && !longLines)
            m_logout = m_session.sendLogout();
    };
    const ImapSession::Outcome outcome = runChunks(chunks.size(), make, data, done, MailConnection::CancelMode::Bounded,
                                                   logout);
    MailResult result = ended(outcome);
    if (result.ok() && !named && !asked.isEmpty())
        result = verify(asked, tally, false, logoutAhead && (!refusedLong || refusedLong->isEmpty()));
    // A folder to move to that is not there is a setting to put right.
    if (result.ok() && missingFolder)
        return MailResult::failure(MailOutcome::NotConfigured, QStringLiteral("Error"),
                                   m_note + QStringLiteral("\r\nChoose the folder to move to in the settings."));
    return result;
}

// Without MOVE: a copy first, and only once it is there the originals are
// marked and expunged, by UID, together.
MailResult ImapMailbox::removeChunk(const ImapCommands::UidSetPart &part, ImapRemovalTally &tally)
{
    const QByteArray &set = part.set;
    const QList<quint32> &uids = part.uids;
    if (m_folders.removal == ImapFolders::Removal::MoveToFolder) {
        const ImapSession::Outcome copied = m_session.run("UID COPY " + set + ' ' + m_target, {},
                                                          MailConnection::CancelMode::Bounded);
        if (copied != ImapSession::Outcome::Completed)
            return ended(copied);
        if (!m_session.completedOk()) {
            if (m_note.isEmpty())
                m_note = m_session.refused(QStringLiteral("copy the messages to %1").arg(m_targetName)).text;
            tally.answered(uids, false);
            return MailResult::done();
        }
        if (m_session.completion().code == "COPYUID")
            tally.copied(m_session.completion().codeArguments);
    }
    // A Cancel raised while the copy was under way does not stop these: the
    // copies are there, so the originals go too, their answers awaited
    // within the cancel grace as every removal's are.
    const bool expunge = m_session.hasCapability("UIDPLUS");
    const quint64 store = m_session.sendAnyway("UID STORE " + set + " +FLAGS.SILENT (\\Deleted)");
    const quint64 expunged = expunge && store ? m_session.sendAnyway("UID EXPUNGE " + set) : 0;
    ImapSession::Outcome outcome = m_session.await(store, MailConnection::CancelMode::Bounded);
    bool accepted = outcome == ImapSession::Outcome::Completed && m_session.completedOk();
    if (expunge && outcome == ImapSession::Outcome::Completed) {
        outcome = m_session.await(expunged, MailConnection::CancelMode::Bounded);
        accepted = accepted && outcome == ImapSession::Outcome::Completed && m_session.completedOk();
    }
    if (outcome != ImapSession::Outcome::Completed)
        return ended(outcome);
    tally.answered(uids, accepted);
    return MailResult::done();
}

// After removals without MOVE: which of the UIDs are still in the folder,
// and (where they are only marked) which carry \Deleted, in one round trip.
MailResult ImapMailbox::verify(const QList<quint32> &uids, ImapRemovalTally &tally, bool leftFlagged, bool logoutAhead)
{
    const QByteArray set = ImapCommands::uidSet(uids);
    const auto taker = [&tally](bool flagged) {
        return [&tally, flagged](const ImapResponse &r) {
            if (r.keyword == "SEARCH")
                for (const ImapValue &v : r.values)
                    if (v.number() > 0 && v.number() <= 0xffffffffLL)
                        tally.stillThere(quint32(v.number()), flagged);
        };
    };
    const quint64 there = m_session.send("UID SEARCH UID " + set, taker(false));
    const quint64 marked = leftFlagged && there ? m_session.send("UID SEARCH UID " + set + " DELETED", taker(true)) : 0;
    if (logoutAhead && there)
        m_logout = m_session.sendLogout();
    ImapSession::Outcome outcome = m_session.await(there, MailConnection::CancelMode::Bounded);
    bool answered = outcome == ImapSession::Outcome::Completed && m_session.completedOk();
    if (marked && outcome == ImapSession::Outcome::Completed) {
        outcome = m_session.await(marked, MailConnection::CancelMode::Bounded);
        answered = answered && outcome == ImapSession::Outcome::Completed && m_session.completedOk();
    }
    m_session.dropHandlers();
    if (answered)
        tally.searched();
    if (leftFlagged && answered)
        m_note = m_folders.removal == ImapFolders::Removal::MoveToFolder
            ? QStringLiteral("The server cannot expunge single messages (it lacks UIDPLUS), so the messages copied "
                             "to %1 are left in %2 marked as deleted; they disappear when a mail program next "
                             "compacts %2.")
                  .arg(m_targetName, folderName())
            : QStringLiteral("The server cannot expunge single messages (it lacks UIDPLUS), so the messages are left "
                             "in %1 marked as deleted; they disappear when a mail program next compacts %1.")
                  .arg(folderName());
    return ended(outcome);
}
