// ImapMailbox: opening, listing and reading headers, and the end. Finding
// rows again and removing them are in ImapRemoval.cpp.
#include "ImapMailbox.h"

#include "CancelFlag.h"

#include <QSet>
#include <QStringList>

#include <algorithm>
#include <numeric>
#include <utility>

namespace {

// The UID, size and header a FETCH response carries, whatever their order.
struct Fetched {
    qint64 uid = -1;
    qint64 bytes = -1;
    const ImapValue *header = nullptr;
    const ImapValue *flags = nullptr;
};

Fetched fetched(const ImapResponse &response)
{
    Fetched f;
    if (const ImapValue *uid = response.fetchItem("UID"))
        f.uid = uid->number();
    if (const ImapValue *size = response.fetchItem("RFC822.SIZE"))
        f.bytes = size->number();
    f.header = response.fetchItem("BODY[HEADER]");
    f.flags = response.fetchItem("FLAGS");
    if (f.flags && f.flags->kind != ImapValue::Kind::List)
        f.flags = nullptr;
    return f;
}

bool hasFlag(const ImapValue &flags, QByteArrayView flag)
{
    return std::any_of(flags.items.cbegin(), flags.items.cend(), [flag](const ImapValue &v) {
        return v.kind == ImapValue::Kind::Atom && v.text.compare(flag, Qt::CaseInsensitive) == 0;
    });
}

// The listing in UID order, which is the folder's order. Servers answer in
// that order already; only another order is sorted.
void inUidOrder(QList<ListedMessage> &messages, const QList<quint32> &uids)
{
    if (std::is_sorted(uids.cbegin(), uids.cend()))
        return;
    QList<qsizetype> order(uids.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&uids](qsizetype a, qsizetype b) { return uids.at(a) < uids.at(b); });
    QList<ListedMessage> sorted;
    sorted.reserve(messages.size());
    for (const qsizetype k : order)
        sorted.append(std::move(messages[k]));
    messages = std::move(sorted);
}

// A response code's number ("[UIDVALIDITY 3857529045]").
quint32 codeNumber(const ImapResponse &response)
{
    bool ok = false;
    const quint32 n = response.codeArguments.toUInt(&ok);
    return ok ? n : 0;
}

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
    if (MailResult connected = m_session.connectServer(); !connected.ok())
        return connected;
    return m_session.login();
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

MailResult ImapMailbox::list(MailboxListing &listing)
{
    listing = {};
    m_selected = false;
    m_uidValidity = 0;
    m_markedDeleted = 0;
    qint64 exists = -1;
    QList<ListedMessage> &messages = listing.messages;
    QSet<quint32> seen;
    QList<quint32> uids; // of `messages`
    // Both go out at once: the listing of an empty or missing folder is
    // refused, and that refusal is harmless.
    const quint64 examine = m_session.send("EXAMINE " + ImapCommands::mailbox(folderName()),
                                           [&](const ImapResponse &r) {
                                               if (r.code == "UIDVALIDITY")
                                                   m_uidValidity = codeNumber(r);
                                               else if (r.keyword == "EXISTS")
                                                   exists = r.number;
                                           });
    const quint64 fetch =
        examine == 0 ? 0 : m_session.send("UID FETCH 1:* (UID RFC822.SIZE FLAGS)", [&](const ImapResponse &r) {
            const Fetched f = fetched(r);
            // Only answers with what was asked count: a FETCH that tells of
            // another client's flag change is no message of its own.
            if (r.keyword != "FETCH" || f.uid <= 0 || f.uid > 0xffffffffLL || f.bytes < 0 || !f.flags)
                return;
            const quint32 uid = quint32(f.uid);
            if (seen.contains(uid))
                return;
            seen.insert(uid);
            if (hasFlag(*f.flags, "\\Deleted")) {
                ++m_markedDeleted; // waits for an expunge: screened once already, or another's to remove
                return;
            }
            messages.append({0, ImapCommands::identity(m_uidValidity, uid), f.bytes, keyOf(m_uidValidity, uid)});
            uids.append(uid);
        });
    ImapSession::Outcome outcome = m_session.await(examine);
    const bool examined = outcome == ImapSession::Outcome::Completed && m_session.completedOk();
    const QString refusal = examined ? QString()
                                     : m_session.refused(QStringLiteral("open the folder %1").arg(folderName())).text;
    if (outcome == ImapSession::Outcome::Completed)
        outcome = m_session.await(fetch);
    m_session.dropHandlers();
    if (outcome != ImapSession::Outcome::Completed || !examined || m_uidValidity == 0) {
        messages.clear();
        if (outcome == ImapSession::Outcome::Completed)
            return MailResult::failure(MailOutcome::ConnectionFailed, QStringLiteral("Error"),
                                       examined ? QStringLiteral("The server did not name the UIDVALIDITY of the "
                                                                 "folder %1, so its messages cannot be told apart.")
                                                      .arg(folderName())
                                                : refusal);
        return ended(outcome);
    }
    if (!m_session.completedOk() && exists != 0)
        return m_session.refused(QStringLiteral("list the messages of %1").arg(folderName()));
    inUidOrder(messages, uids);
    // Numbered as listed: the number orders the rows, never names a message.
    for (qsizetype k = 0; k < messages.size(); ++k)
        messages[k].number = qint32(qMin<qsizetype>(k + 1, 0x7fffffff));
    listing.count = messages.size();
    if (m_markedDeleted > 0)
        listing.disagreement = (m_markedDeleted == 1
                                    ? QStringLiteral("1 message marked as deleted waits")
                                    : QStringLiteral("%1 messages marked as deleted wait").arg(m_markedDeleted))
            + (m_markedDeleted == 1 ? QStringLiteral(" for the server or another mail program to expunge it")
                                    : QStringLiteral(" for the server or another mail program to expunge them"));
    return ended(outcome);
}

MailResult ImapMailbox::readHeaders(const MailboxListing &listing, const HeaderSink &sink)
{
    // Each header is matched to its row by UID: an expunge meanwhile shifts
    // sequence numbers, never UIDs.
    QHash<quint32, qsizetype> rowOf;
    QList<quint32> uids;
    rowOf.reserve(listing.size());
    for (qsizetype k = 0; k < listing.size(); ++k) {
        if (const auto id = ImapCommands::parseIdentity(listing.at(k).uid)) {
            rowOf.insert(id->uid, k);
            uids.append(id->uid);
        }
    }
    const qsizetype chunks = (uids.size() + kChunk - 1) / kChunk;
    bool stopped = false;
    bool refused = false;
    const auto make = [&](qsizetype c) {
        return "UID FETCH " + ImapCommands::uidSet(uids.mid(c * kChunk, kChunk))
            + " (UID RFC822.SIZE BODY.PEEK[HEADER])";
    };
    const auto data = [&](const ImapResponse &r) {
        const Fetched f = fetched(r);
        // After a Cancel what still comes is dropped: the row is not read.
        if (stopped || m_cancel.isSet() || r.keyword != "FETCH" || !f.header || f.uid <= 0 || f.uid > 0xffffffffLL)
            return;
        const auto row = rowOf.find(quint32(f.uid));
        if (row == rowOf.end())
            return;
        ArrivedHeader arrived{row.value(), f.header->text};
        arrived.refused = f.header->kind == ImapValue::Kind::Nil;
        arrived.sized = f.bytes >= 0;
        arrived.bytes = f.bytes;
        rowOf.erase(row); // each row once
        stopped = !sink(arrived);
    };
    const auto done = [&](qsizetype) {
        // NO: some of the chunk is gone (expunged meanwhile); BAD: out of step.
        refused = m_session.completion().keyword == "BAD";
        return !stopped && !refused;
    };
    const ImapSession::Outcome outcome = runChunks(chunks, make, data, done, MailConnection::CancelMode::Ends);
    if (refused && outcome == ImapSession::Outcome::Completed)
        return m_session.refused(QStringLiteral("send the headers"));
    MailResult result = ended(outcome);
    if (!result.ok() || stopped || rowOf.isEmpty())
        return result;
    // Every listed message is accounted for: one whose header never came
    // (gone meanwhile, or an answer that did not say which it was) is kept
    // unread, never filtered, and named.
    QList<qsizetype> unread = rowOf.values();
    std::sort(unread.begin(), unread.end());
    QList<quint32> unreadUids;
    for (const qsizetype k : std::as_const(unread)) {
        const ListedMessage listed = listing.at(k);
        ArrivedHeader missing{k, {}, true, listed.bytes >= 0, listed.bytes};
        unreadUids.append(ImapCommands::parseIdentity(listed.uid)->uid);
        if (!sink(missing))
            break;
    }
    result.text = unreadNote(unreadUids);
    return result;
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
