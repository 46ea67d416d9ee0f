#include "MenuCommands.h"

#include "DeletionHistory.h"
#include "HelpWindow.h"
#include "MessageBox.h"
#include "frmAbout.h"
#include "frmDeletionHistory.h"
#include "frmMainMenus.h"

#include <QAction>
#include <QUrl>

MenuCommands::MenuCommands(RuleDatabase &database, const MainMenus &menus, double dpi, QWidget *window)
    : QObject(window)
    , m_ruleDb(database)
    , m_dpi(dpi)
    , m_window(window)
{
    connect(menus.mnuDeletionHistory, &QAction::triggered, this, &MenuCommands::mnuDeletionHistory_Click);
    connect(menus.mnuHelpContent, &QAction::triggered, this, &MenuCommands::mnuHelpContent_Click);
    connect(menus.mnuHelpAbout, &QAction::triggered, this, &MenuCommands::mnuHelpAbout_Click);
}

void MenuCommands::closeHelp()
{
    if (m_help)
        m_help->close();
}

void MenuCommands::mnuDeletionHistory_Click()
{
    QString error;
    auto records = DeletionHistory(m_ruleDb).read(&error);
    if (!records) {
        MessageBox::show(QStringLiteral("The deletion history could not be read.\r\n") + error, QStringLiteral("Error"),
                         MessageBox::Icon::Critical);
        return;
    }
    frmDeletionHistory dialog(std::move(*records), m_window);
    dialog.exec();
}

void MenuCommands::mnuHelpContent_Click()
{
    if (!m_help)
        m_help = new HelpWindow(m_window);
    m_help->showPage(QUrl(m_helpFile));
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
}

void MenuCommands::mnuHelpAbout_Click()
{
    frmAbout about(m_window, m_dpi);
    about.exec();
}
