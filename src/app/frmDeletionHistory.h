#pragma once

#include "DeletionHistory.h"

#include <QDialog>

class DeletionHistoryModel;
class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QTableView;

// File > Deletion History...: every message deleted on a server, newest
// first, in a list that sorts by any column and a search box that keeps the
// rows containing the typed text in any column.
class frmDeletionHistory : public QDialog {
    Q_OBJECT
public:
    explicit frmDeletionHistory(QList<DeletionRecord> records, QWidget *parent = nullptr);

private:
    void updateCount();

    DeletionHistoryModel *m_model = nullptr;
    QSortFilterProxyModel *m_proxy = nullptr;
    QLineEdit *txtSearch = nullptr;
    QTableView *lsvHistory = nullptr;
    QLabel *lblCount = nullptr;
};
