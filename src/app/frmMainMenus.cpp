#include "frmMainMenus.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace {

QMenu *menu(QWidget *owner, const QString &name, const QString &title)
{
    auto *m = new QMenu(title, owner);
    m->setObjectName(name);
    QString plain = title;
    m->setAccessibleName(plain.remove(QLatin1Char('&')));
    return m;
}

QAction *item(QMenu *m, const QString &name, const QString &text)
{
    QAction *a = m->addAction(text);
    a->setObjectName(name);
    return a;
}

void separator(QMenu *m, const QString &name)
{
    m->addSeparator()->setObjectName(name);
}

} // namespace

MainMenus buildMainMenus(QMainWindow *window)
{
    MainMenus m;
    QMenuBar *bar = window->menuBar();
    bar->setObjectName(QStringLiteral("MenuBar"));
    bar->setAccessibleName(QStringLiteral("Menu Bar"));

    m.mnuFile = menu(window, QStringLiteral("mnuFile"), QStringLiteral("&File"));
    m.mnuImportRules = item(m.mnuFile, QStringLiteral("mnuImportRules"), QStringLiteral("&Import Rules..."));
    m.mnuExportRules = item(m.mnuFile, QStringLiteral("mnuExportRules"), QStringLiteral("&Export Rules..."));
    separator(m.mnuFile, QStringLiteral("sepFileRules"));
    m.mnuLearnFromServer = item(m.mnuFile, QStringLiteral("mnuLearnFromServer"),
                                QStringLiteral("&Learn From Server Folders"));
    m.mnuResetLearning = item(m.mnuFile, QStringLiteral("mnuResetLearning"), QStringLiteral("Reset Learnin&g..."));
    m.mnuResetAllLearning = item(m.mnuFile, QStringLiteral("mnuResetAllLearning"),
                                 QStringLiteral("Reset Learning of &All Profiles..."));
    // The header menu's choice too, here for the keyboard, which cannot open that menu.
    m.mnuScoreColumn = item(m.mnuFile, QStringLiteral("mnuScoreColumn"), QStringLiteral("Show &Score Column"));
    m.mnuScoreColumn->setCheckable(true);
    m.mnuServerRules = item(m.mnuFile, QStringLiteral("mnuServerRules"), QStringLiteral("&Rules on the Server..."));
    m.mnuDeletionHistory = item(m.mnuFile, QStringLiteral("mnuDeletionHistory"),
                                QStringLiteral("Deletion &History..."));
    separator(m.mnuFile, QStringLiteral("sepFile"));
    m.mnuExit = item(m.mnuFile, QStringLiteral("mnuExit"), QStringLiteral("E&xit"));
    bar->addMenu(m.mnuFile);

    m.mnuHelp = menu(window, QStringLiteral("mnuHelp"), QStringLiteral("&Help"));
    m.mnuHelpContent = item(m.mnuHelp, QStringLiteral("mnuHelpContent"), QStringLiteral("&Content"));
    m.mnuHelpContent->setShortcut(QKeySequence::HelpContents);
    separator(m.mnuHelp, QStringLiteral("sepHelp"));
    m.mnuHelpAbout = item(m.mnuHelp, QStringLiteral("mnuHelpAbout"), QStringLiteral("&About"));
    bar->addMenu(m.mnuHelp);
    // The shortcut works while the menu is closed only if the window has it.
    window->addAction(m.mnuHelpContent);

    m.mnuInboxPopup = menu(window, QStringLiteral("mnuInboxPopup"), QStringLiteral("Inbox Popup"));
    m.mnuMoveToRecycle = item(m.mnuInboxPopup, QStringLiteral("mnuMoveToRecycle"),
                              QStringLiteral("Move To &Recycle Bin"));
    separator(m.mnuInboxPopup, QStringLiteral("SepInbox1"));
    m.mnuAddSenderToFilter1 = item(m.mnuInboxPopup, QStringLiteral("mnuAddSenderToFilter1"),
                                   QStringLiteral("Add &Sender To Filter List"));
    m.mnuAddDomainToFilter1 = item(m.mnuInboxPopup, QStringLiteral("mnuAddDomainToFilter1"),
                                   QStringLiteral("Add &Domain To Filter List"));
    separator(m.mnuInboxPopup, QStringLiteral("sepInbox2"));
    m.mnuExemptSenderFromFilter1 = item(m.mnuInboxPopup, QStringLiteral("mnuExemptSenderFromFilter1"),
                                        QStringLiteral("&Exempt Sender From Filter"));

    m.mnuRecycleBinPopup = menu(window, QStringLiteral("mnuRecycleBinPopup"), QStringLiteral("Recycle Bin Popup"));
    m.mnuMoveToInbox = item(m.mnuRecycleBinPopup, QStringLiteral("mnuMoveToInbox"), QStringLiteral("Move To &Inbox"));
    separator(m.mnuRecycleBinPopup, QStringLiteral("SepRecycle1"));
    m.mnuAddSenderToFilter2 = item(m.mnuRecycleBinPopup, QStringLiteral("mnuAddSenderToFilter2"),
                                   QStringLiteral("Add &Sender To Filter List"));
    m.mnuAddDomainToFilter2 = item(m.mnuRecycleBinPopup, QStringLiteral("mnuAddDomainToFilter2"),
                                   QStringLiteral("Add &Domain To Filter List"));
    separator(m.mnuRecycleBinPopup, QStringLiteral("SepRecycle2"));
    m.mnuRemoveSenderFromFilter = item(m.mnuRecycleBinPopup, QStringLiteral("mnuRemoveSenderFromFilter"),
                                       QStringLiteral("&Remove Sender From Filter List"));
    m.mnuRemoveDomainFromFilter = item(m.mnuRecycleBinPopup, QStringLiteral("mnuRemoveDomainFromFilter"),
                                       QStringLiteral("Remove D&omain From Filter List"));
    separator(m.mnuRecycleBinPopup, QStringLiteral("SepRecycle3"));
    m.mnuExemptSenderFromFilter2 = item(m.mnuRecycleBinPopup, QStringLiteral("mnuExemptSenderFromFilter2"),
                                        QStringLiteral("&Exempt Sender From Filter"));

    m.mnuFilterList = menu(window, QStringLiteral("mnuFilterList"), QStringLiteral("Filter List"));
    m.mnuFilterAdd = item(m.mnuFilterList, QStringLiteral("mnuFilterAdd"), QStringLiteral("&Add"));
    m.mnuFilterDelete = item(m.mnuFilterList, QStringLiteral("mnuFilterDelete"), QStringLiteral("&Delete"));
    separator(m.mnuFilterList, QStringLiteral("sepFilterList"));
    m.mnuFilterSpamMarks = item(m.mnuFilterList, QStringLiteral("mnuFilterSpamMarks"),
                                QStringLiteral("Add Server &Spam Marks"));
    m.mnuFilterServerRules = item(m.mnuFilterList, QStringLiteral("mnuFilterServerRules"),
                                  QStringLiteral("&Rules on the Server..."));

    m.mnuExemptedList = menu(window, QStringLiteral("mnuExemptedList"), QStringLiteral("ExemptedList"));
    m.mnuExemptedAdd = item(m.mnuExemptedList, QStringLiteral("mnuExemptedAdd"), QStringLiteral("&Add"));
    m.mnuExemptedDelete = item(m.mnuExemptedList, QStringLiteral("mnuExemptedDelete"), QStringLiteral("&Delete"));
    return m;
}
