#include "MessageFolderModel.h"

#include "HeaderDisplay.h"
#include "MessageDate.h"

#include <QLocale>
#include <algorithm>

namespace {

// The size text is thousands of bytes and "K" ("  100K"); a bare number is
// read in the same unit, and M or G (with or without a B) are understood too.
// Read in place: every row of a large fetch is read.
bool parseSize(QStringView text, qint64 *bytes)
{
    const QStringView t = text.trimmed();
    qsizetype digits = 0;
    while (digits < t.size() && t.at(digits).unicode() >= u'0' && t.at(digits).unicode() <= u'9')
        ++digits;
    if (digits == 0 || digits > 12)
        return false;
    const QStringView unit = t.sliced(digits).trimmed();
    qint64 factor = 0;
    const auto is = [&unit](QStringView name) { return unit.compare(name, Qt::CaseInsensitive) == 0; };
    if (unit.isEmpty() || is(u"K") || is(u"KB"))
        factor = 1000;
    else if (is(u"M") || is(u"MB"))
        factor = 1000 * 1000;
    else if (is(u"G") || is(u"GB"))
        factor = 1000 * 1000 * 1000;
    else
        return false;
    *bytes = t.first(digits).toLongLong() * factor;
    return true;
}

} // namespace

QString MessageFolderModel::compactDate(const QDateTime &local, const QLocale &locale)
{
    QString dateFormat = locale.dateFormat(QLocale::ShortFormat);
    if (dateFormat.contains(QLatin1String("yyyy")))
        dateFormat.replace(QLatin1String("yyyy"), QLatin1String("yy"));
    QString timeFormat = locale.timeFormat(QLocale::ShortFormat);
    timeFormat.remove(QLatin1String(":ss"));
    return locale.toString(local.date(), dateFormat) + QLatin1Char(' ') + locale.toString(local.time(), timeFormat);
}

QStringList MessageFolderModel::compactDateSamples(const QLocale &locale)
{
    // Two-digit days and months, long month names, a morning and an
    // afternoon hour with two digits.
    QStringList samples;
    for (int month : {5, 9, 12})
        for (const QTime &time : {QTime(10, 58), QTime(22, 58)})
            samples << compactDate(QDateTime(QDate(2026, month, 28), time), locale);
    return samples;
}

MessageFolderModel::MessageFolderModel(QObject *parent)
    : QAbstractTableModel(parent)
{
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
}

MessageFolderModel::Row MessageFolderModel::makeRow(MessageEntry entry)
{
    Row row;
    row.entry = std::move(entry);
    QString &rule = row.entry.sortReason.rule;
    if (!rule.isEmpty())
        rule = *m_ruleTexts.insert(rule);
    row.hasSize = parseSize(row.entry.size, &row.sizeBytes);
    row.texts = m_displayed ? Row::Texts::ToRead : Row::Texts::Raw;
    return row;
}

const MessageFolderModel::Row &MessageFolderModel::ready(const Row &row)
{
    if (row.texts != Row::Texts::ToRead)
        return row;
    row.texts = Row::Texts::Read;
    const MessageEntry &e = row.entry;
    const QDateTime time = parseMessageDate(e.date);
    row.hasTime = time.isValid();
    if (row.hasTime)
        row.time = time.toMSecsSinceEpoch();
    for (const int column : {Sender, Subject, Date}) {
        if (column == Date && row.hasTime)
            break;
        const QString raw = e.text(column);
        QString shown = HeaderDisplay::decodedText(raw);
        if (shown == raw)
            continue;
        shown.squeeze();
        row.shown.append(std::move(shown));
        row.decoded |= quint8(1u << column);
    }
    row.shown.squeeze();
    return row;
}

// A column's text decoded for showing, or the raw text where that is the same.
QString MessageFolderModel::readableText(const Row &row, int column)
{
    if (column > Date || !(row.decoded & (1u << column)))
        return row.entry.text(column);
    // Its place among the decoded ones: the bits below its own.
    return row.shown.at(qPopulationCount(quint8(row.decoded & ((1u << column) - 1))));
}

QString MessageFolderModel::shownText(const Row &row, int column) const
{
    if (column == Date && row.hasTime)
        return compactDate(QDateTime::fromMSecsSinceEpoch(row.time).toLocalTime());
    if (column == Score)
        return hasScore(row.entry) ? QStringLiteral("%1 %").arg(row.entry.sortReason.percent) : QString();
    return readableText(row, column);
}

bool MessageFolderModel::hasScore(const MessageEntry &entry)
{
    return entry.sortReason.kind == SortReason::Kind::Learned;
}

int MessageFolderModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int MessageFolderModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant MessageFolderModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Row &r = ready(m_rows.at(index.row()));
    const MessageEntry &e = r.entry;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return shownText(r, index.column());
    case RawTextRole:
        return e.text(index.column());
    case Qt::ToolTipRole:
        // The whole sender, address and all, however narrow the column; and
        // as sent, when that differs, for a reader who wants to see what was
        // decoded.
        if (const QString sender = readableText(r, Sender); index.column() == Sender && !sender.isEmpty())
            return HeaderDisplay::plainToolTip(sender == e.sender ? sender : sender + QLatin1Char('\n') + e.sender);
        if (index.column() == Date && r.hasTime)
            return HeaderDisplay::plainToolTip(
                QLocale().toString(QDateTime::fromMSecsSinceEpoch(r.time).toLocalTime(), QLocale::LongFormat));
        return {};
    case Qt::DecorationRole:
        if (index.column() == Sender && m_iconLookup)
            return m_iconLookup(e.iconKey);
        return {};
    case Qt::TextAlignmentRole:
        return alignment(index.column());
    case NumberRole:
        return e.number;
    case IconKeyRole:
        return e.iconKey;
    case UidRole:
        return e.uid;
    default:
        return {};
    }
}

QVariant MessageFolderModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole) {
        static const char *const titles[] = {"Sender", "Subject", "Date", "Priority", "Size", "Score"};
        if (section >= 0 && section < ColumnCount)
            return QString::fromLatin1(titles[section]);
    }
    if (role == Qt::TextAlignmentRole)
        return alignment(section);
    return {};
}

int MessageFolderModel::alignment(int column)
{
    // Numbers line up on the right.
    return column == Size || column == Score ? int(Qt::AlignRight | Qt::AlignVCenter)
                                             : int(Qt::AlignLeft | Qt::AlignVCenter);
}

bool MessageFolderModel::less(const Row &rowA, const Row &rowB) const
{
    if (m_lessThan)
        return m_lessThan(rowA.entry, rowB.entry, m_sortColumn);
    if (m_sortColumn == Score) {
        const bool a = hasScore(rowA.entry);
        const bool b = hasScore(rowB.entry);
        if (a != b)
            return a;
        return a && rowA.entry.sortReason.percent < rowB.entry.sortReason.percent;
    }
    // Rows with a time (or a size) come first, in that order; the others
    // after them, by their text.
    if (m_sortColumn == Size && (rowA.hasSize || rowB.hasSize)) {
        if (rowA.hasSize != rowB.hasSize)
            return rowA.hasSize;
        return rowA.sizeBytes < rowB.sizeBytes;
    }
    const Row &a = ready(rowA);
    const Row &b = ready(rowB);
    if (m_sortColumn == Date && (a.hasTime || b.hasTime)) {
        if (a.hasTime != b.hasTime)
            return a.hasTime;
        return a.time < b.time;
    }
    return m_collator.compare(shownText(a, m_sortColumn), shownText(b, m_sortColumn)) < 0;
}

int MessageFolderModel::append(const MessageEntry &entry)
{
    Row added = makeRow(entry);
    int row = int(m_rows.size());
    if (m_sortingEnabled) {
        // Stable: an equal row goes after the ones already there.
        auto it = std::upper_bound(m_rows.begin(), m_rows.end(), added,
                                   [this](const Row &a, const Row &b) { return less(a, b); });
        row = int(it - m_rows.begin());
    }
    beginInsertRows({}, row, row);
    m_rows.insert(row, std::move(added));
    endInsertRows();
    Q_EMIT countChanged(count());
    return row;
}

void MessageFolderModel::appendRows(QList<MessageEntry> entries)
{
    if (entries.isEmpty())
        return;
    if (m_sortingEnabled) {
        // Each goes to its own place in the order.
        for (MessageEntry &entry : entries)
            append(std::move(entry));
        return;
    }
    const int first = int(m_rows.size());
    beginInsertRows({}, first, first + int(entries.size()) - 1);
    for (MessageEntry &entry : entries)
        m_rows.append(makeRow(std::move(entry)));
    endInsertRows();
    Q_EMIT countChanged(count());
}

void MessageFolderModel::removeAt(int row)
{
    (void)takeAt(row);
}

MessageEntry MessageFolderModel::takeAt(int row)
{
    beginRemoveRows({}, row, row);
    MessageEntry e = m_rows.takeAt(row).entry;
    endRemoveRows();
    Q_EMIT countChanged(count());
    return e;
}

void MessageFolderModel::setSortReason(int row, const SortReason &reason)
{
    SortReason &kept = m_rows[row].entry.sortReason;
    kept = reason;
    if (!kept.rule.isEmpty())
        kept.rule = *m_ruleTexts.insert(kept.rule);
    Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void MessageFolderModel::setSortReasons(const QList<QPair<int, SortReason>> &changes)
{
    for (const auto &[row, reason] : changes)
        setSortReason(row, reason);
    if (!changes.isEmpty() && m_sortingEnabled && m_sortColumn == Score)
        sortRows();
}

void MessageFolderModel::clear()
{
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    m_ruleTexts.clear();
    endResetModel();
    Q_EMIT countChanged(0);
}

void MessageFolderModel::setSortColumn(int column)
{
    if (column < 0 || column >= ColumnCount)
        return;
    m_sortColumn = column;
    if (m_sortingEnabled)
        sortRows();
}

void MessageFolderModel::setSortingEnabled(bool enabled)
{
    m_sortingEnabled = enabled;
    if (enabled)
        sortRows();
}

void MessageFolderModel::sort(int column, Qt::SortOrder)
{
    // Every sort is ascending: a second request for the same column sorts the
    // same way again.
    m_sortColumn = column;
    m_sortingEnabled = true;
    sortRows();
}

void MessageFolderModel::setLessThan(LessThan lessThan)
{
    m_lessThan = std::move(lessThan);
    if (m_sortingEnabled)
        sortRows();
}

void MessageFolderModel::sortRows()
{
    if (m_rows.size() < 2)
        return;
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    QList<int> order(m_rows.size());
    for (int i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [this](int a, int b) { return less(m_rows.at(a), m_rows.at(b)); });
    QList<Row> sorted;
    sorted.reserve(m_rows.size());
    QList<int> newRowOf(m_rows.size());
    for (int i = 0; i < order.size(); ++i) {
        sorted.append(std::move(m_rows[order[i]]));
        newRowOf[order[i]] = i;
    }
    m_rows = std::move(sorted);
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex &idx : before)
        after.append(index(newRowOf.at(idx.row()), idx.column()));
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
