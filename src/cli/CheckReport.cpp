#include "CheckReport.h"

#include "ConsoleOutput.h"
#include "HeaderDisplay.h"
#include "MessageRows.h"

#include "JsonStreamWriter.h"

#include <QHash>
#include <algorithm>

namespace {

QString folderText(CheckReport::Result result, const QString &action)
{
    if (result == CheckReport::Result::Deleted && !action.isEmpty())
        return QStringLiteral("Recycle Bin: ") + action;
    switch (result) {
    case CheckReport::Result::Kept:
        return QStringLiteral("Inbox");
    case CheckReport::Result::InRecycleBin:
        return QStringLiteral("Recycle Bin");
    case CheckReport::Result::Deleted:
        return QStringLiteral("Recycle Bin: deleted");
    case CheckReport::Result::NotDeleted:
        return QStringLiteral("Recycle Bin: not deleted");
    case CheckReport::Result::AlreadyGone:
        return QStringLiteral("Recycle Bin: already gone");
    }
    return {};
}

QString jsonResult(CheckReport::Result result)
{
    switch (result) {
    case CheckReport::Result::Kept:
        return QStringLiteral("kept");
    case CheckReport::Result::InRecycleBin:
        return QStringLiteral("to be deleted"); // a check without --delete
    case CheckReport::Result::Deleted:
        return QStringLiteral("deleted");
    case CheckReport::Result::NotDeleted:
        return QStringLiteral("not deleted");
    case CheckReport::Result::AlreadyGone:
        return QStringLiteral("already gone");
    }
    return {};
}

QString messageCount(int n)
{
    return n == 1 ? QStringLiteral("1 message") : QStringLiteral("%1 messages").arg(n);
}

} // namespace

CheckReport::Message CheckReport::Message::of(const MessageEntry &entry, Result result)
{
    return {entry.sender,     entry.subject, entry.date,   entry.size, entry.uid,
            entry.sortReason, entry.bytes,   entry.number, result};
}

namespace {

// The rows of both folders in the server's order. Each folder comes in that
// order from a fetch, so they are merged as they stand; only folders in
// another order are sorted, which needs room for a second copy.
template <typename InboxAt, typename RecycleAt>
QList<CheckReport::Message> serverOrder(int inboxCount, InboxAt inboxAt, int recycleCount, RecycleAt recycleAt)
{
    using Message = CheckReport::Message;
    QList<Message> rows;
    rows.reserve(inboxCount + recycleCount);
    int i = 0;
    int r = 0;
    while (i < inboxCount || r < recycleCount) {
        if (r == recycleCount || (i < inboxCount && inboxAt(i).number <= recycleAt(r).number))
            rows.append(Message::of(inboxAt(i++), CheckReport::Result::Kept));
        else
            rows.append(Message::of(recycleAt(r++), CheckReport::Result::InRecycleBin));
    }
    const auto byNumber = [](const Message &a, const Message &b) { return a.number < b.number; };
    if (!std::is_sorted(rows.cbegin(), rows.cend(), byNumber)) {
        // Equal numbers keep the Inbox's rows first, as a sort of both would.
        rows.clear();
        for (int k = 0; k < inboxCount; ++k)
            rows.append(Message::of(inboxAt(k), CheckReport::Result::Kept));
        for (int k = 0; k < recycleCount; ++k)
            rows.append(Message::of(recycleAt(k), CheckReport::Result::InRecycleBin));
        std::stable_sort(rows.begin(), rows.end(), byNumber);
    }
    return rows;
}

} // namespace

CheckReport CheckReport::fromFolders(const QString &profile, const QList<MessageEntry> &inbox,
                                     const QList<MessageEntry> &recycle)
{
    CheckReport report;
    report.profile = profile;
    report.messages = serverOrder(
        int(inbox.size()), [&](int k) -> const MessageEntry & { return inbox.at(k); }, int(recycle.size()),
        [&](int k) -> const MessageEntry & { return recycle.at(k); });
    return report;
}

CheckReport CheckReport::fromFolders(const QString &profile, const MessageRows &inbox, const MessageRows &recycle)
{
    CheckReport report;
    report.profile = profile;
    report.messages = serverOrder(
        inbox.count(), [&](int k) -> const MessageEntry & { return inbox.entry(k); }, recycle.count(),
        [&](int k) -> const MessageEntry & { return recycle.entry(k); });
    return report;
}

namespace {

// What became of the Recycle Bin's rows: deleted, left (`leftCount` rows,
// `leftAt` the number of each), or else gone before the deletion.
template <typename LeftAt>
void settle(QList<CheckReport::Message> &messages, const DeletionResult &deletion, int leftCount, LeftAt leftAt)
{
    using Result = CheckReport::Result;
    // A fetch session's numbers are unique: they tell the rows apart.
    QHash<qint32, Result> outcome;
    for (const MessageEntry &e : deletion.deleted)
        outcome.insert(e.number, Result::Deleted);
    for (int k = 0; k < leftCount; ++k)
        outcome.insert(leftAt(k), Result::NotDeleted);
    for (CheckReport::Message &m : messages) {
        if (m.result == Result::InRecycleBin)
            m.result = outcome.value(m.number, Result::AlreadyGone);
    }
}

} // namespace

void CheckReport::applyDeletion(const DeletionResult &deletion, const QList<MessageEntry> &left)
{
    deletionRan = true;
    changedOnServer = deletion.changed;
    removalAction = deletion.action;
    settle(messages, deletion, int(left.size()), [&](int k) { return left.at(k).number; });
}

void CheckReport::applyDeletion(const DeletionResult &deletion, const MessageRows &left)
{
    deletionRan = true;
    changedOnServer = deletion.changed;
    removalAction = deletion.action;
    settle(messages, deletion, left.count(), [&](int k) { return left.entry(k).number; });
}

int CheckReport::count(Result result) const
{
    return int(
        std::count_if(messages.cbegin(), messages.cend(), [result](const Message &m) { return m.result == result; }));
}

int CheckReport::keptForReview() const
{
    return int(
        std::count_if(messages.cbegin(), messages.cend(), [](const Message &m) { return m.sortReason.keptForReview; }));
}

int CheckReport::inRecycleBin() const
{
    return int(messages.size()) - count(Result::Kept);
}

QStringList CheckReport::lines(bool summaryOnly) const
{
    QStringList out;
    writeLines(summaryOnly, [&out](const QString &line) { out << line; });
    return out;
}

void CheckReport::writeLines(bool summaryOnly, const std::function<void(const QString &)> &out) const
{
    if (!summaryOnly) {
        // One line buffer for all: a mailbox of many thousands has as many lines.
        QString line;
        for (const Message &m : messages) {
            line.clear();
            line += folderText(m.result, removalAction);
            for (const QString &field : {HeaderDisplay::decodedText(m.sender), HeaderDisplay::decodedText(m.subject),
                                         m.date, m.size.trimmed(), m.sortReason.text()}) {
                line += QLatin1Char('\t');
                line += ConsoleOutput::plain(field);
            }
            out(line);
        }
    }
    QString summary = QStringLiteral("%1: %2, %3 in the Inbox, %4 in the Recycle Bin")
                          .arg(ConsoleOutput::plain(profile), messageCount(int(messages.size())))
                          .arg(count(Result::Kept))
                          .arg(inRecycleBin());
    if (deletionRan) {
        // An IMAP mailbox may move them instead: "3 moved to Junk".
        const QString done = removalAction.isEmpty() ? QStringLiteral("deleted") : removalAction;
        summary += QStringLiteral("; %1 %2, %3 not %2")
                       .arg(QString::number(count(Result::Deleted)), done, QString::number(count(Result::NotDeleted)));
        if (const int gone = count(Result::AlreadyGone))
            summary += QStringLiteral(", %1 already gone").arg(gone);
        if (changedOnServer > 0)
            summary += QStringLiteral(" (%1 changed on the server, not %2)").arg(changedOnServer).arg(done);
    }
    if (const int kept = keptForReview())
        summary += QStringLiteral("; %1 learned spam kept for review in the Inbox").arg(kept);
    if (!listingNote.isEmpty())
        summary += QStringLiteral("; ") + listingNote;
    out(summary);
}

void CheckReport::writeJson(const std::function<void(QByteArrayView)> &sink) const
{
    // The keys in the order a QJsonObject keeps them (sorted), so that the
    // document reads as it always has.
    JsonStreamWriter w(sink);
    writeJson(w);
    w.finish();
}

void CheckReport::writeJson(JsonStreamWriter &w) const
{
    w.beginObject();
    if (deletionRan) {
        w.field(u"alreadyGone", count(Result::AlreadyGone));
        w.field(u"changedOnServer", changedOnServer);
        w.field(u"deleted", count(Result::Deleted));
    }
    w.field(u"inbox", count(Result::Kept));
    if (const int kept = keptForReview())
        w.field(u"keptForReview", kept);
    if (!listingNote.isEmpty())
        w.field(u"listingMismatch", listingNote);
    w.key(u"messages");
    w.beginArray();
    for (const Message &m : messages) {
        w.beginObject();
        w.field(u"date", m.date);
        w.field(u"folder", m.result == Result::Kept ? QStringLiteral("Inbox") : QStringLiteral("Recycle Bin"));
        if (m.sortReason.kind == SortReason::Kind::Learned) {
            // Which verdicts were learned rather than a rule's.
            w.key(u"learned");
            w.beginObject();
            w.key(u"reasons");
            w.beginArray();
            for (const QString &reason : m.sortReason.reasons)
                w.value(reason);
            w.endArray();
            // A learned spam this run left in the Inbox for the user's review.
            w.key(u"keptForReview");
            w.boolValue(m.sortReason.keptForReview);
            w.field(u"score", m.sortReason.percent);
            w.field(u"verdict", m.sortReason.verdictName());
            w.endObject();
        }
        w.field(u"number", m.number);
        w.field(u"result", jsonResult(m.result));
        w.field(u"rule", m.sortReason.text());
        w.field(u"sender", HeaderDisplay::decodedText(m.sender));
        // Bytes for scripts, and the text the window shows beside them.
        w.key(u"size");
        if (m.bytes >= 0)
            w.value(m.bytes);
        else
            w.nullValue();
        w.field(u"sizeShown", m.size.trimmed());
        w.field(u"subject", HeaderDisplay::decodedText(m.subject));
        w.field(u"uid", m.uid);
        w.endObject();
    }
    w.endArray();
    if (deletionRan)
        w.field(u"notDeleted", count(Result::NotDeleted));
    w.field(u"profile", profile);
    w.field(u"recycleBin", inRecycleBin());
    if (deletionRan && !removalAction.isEmpty())
        w.field(u"removal", removalAction);
    w.endObject();
}

QByteArray CheckReport::json() const
{
    QByteArray document;
    writeJson([&document](QByteArrayView piece) { document += piece; });
    return document;
}
