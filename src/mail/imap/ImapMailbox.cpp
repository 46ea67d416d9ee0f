// ImapMailbox: opening, listing and reading headers, and the end. Finding
// rows again and removing them are in ImapRemoval.cpp.
#include "ImapMailbox.h"

#include "CancelFlag.h"
#include "ImapCommands.h"

#include <algorithm>
#include <utility>

namespace {

// The UID, size and header a FETCH response carries, whatever their order.
struct Fetched {
    qint64 uid = -1;
    qint64 bytes = -1;
    const ImapValue *header = nullptr;
};

Fetched fetched(const ImapResponse &response)
{
    Fetched f;
    if (const ImapValue *uid = response.fetchItem("UID"))
        f.uid = uid->number();
    if (const ImapValue *size = response.fetchItem("RFC822.SIZE"))
        f.bytes = size->number();
    f.header = response.fetchItem("BODY[HEADER]");
    return f;
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
    qint64 exists = -1;
    QList<ListedMessage> &messages = listing.messages;
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
        examine == 0 ? 0 : m_session.send("UID FETCH 1:* (UID RFC822.SIZE)", [&](const ImapResponse &r) {
            const Fetched f = fetched(r);
            if (r.keyword == "FETCH" && f.uid > 0 && f.uid <= 0xffffffffLL)
                messages.append({qint32(qMin<qint64>(r.number, 0x7fffffff)),
                                 ImapCommands::identity(m_uidValidity, quint32(f.uid)), f.bytes});
        });
    ImapSession::Outcome outcome = m_session.await(examine);
    const bool examined = outcome == ImapSession::Outcome::Completed && m_session.completedOk();
    const QString refusal = examined ? QString()
                                     : m_session.refused(QStringLiteral("open the folder %1").arg(folderName())).text;
    if (outcome == ImapSession::Outcome::Completed)
        outcome = m_session.await(fetch);
    m_session.dropHandlers();
    if (outcome != ImapSession::Outcome::Completed || !examined) {
        messages.clear();
        if (outcome == ImapSession::Outcome::Completed)
            return MailResult::failure(MailOutcome::ConnectionFailed, QStringLiteral("Error"), refusal);
        return ended(outcome);
    }
    if (!m_session.completedOk() && exists != 0)
        return m_session.refused(QStringLiteral("list the messages of %1").arg(folderName()));
    std::stable_sort(messages.begin(), messages.end(),
                     [](const ListedMessage &a, const ListedMessage &b) { return a.number < b.number; });
    listing.count = messages.size();
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
        if (stopped || m_cancel.isSet() || r.keyword != "FETCH" || !f.header || f.uid <= 0)
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
    return ended(outcome);
}

MailResult ImapMailbox::commit()
{
    // Every removal acted already; logging out only ends the session well.
    m_logoutAhead = false;
    (void)m_session.logout(std::exchange(m_logout, 0));
    return MailResult::done();
}

void ImapMailbox::close()
{
    m_session.closeServer();
}
