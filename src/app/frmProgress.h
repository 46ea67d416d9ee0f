#pragma once

#include "ProgressDialog.h"

#include <QDialog>

class CancelFlag;
class QLabel;
class QPushButton;

// frmFetchInbox and frmEmptyRecycleBin: one form in two configurations.
class frmProgress : public QDialog, public ProgressControl {
    Q_OBJECT
public:
    frmProgress(ProgressKind kind, CancelFlag &cancel, std::function<void(ProgressControl &)> work,
                QWidget *parent = nullptr);

    void closeDialog() override;
    void repaintNow() override;

public Q_SLOTS:
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();
    void cmdCancel_Click();
    void Timer1_Timer();

    CancelFlag &m_cancel;
    std::function<void(ProgressControl &)> m_work;
    QLabel *Image1 = nullptr;
    QLabel *lblStatus = nullptr;
    QPushButton *cmdCancel = nullptr;
    bool m_timerArmed = true;
    bool m_closing = false;
};
