#pragma once

#include "DeletionHistory.h"

#include <QAbstractTableModel>
#include <QList>

// The deletion history as a table: one row per deleted message, newest
// first. Sender and subject are shown decoded, the message's date as in the
// message lists; SortRole gives what a column sorts by (the times, the size
// in bytes, else the shown text). Tooltips show the whole text, never markup.
class DeletionHistoryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Deleted = 0, Profile, Sender, Subject, Date, Size, Rule, UniqueId, ColumnCount };
    static constexpr int SortRole = Qt::UserRole + 1;

    explicit DeletionHistoryModel(QList<DeletionRecord> records, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // The row's message was moved to another folder, not deleted.
    bool isMove(int row) const { return !m_rows.at(row).record.action.isEmpty(); }
    // "23 deleted messages", "3 moved messages", "23 messages: 20 deleted,
    // 3 moved"; with `of` (the rows there are) larger: "5 of 23 ...".
    static QString countText(int deleted, int moved, int of);

private:
    struct Row {
        DeletionRecord record;
        QString shownSender;
        QString shownSubject;
        QString shownTime;
        QString shownDate; // compact, as in the message lists
        QString fullDate; // for the tooltip
        qint64 dateMs = 0; // what the Date column sorts by
    };
    QList<Row> m_rows;
};
