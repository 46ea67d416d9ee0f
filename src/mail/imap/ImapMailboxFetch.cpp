// ImapMailbox: the listing and the headers in one command. EXAMINE and
// `UID FETCH 1:* (UID RFC822.SIZE FLAGS BODY.PEEK[HEADER])` go out together
// (behind the login where it allows), the EXAMINE's answer names how many
// messages there are, and each message's answer becomes its row as it
// arrives: nothing of the folder is held but the UIDs seen.
#include "ImapMailbox.h"

#include "CancelFlag.h"

#include <QStringList>

#include <algorithm>
#include <utility>

namespace {

// The UID, size, flags and header a FETCH response carries, whatever their order.
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

// A response code's number ("[UIDVALIDITY 3857529045]").
quint32 codeNumber(const ImapResponse &response)
{
    bool ok = false;
    const quint32 n = response.codeArguments.toUInt(&ok);
    return ok ? n : 0;
}

QString markedNote(int marked)
{
    if (marked == 0)
        return {};
    return marked == 1 ? QStringLiteral("1 message marked as deleted waits for the server or another mail program to "
                                        "expunge it")
                       : QStringLiteral("%1 messages marked as deleted wait for the server or another mail program to "
                                        "expunge them")
                             .arg(marked);
}

} // namespace

void ImapMailbox::sendListing()
{
    m_uidValidity = 0;
    m_reading.examine = m_session.send("EXAMINE " + ImapCommands::mailbox(folderName()), [this](const ImapResponse &r) {
        if (r.code == "UIDVALIDITY")
            m_uidValidity = codeNumber(r);
        else if (r.keyword == "EXISTS")
            m_reading.exists = r.number;
    });
    // The folder opens read-only and the headers are peeked at: no flag changes.
    if (m_reading.examine != 0)
        m_reading.fetch = m_session.send("UID FETCH 1:* (UID RFC822.SIZE FLAGS BODY.PEEK[HEADER])",
                                         [this](const ImapResponse &r) { takeFetched(r); });
}

// One FETCH response. Only answers with what was asked count: one that tells
// of another client's flag change is no message of its own. A server may
// split a message's items over several responses: a size without its header
// waits for the header, and names an unread row if none comes.
void ImapMailbox::takeFetched(const ImapResponse &r)
{
    const Fetched f = fetched(r);
    if (r.keyword != "FETCH" || f.uid <= 0 || f.uid > 0xffffffffLL || (!f.header && f.bytes < 0))
        return;
    const quint32 uid = quint32(f.uid);
    if (m_reading.taken.contains(uid))
        return;
    const bool firstWord = !m_reading.sizedOnly.contains(uid);
    if (f.flags && hasFlag(*f.flags, "\\Deleted")) {
        // Waits for an expunge: screened once already, or another's to remove.
        m_reading.sizedOnly.remove(uid);
        m_reading.taken.insert(uid);
        ++m_reading.markedDeleted;
        m_reading.answered += firstWord ? 1 : 0;
        return;
    }
    if (!f.header) {
        if (firstWord)
            ++m_reading.answered;
        m_reading.sizedOnly.insert(uid, f.bytes);
        return;
    }
    const qint64 bytes = f.bytes >= 0 ? f.bytes : m_reading.sizedOnly.value(uid, -1);
    m_reading.sizedOnly.remove(uid);
    m_reading.taken.insert(uid);
    const qsizetype index = firstWord ? m_reading.answered++ : m_reading.answered - 1;
    ArrivedHeader arrived{index, f.header->text, f.header->kind == ImapValue::Kind::Nil, bytes >= 0, bytes};
    // Numbered as read: the number orders the rows, never names a message.
    arrived.listed = ListedMessage{++m_reading.numbered, ImapCommands::identity(m_uidValidity, uid), bytes,
                                   keyOf(m_uidValidity, uid)};
    hand(std::move(arrived));
}

void ImapMailbox::hand(ArrivedHeader arrived)
{
    // After a Cancel what still comes is dropped: the row is not read.
    if (m_reading.stopped || m_cancel.isSet())
        return;
    if (!m_reading.sink) {
        m_reading.early.append(std::move(arrived));
        return;
    }
    m_reading.stopped = !(*m_reading.sink)(arrived);
}

MailResult ImapMailbox::list(MailboxListing &listing)
{
    listing = {};
    m_selected = false;
    if (m_reading.examine == 0) // not sent behind the login
        sendListing();
    const ImapSession::Outcome outcome = m_session.await(m_reading.examine);
    if (outcome != ImapSession::Outcome::Completed) {
        // The FETCH's answer is owed: the session can only close.
        m_abandoned = true;
        return ended(outcome);
    }
    const QString where = folderName();
    if (!m_session.completedOk())
        return m_session.refused(QStringLiteral("open the folder %1").arg(where));
    if (m_uidValidity == 0 || m_reading.exists < 0)
        return MailResult::failure(
            MailOutcome::ConnectionFailed, QStringLiteral("Error"),
            m_uidValidity == 0
                ? QStringLiteral("The server did not name the UIDVALIDITY of the folder %1, so its messages cannot be "
                                 "told apart.")
                      .arg(where)
                : QStringLiteral("The server did not say how many messages the folder %1 holds.").arg(where));
    // Counted only: each row comes with its header (ArrivedHeader::listed).
    listing.listed = false;
    listing.count = m_reading.exists;
    return ended(outcome);
}

MailResult ImapMailbox::readHeaders(const MailboxListing &listing, const HeaderSink &sink)
{
    if (m_reading.fetch == 0)
        return MailResult::failure(MailOutcome::Failed, QStringLiteral("Error"),
                                   QStringLiteral("The headers were asked for before the folder was listed."));
    m_reading.sink = &sink;
    for (ArrivedHeader &arrived : std::exchange(m_reading.early, {}))
        hand(std::move(arrived));
    // The session's end goes out now, to be answered right after the headers.
    if (std::exchange(m_logoutAfterReading, false))
        m_logout = m_session.sendLogout();
    // One answer for the whole folder: the rows read so far are shown every
    // so often while it arrives.
    constexpr int kShowEveryMs = 100;
    const ImapSession::Outcome outcome = m_session.awaitInTurns(std::exchange(m_reading.fetch, 0), kShowEveryMs);
    m_session.dropHandlers();
    MailResult result = fetchEnded(outcome, listing);
    m_reading.sink = nullptr;
    return result;
}

MailResult ImapMailbox::fetchEnded(ImapSession::Outcome outcome, const MailboxListing &listing)
{
    if (outcome == ImapSession::Outcome::Cancelled) {
        // Answers owed to reads protect nothing: the session closes at once,
        // so that a deadline is the deadline.
        m_abandoned = true;
        return MailResult::cancelled();
    }
    if (outcome == ImapSession::Outcome::Failed)
        return m_session.failure();
    // BAD: out of step. NO: some messages went meanwhile, unless none came.
    const bool bad = m_session.completion().keyword == "BAD";
    if (bad || (!m_session.completedOk() && m_reading.answered == 0 && listing.count != 0))
        return m_session.refused(bad ? QStringLiteral("send the headers")
                                     : QStringLiteral("list the messages of %1").arg(folderName()));
    MailResult result = ended(outcome);
    if (!result.ok() || m_reading.stopped)
        return result;
    QStringList notes{unreadRows(), markedNote(m_reading.markedDeleted)};
    notes.removeAll(QString());
    result.text = notes.join(QStringLiteral("; "));
    return result;
}

// Every message the FETCH told of is accounted for: one whose header never
// came (an answer without it, or gone meanwhile) is kept unread, never
// filtered, and named.
QString ImapMailbox::unreadRows()
{
    QList<quint32> uids = m_reading.sizedOnly.keys();
    std::sort(uids.begin(), uids.end());
    for (const quint32 uid : std::as_const(uids)) {
        const qint64 bytes = m_reading.sizedOnly.value(uid);
        ArrivedHeader missing{m_reading.answered - 1, {}, true, bytes >= 0, bytes};
        missing.listed = ListedMessage{++m_reading.numbered, ImapCommands::identity(m_uidValidity, uid), bytes,
                                       keyOf(m_uidValidity, uid)};
        hand(std::move(missing));
    }
    return uids.isEmpty() ? QString() : unreadNote(uids);
}
