#include "MessageFolderModel.h"

#include <algorithm>

MessageFolderModel::MessageFolderModel(QObject *parent)
    : QAbstractTableModel(parent)
{
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
    const MessageEntry &e = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return e.text(index.column());
    case Qt::DecorationRole:
        if (index.column() == Sender && m_iconLookup)
            return m_iconLookup(e.iconKey);
        return {};
    case Qt::TextAlignmentRole:
        return index.column() == Size ? int(Qt::AlignRight | Qt::AlignVCenter)
                                      : int(Qt::AlignLeft | Qt::AlignVCenter);
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
        static const char *const titles[] = {"Sender", "Subject", "Date", "Priority", "Size"};
        if (section >= 0 && section < ColumnCount)
            return QString::fromLatin1(titles[section]);
    }
    if (role == Qt::TextAlignmentRole)
        return section == Size ? int(Qt::AlignRight | Qt::AlignVCenter)
                               : int(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

bool MessageFolderModel::less(const MessageEntry &a, const MessageEntry &b) const
{
    if (m_lessThan)
        return m_lessThan(a, b, m_sortColumn);
    return QString::compare(a.text(m_sortColumn), b.text(m_sortColumn), Qt::CaseInsensitive) < 0;
}

int MessageFolderModel::append(const MessageEntry &entry)
{
    int row = int(m_rows.size());
    if (m_sortingEnabled) {
        // Stable: an equal row goes after the ones already there.
        auto it = std::upper_bound(m_rows.begin(), m_rows.end(), entry,
                                   [this](const MessageEntry &a, const MessageEntry &b) { return less(a, b); });
        row = int(it - m_rows.begin());
    }
    beginInsertRows({}, row, row);
    m_rows.insert(row, entry);
    endInsertRows();
    Q_EMIT countChanged(count());
    return row;
}

void MessageFolderModel::removeAt(int row)
{
    (void)takeAt(row);
}

MessageEntry MessageFolderModel::takeAt(int row)
{
    beginRemoveRows({}, row, row);
    MessageEntry e = m_rows.takeAt(row);
    endRemoveRows();
    Q_EMIT countChanged(count());
    return e;
}

void MessageFolderModel::clear()
{
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
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
    std::stable_sort(order.begin(), order.end(),
                     [this](int a, int b) { return less(m_rows.at(a), m_rows.at(b)); });
    QList<MessageEntry> sorted;
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
