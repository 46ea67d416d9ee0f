#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class HelpWindow;
class RuleDatabase;
class QWidget;
struct MainMenus;

// The menu commands that open a window of their own: the deletion history
// (File), the help pages and About (Help).
class MenuCommands : public QObject {
    Q_OBJECT
public:
    // `window` owns the dialogs; About is drawn at `dpi`.
    MenuCommands(RuleDatabase &database, const MainMenus &menus, double dpi, QWidget *window);

    // Where Help > Content opens.
    void setHelpFile(const QString &url) { m_helpFile = url; }
    // Closes the help window with the main window.
    void closeHelp();

public Q_SLOTS:
    void mnuDeletionHistory_Click();
    void mnuHelpContent_Click();
    void mnuHelpAbout_Click();

private:
    RuleDatabase &m_ruleDb;
    double m_dpi;
    QWidget *m_window;
    QPointer<HelpWindow> m_help;
    QString m_helpFile;
};
