#include "CheckReport.h"

#include "ConsoleOutput.h"
#include "HeaderDisplay.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace {

QString folderText(CheckReport::Result result)
{
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
        return QStringLiteral("not deleted"); // a check without --delete
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

QString sortRuleText(const MessageEntry &entry)
{
    return entry.sortReason.text();
}

CheckReport CheckReport::fromFolders(const QString &profile, const QList<MessageEntry> &inbox,
                                     const QList<MessageEntry> &recycle)
{
    CheckReport report;
    report.profile = profile;
    for (const MessageEntry &e : inbox)
        report.messages.append({e, Result::Kept});
    for (const MessageEntry &e : recycle)
        report.messages.append({e, Result::InRecycleBin});
    std::stable_sort(report.messages.begin(), report.messages.end(),
                     [](const Message &a, const Message &b) { return a.entry.number < b.entry.number; });
    return report;
}

void CheckReport::applyDeletion(const DeletionResult &deletion, const QList<MessageEntry> &left)
{
    deletionRan = true;
    changedOnServer = deletion.changed;
    // A fetch session's numbers are unique: they tell the rows apart.
    QHash<qint32, Result> outcome;
    for (const MessageEntry &e : deletion.deleted)
        outcome.insert(e.number, Result::Deleted);
    for (const MessageEntry &e : left)
        outcome.insert(e.number, Result::NotDeleted);
    for (Message &m : messages) {
        if (m.result == Result::InRecycleBin)
            m.result = outcome.value(m.entry.number, Result::AlreadyGone);
    }
}

int CheckReport::count(Result result) const
{
    return int(std::count_if(messages.cbegin(), messages.cend(),
                             [result](const Message &m) { return m.result == result; }));
}

int CheckReport::inRecycleBin() const
{
    return int(messages.size()) - count(Result::Kept);
}

QStringList CheckReport::lines(bool summaryOnly) const
{
    QStringList out;
    if (!summaryOnly) {
        for (const Message &m : messages) {
            const QStringList fields = {folderText(m.result), HeaderDisplay::decodedText(m.entry.sender),
                                        HeaderDisplay::decodedText(m.entry.subject), m.entry.date,
                                        m.entry.size.trimmed(), sortRuleText(m.entry)};
            QStringList shown;
            for (const QString &field : fields)
                shown << ConsoleOutput::plain(field);
            out << shown.join(QLatin1Char('\t'));
        }
    }
    QString summary = QStringLiteral("%1: %2, %3 in the Inbox, %4 in the Recycle Bin")
                          .arg(ConsoleOutput::plain(profile), messageCount(int(messages.size())))
                          .arg(count(Result::Kept))
                          .arg(inRecycleBin());
    if (deletionRan) {
        summary += QStringLiteral("; %1 deleted, %2 not deleted")
                       .arg(count(Result::Deleted))
                       .arg(count(Result::NotDeleted));
        if (const int gone = count(Result::AlreadyGone))
            summary += QStringLiteral(", %1 already gone").arg(gone);
        if (changedOnServer > 0)
            summary += QStringLiteral(" (%1 changed on the server, not deleted)").arg(changedOnServer);
    }
    if (!listingNote.isEmpty())
        summary += QStringLiteral("; ") + listingNote;
    out << summary;
    return out;
}

QByteArray CheckReport::json() const
{
    QJsonArray list;
    for (const Message &m : messages) {
        list.append(QJsonObject{
            {QStringLiteral("number"), m.entry.number},
            {QStringLiteral("uid"), m.entry.uid},
            {QStringLiteral("folder"), m.result == Result::Kept ? QStringLiteral("Inbox") : QStringLiteral("Recycle Bin")},
            {QStringLiteral("result"), jsonResult(m.result)},
            {QStringLiteral("sender"), HeaderDisplay::decodedText(m.entry.sender)},
            {QStringLiteral("subject"), HeaderDisplay::decodedText(m.entry.subject)},
            {QStringLiteral("date"), m.entry.date},
            {QStringLiteral("size"), m.entry.size.trimmed()},
            {QStringLiteral("rule"), sortRuleText(m.entry)},
        });
    }
    QJsonObject document{
        {QStringLiteral("profile"), profile},
        {QStringLiteral("messages"), list},
        {QStringLiteral("inbox"), count(Result::Kept)},
        {QStringLiteral("recycleBin"), inRecycleBin()},
    };
    if (deletionRan) {
        document.insert(QStringLiteral("deleted"), count(Result::Deleted));
        document.insert(QStringLiteral("notDeleted"), count(Result::NotDeleted));
        document.insert(QStringLiteral("alreadyGone"), count(Result::AlreadyGone));
        document.insert(QStringLiteral("changedOnServer"), changedOnServer);
    }
    if (!listingNote.isEmpty())
        document.insert(QStringLiteral("listingMismatch"), listingNote);
    return QJsonDocument(document).toJson(QJsonDocument::Indented);
}

QString CheckReport::notificationSummary() const
{
    return QStringLiteral("Trelvik deleted %1 from %2").arg(messageCount(count(Result::Deleted)), profile);
}

QString CheckReport::notificationBody() const
{
    const int waiting = count(Result::Kept) + count(Result::NotDeleted);
    return waiting == 1 ? QStringLiteral("1 message is waiting.")
                        : QStringLiteral("%1 messages are waiting.").arg(waiting);
}
