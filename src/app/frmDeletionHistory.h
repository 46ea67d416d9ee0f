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

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateCount();
    // The width every column's contents and title ask for, within a sensible
    // share for the long ones (sender, subject, rule, id).
    int wantedWidth(int column) const;
    // Gives each column what it wants while the list has room; when it has
    // not, Subject and Sender give way first, then Rule, Unique ID and
    // Profile, so that the short columns stay in sight. Stops once the user
    // sizes a column by hand.
    void fitColumns();

    DeletionHistoryModel *m_model = nullptr;
    QSortFilterProxyModel *m_proxy = nullptr;
    QLineEdit *txtSearch = nullptr;
    QTableView *lsvHistory = nullptr;
    QLabel *lblCount = nullptr;
    QList<int> m_wanted;
    bool m_fitting = false;
    bool m_userSized = false;
};
