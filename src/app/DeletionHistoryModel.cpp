#include "DeletionHistoryModel.h"

#include "HeaderDisplay.h"
#include "MessageDate.h"
#include "MessageFolderModel.h"

#include <QLocale>

#include <limits>

namespace {

// "12K" in bytes, for sorting; texts that are no size sort first.
qint64 sizeBytes(const QString &size)
{
    QString digits = size.trimmed();
    if (digits.endsWith(QLatin1Char('K')))
        digits.chop(1);
    bool ok = false;
    const qint64 k = digits.toLongLong(&ok);
    return ok ? k * 1000 : -1;
}

} // namespace

DeletionHistoryModel::DeletionHistoryModel(QList<DeletionRecord> records, QObject *parent)
    : QAbstractTableModel(parent)
{
    m_rows.reserve(records.size());
    const QLocale locale;
    for (DeletionRecord &r : records) {
        Row row{std::move(r), {}, {}, {}, {}, {}, 0};
        row.shownSender = HeaderDisplay::decodedText(row.record.sender);
        row.shownSubject = HeaderDisplay::decodedText(row.record.subject);
        row.shownTime = locale.toString(row.record.time.toLocalTime(), QLocale::ShortFormat);
        // What was done, where it was no plain deletion; unconfirmed when the
        // run ended before the server confirmed it.
        const QString done = row.record.action.isEmpty() ? QStringLiteral("deleted") : row.record.action;
        if (row.record.unconfirmed)
            row.shownTime += QStringLiteral(" (%1, unconfirmed)").arg(done);
        else if (!row.record.action.isEmpty())
            row.shownTime += QStringLiteral(" (%1)").arg(done);
        const QDateTime date = parseMessageDate(row.record.date);
        row.fullDate = HeaderDisplay::decodedText(row.record.date);
        if (date.isValid()) {
            row.shownDate = MessageFolderModel::compactDate(date.toLocalTime(), locale);
            row.dateMs = date.toMSecsSinceEpoch();
        } else {
            // A date that cannot be read sorts last, as in the message lists.
            row.shownDate = row.fullDate;
            row.dateMs = std::numeric_limits<qint64>::max();
        }
        m_rows.append(std::move(row));
    }
}

QString DeletionHistoryModel::countText(int deleted, int moved, int of)
{
    const int shown = deleted + moved;
    const QString lead = shown == of ? QString::number(shown) : QStringLiteral("%1 of %2").arg(shown).arg(of);
    const QString messages = of == 1 ? QStringLiteral("message") : QStringLiteral("messages");
    if (moved == 0)
        return QStringLiteral("%1 deleted %2").arg(lead, messages);
    if (deleted == 0)
        return QStringLiteral("%1 moved %2").arg(lead, messages);
    return QStringLiteral("%1 %2: %3 deleted, %4 moved").arg(lead, messages).arg(deleted).arg(moved);
}

int DeletionHistoryModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int DeletionHistoryModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant DeletionHistoryModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Row &row = m_rows.at(index.row());
    const DeletionRecord &r = row.record;
    if (role == SortRole) {
        if (index.column() == Deleted)
            return r.time.toMSecsSinceEpoch();
        if (index.column() == Date)
            return row.dateMs;
        if (index.column() == Size)
            return sizeBytes(r.size);
        return data(index, Qt::DisplayRole).toString().toLower();
    }
    if (role == Qt::TextAlignmentRole && index.column() == Size)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::ToolTipRole) {
        const QString whole = index.column() == Date ? row.fullDate : data(index, Qt::DisplayRole).toString();
        return whole.isEmpty() ? QVariant() : QVariant(HeaderDisplay::plainToolTip(whole));
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case Deleted:
        return row.shownTime;
    case Profile:
        return r.profile;
    case Sender:
        return row.shownSender;
    case Subject:
        return row.shownSubject;
    case Date:
        return row.shownDate;
    case Size:
        return r.size;
    case Rule:
        return r.rule;
    case UniqueId:
        return r.uid;
    }
    return {};
}

QVariant DeletionHistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char *const titles[ColumnCount] = {"Deleted", "Profile", "Sender", "Subject",
                                                    "Date",    "Size",    "Rule",   "Unique ID"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(titles[section]) : QVariant();
}
