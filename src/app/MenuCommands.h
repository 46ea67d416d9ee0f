#pragma once

#include "Runs.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class CurrentProfile;
class HelpWindow;
class RuleDatabase;
class RuleLists;
class QWidget;
class ServerRulesNote;
class StatusPane;
struct MainMenus;

// The menu commands that open a window of their own: the deletion history
// and the rules on the server (File, and the Filter List's menu), the help
// pages and About (Help).
class MenuCommands : public QObject {
    Q_OBJECT
public:
    // `window` owns the dialogs; About is drawn at `dpi`.
    MenuCommands(RuleDatabase &database, const MainMenus &menus, double dpi, QWidget *window);

    // Where Help > Content opens.
    void setHelpFile(const QString &url) { m_helpFile = url; }
    // Closes the help window with the main window.
    void closeHelp();
    // Rules on the Server works on `profile`, and the status line says when
    // the server's copy of the rules is out of date.
    void serveRules(RuleLists &rules, CurrentProfile &profile, StatusPane &status,
                    std::function<Runs::CertificateHooks()> hooks);
    // Rules were changed where no menu command of the window shows it.
    void rulesChanged();

public Q_SLOTS:
    void mnuDeletionHistory_Click();
    void mnuServerRules_Click();
    void mnuHelpContent_Click();
    void mnuHelpAbout_Click();

private:
    RuleDatabase &m_ruleDb;
    double m_dpi;
    QWidget *m_window;
    QPointer<HelpWindow> m_help;
    QString m_helpFile;
    const MainMenus &m_menus;
    CurrentProfile *m_profile = nullptr;
    ServerRulesNote *m_serverNote = nullptr;
    std::function<Runs::CertificateHooks()> m_hooks;
};
