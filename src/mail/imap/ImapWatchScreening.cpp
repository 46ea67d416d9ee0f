// ImapWatch: reading the headers of the messages that arrived, sorting them
// as the fetch does, and moving the filter hits.
#include "ImapWatch.h"

#include "CancelFlag.h"
#include "HeaderScan.h"
#include "ImapCommands.h"
#include "HeaderFields.h"
#include "RunStatus.h"

MessageEntry ImapWatch::entryOf(const ImapResponse &response, quint32 uid) const
{
    MessageEntry entry;
    const ImapValue *header = response.fetchItem("BODY[HEADER]");
    const ImapValue *size = response.fetchItem("RFC822.SIZE");
    entry.number = qint32(qMin<qint64>(response.number, 0x7fffffff));
    entry.uid = ImapCommands::identity(m_uidValidity, uid);
    if (size && size->number() >= 0) {
        entry.bytes = size->number();
        entry.size = SizeText(entry.bytes);
    }
    // A header the server would not give is never filtered, as in the fetch.
    const bool readable = header && header->kind != ImapValue::Kind::Nil;
    if (readable) {
        HeaderScan::ShownFields shown = HeaderScan::shownFields(header->text);
        entry.sender = std::move(shown.from);
        entry.subject = std::move(shown.subject);
        entry.date = std::move(shown.date);
        entry.priority = std::move(shown.priority);
        entry.sortReason = m_classify(entry.sender, header->text, entry.bytes);
    }
    const bool filtered = readable && entry.sortReason.sendsToRecycleBin();
    entry.iconKey = filtered ? QStringLiteral("recycle") : QStringLiteral("inbox");
    return entry;
}

MailResult ImapWatch::screenArrivals(ImapMailbox &mailbox)
{
    ImapSession &session = mailbox.session();
    const bool learning = m_nextUid == 0; // the server named no UIDNEXT
    QList<MessageEntry> hits;
    QString unscreened; // why arrivals could not be screened
    quint32 newest = 0;
    quint32 lowestHit = 0;
    // "n:*" names the newest message even when its UID is below n: only
    // UIDs from n on are new.
    const QByteArray command = learning
        ? QByteArray("UID FETCH * (UID)")
        : "UID FETCH " + QByteArray::number(m_nextUid) + ":* (UID RFC822.SIZE BODY.PEEK[HEADER])";
    const ImapSession::Outcome outcome = session.run(command, [&](const ImapResponse &r) {
        const ImapValue *uid = r.keyword == "FETCH" ? r.fetchItem("UID") : nullptr;
        if (!uid || uid->number() <= 0 || uid->number() > 0xffffffffLL)
            return;
        const quint32 u = quint32(uid->number());
        newest = qMax(newest, u);
        if (learning || u < m_nextUid)
            return;
        // A rule table that cannot be read must not throw through the
        // session's event handling: the arrivals wait for the next round.
        try {
            MessageEntry entry = entryOf(r, u);
            if (entry.iconKey == QLatin1String("recycle")) {
                lowestHit = lowestHit == 0 ? u : qMin(lowestHit, u);
                hits.append(std::move(entry));
            }
        } catch (const std::exception &e) {
            if (unscreened.isEmpty())
                unscreened = QString::fromLocal8Bit(e.what());
        }
    });
    session.dropHandlers();
    if (outcome == ImapSession::Outcome::Cancelled)
        return MailResult::cancelled();
    if (outcome == ImapSession::Outcome::Failed)
        return session.failure();
    if (!unscreened.isEmpty())
        return MailResult::failure(MailOutcome::Failed, QStringLiteral("Error"), unscreened);
    const quint32 next = learning || newest >= m_nextUid ? newest + 1 : m_nextUid;
    if (hits.isEmpty()) {
        m_nextUid = next;
        return MailResult::done();
    }
    // A hit not moved is screened again from the next round on, in this
    // session or the next: it is found again by UID and searched for before
    // any move, and the others are only read again.
    const MailResult moved = moveHits(mailbox, hits);
    m_nextUid = moved.ok() ? next : lowestHit;
    return moved;
}

QString ImapWatch::targetName() const
{
    if (!m_folders.target.isEmpty())
        return m_folders.target;
    return QString::fromLatin1(m_folders.specialUse.mid(1));
}

MailResult ImapWatch::moveHits(ImapMailbox &mailbox, const QList<MessageEntry> &hits)
{
    QList<MessageIdentity> rows;
    for (const MessageEntry &entry : hits)
        rows.append({entry.key, entry.number, entry.uid, {}});
    QList<LocatedMessage> found;
    if (MailResult located = mailbox.locate(rows, found); !located.ok())
        return located;
    QList<MessageKey> present;
    QList<MessageEntry> asked;
    for (qsizetype i = 0; i < found.size(); ++i) {
        if (found.at(i).state == LocatedMessage::State::Found) {
            present.append(found.at(i).key);
            asked.append(hits.at(i));
        }
    }
    if (present.isEmpty())
        return MailResult::done();
    // The moves act at once: they are recorded before they go out, and each
    // record settled by its answer.
    QString error;
    if (m_journal.pending) {
        if (m_journal.describe)
            m_journal.describe(mailbox.removalAction());
        if (!m_journal.pending(asked, &error)) {
            Q_EMIT trouble(QStringLiteral("The deletion history could not be written, so nothing was moved: ") + error);
            return MailResult::done();
        }
    }
    QList<std::optional<bool>> outcomes(asked.size());
    QList<MessageEntry> carried;
    const MailResult removed = mailbox.remove(present, [&](qsizetype index, RemovalAnswer answer) {
        outcomes[index] = answer == RemovalAnswer::Removed;
        if (answer == RemovalAnswer::Removed)
            carried.append(asked.at(index));
    });
    if (m_journal.pending && m_journal.settleEach)
        m_journal.settleEach(outcomes);
    if (!removed.text.isEmpty() && removed.ok())
        Q_EMIT trouble(removed.text);
    for (const MessageEntry &entry : std::as_const(carried))
        Q_EMIT moved(entry, targetName());
    if (!carried.isEmpty())
        m_status.setStatusText(QStringLiteral("Moved %1 to %2").arg(carried.size()).arg(targetName()));
    return removed.ok() ? MailResult::done() : removed;
}
