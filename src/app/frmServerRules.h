#pragma once

#include "CancelFlag.h"
#include "Runs.h"
#include "ServerRules.h"

#include <QDialog>
#include <optional>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class RuleDatabase;
class ServerRulesNote;

// "Rules on the Server": the current profile's rules as the script its
// ManageSieve server runs on delivery, the server's state, the rules the
// server's engine cannot run as Trelvik does (and why), and the commands
// that upload, update or remove Trelvik's script. Each command is one
// conversation with the server; while it lasts the dialog shows that it
// waits and offers Cancel, and the window stays live.
class frmServerRules : public QDialog {
    Q_OBJECT
public:
    struct Context {
        ProfileSettingsRecord &settings;
        QString profile;
        RuleDatabase &rules;
        Runs::CertificateHooks hooks;
        ServerRulesNote *note = nullptr; // told what the server holds
        ServerRules::Seams seams = {};
    };
    frmServerRules(Context context, QWidget *parent = nullptr);

    bool busy() const { return m_busy; }

Q_SIGNALS:
    // A conversation with the server ended (its boxes shown).
    void settled();

public Q_SLOTS:
    void cmdUpload_Click();
    void cmdRemove_Click();
    void cmdRefresh_Click();
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    // One conversation; false when it did not reach the server or was
    // refused (the user was told).
    bool converse(ServerRules::Action action);
    void setBusy(bool busy);
    void showReport();
    void showButtons();
    std::optional<ServerRules::Action> uploadAction();

    Context m_context;
    CancelFlag m_cancel;
    std::optional<ServerRules::Report> m_report; // the last that reached the server and ended well
    QString m_server; // host:port, once known
    bool m_busy = false;
    bool m_started = false;

    QLabel *lblServer = nullptr;
    QLabel *lblState = nullptr;
    QLabel *lblActive = nullptr;
    QLabel *lblDone = nullptr;
    QPlainTextEdit *txtScript = nullptr;
    QLabel *lblLeftOut = nullptr;
    QTreeWidget *lsvLeftOut = nullptr;
    QProgressBar *prgBusy = nullptr;
    QPushButton *cmdCancel = nullptr;
    QPushButton *cmdUpload = nullptr;
    QPushButton *cmdRemove = nullptr;
    QPushButton *cmdRefresh = nullptr;
    QPushButton *cmdClose = nullptr;
};
