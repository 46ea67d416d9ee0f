#include "MenuCommands.h"

#include "DeletionHistory.h"
#include "HelpWindow.h"
#include "MessageBox.h"
#include "frmAbout.h"
#include "CurrentProfile.h"
#include "ServerRulesNote.h"
#include "StatusPane.h"
#include "frmDeletionHistory.h"
#include "frmMainMenus.h"
#include "frmServerRules.h"

#include <QAction>
#include <QMenu>
#include <QUrl>

MenuCommands::MenuCommands(RuleDatabase &database, const MainMenus &menus, double dpi, QWidget *window)
    : QObject(window)
    , m_ruleDb(database)
    , m_dpi(dpi)
    , m_window(window)
    , m_menus(menus)
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

void MenuCommands::serveRules(RuleLists &rules, CurrentProfile &profile, StatusPane &status,
                              std::function<Runs::CertificateHooks()> hooks)
{
    m_profile = &profile;
    m_hooks = std::move(hooks);
    m_serverNote = new ServerRulesNote(
        rules, profile, [&status](const QString &note) { status.setNote(note); }, this);
    // Every command of these menus may change the rules; the note looks once
    // the command has done its work (a list not shown changes no row).
    for (QMenu *menu :
         {m_menus.mnuInboxPopup, m_menus.mnuRecycleBinPopup, m_menus.mnuFilterList, m_menus.mnuExemptedList})
        for (QAction *action : menu->actions())
            m_serverNote->watch(action);
    m_serverNote->watch(m_menus.mnuImportRules);
    connect(m_menus.mnuServerRules, &QAction::triggered, this, &MenuCommands::mnuServerRules_Click);
    connect(m_menus.mnuFilterServerRules, &QAction::triggered, this, &MenuCommands::mnuServerRules_Click);
    m_serverNote->schedule();
}

void MenuCommands::rulesChanged()
{
    if (m_serverNote)
        m_serverNote->schedule();
}

void MenuCommands::mnuServerRules_Click()
{
    if (!m_profile || m_profile->name().isEmpty())
        return;
    frmServerRules dialog({m_profile->settings(), m_profile->name(), m_ruleDb,
                           m_hooks ? m_hooks() : Runs::CertificateHooks{}, m_serverNote},
                          m_window);
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
