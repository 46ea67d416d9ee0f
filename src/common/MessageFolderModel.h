#pragma once

#include "MessageEntry.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QList>
#include <functional>

// The rows of one message folder (Inbox or Recycle Bin). Views show the rows
// in the model's own order, so a position means the same in the view, the
// model and the code: row r here is position r + 1.
//
// Sorting lives here, not in a proxy: while sorting is on, the rows are kept
// ordered by the sort column (ascending, stable) and appended rows are placed
// by it; while it is off, rows stay where they were put.
class MessageFolderModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Sender = 0, Subject, Date, Priority, Size, ColumnCount };
    enum Role { NumberRole = Qt::UserRole + 1, IconKeyRole, UidRole };

    using IconLookup = std::function<QIcon(const QString &key)>;

    explicit MessageFolderModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    int count() const { return int(m_rows.size()); }
    const MessageEntry &entry(int row) const { return m_rows.at(row); }
    // Appends (or, with sorting on, inserts in order); returns the row used.
    int append(const MessageEntry &entry);
    void removeAt(int row);
    MessageEntry takeAt(int row);
    void clear();

    // The column last chosen to sort by (Sender until one is chosen).
    int sortColumn() const { return m_sortColumn; }
    void setSortColumn(int column);
    bool isSortingEnabled() const { return m_sortingEnabled; }
    // Switching sorting on reorders the rows at once.
    void setSortingEnabled(bool enabled);

    void setIconLookup(IconLookup lookup) { m_iconLookup = std::move(lookup); }

    // Orders two rows by a column; replaceable so that columns can sort by
    // something other than their text (dates by time, sizes by bytes).
    using LessThan = std::function<bool(const MessageEntry &, const MessageEntry &, int column)>;
    void setLessThan(LessThan lessThan);

Q_SIGNALS:
    void countChanged(int count);

private:
    void sortRows();
    bool less(const MessageEntry &a, const MessageEntry &b) const;

    QList<MessageEntry> m_rows;
    int m_sortColumn = Sender;
    bool m_sortingEnabled = false;
    IconLookup m_iconLookup;
    LessThan m_lessThan;
};
