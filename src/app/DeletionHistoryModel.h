#pragma once

#include "DeletionHistory.h"

#include <QAbstractTableModel>
#include <QList>

// The deletion history as a table: one row per deleted message, newest
// first. Sender and subject are shown decoded; SortRole gives what a column
// sorts by (the time, the size in bytes, else the shown text).
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

private:
    struct Row {
        DeletionRecord record;
        QString shownSender;
        QString shownSubject;
        QString shownTime;
    };
    QList<Row> m_rows;
};
