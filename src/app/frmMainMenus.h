#pragma once

#include <QString>

class QAction;
class QMainWindow;
class QMenu;

// The menu bar (File, Help) and the four menus that only open as context
// menus, with the design's captions and object names.
struct MainMenus {
    QMenu *mnuFile = nullptr;
    QAction *mnuImportRules = nullptr;
    QAction *mnuExportRules = nullptr;
    QAction *mnuLearnFromServer = nullptr;
    QAction *mnuResetLearning = nullptr;
    QAction *mnuResetAllLearning = nullptr;
    QAction *mnuScoreColumn = nullptr; // checkable: the lists' Score column
    QAction *mnuServerRules = nullptr;
    QAction *mnuDeletionHistory = nullptr;
    QAction *mnuExit = nullptr;
    QMenu *mnuHelp = nullptr;
    QAction *mnuHelpContent = nullptr;
    QAction *mnuHelpAbout = nullptr;

    QMenu *mnuInboxPopup = nullptr;
    QAction *mnuMoveToRecycle = nullptr;
    QAction *mnuAddSenderToFilter1 = nullptr;
    QAction *mnuAddDomainToFilter1 = nullptr;
    QAction *mnuExemptSenderFromFilter1 = nullptr;

    QMenu *mnuRecycleBinPopup = nullptr;
    QAction *mnuMoveToInbox = nullptr;
    QAction *mnuAddSenderToFilter2 = nullptr;
    QAction *mnuAddDomainToFilter2 = nullptr;
    QAction *mnuRemoveSenderFromFilter = nullptr;
    QAction *mnuRemoveDomainFromFilter = nullptr;
    QAction *mnuExemptSenderFromFilter2 = nullptr;

    QMenu *mnuFilterList = nullptr;
    QAction *mnuFilterAdd = nullptr;
    QAction *mnuFilterDelete = nullptr;
    QAction *mnuFilterSpamMarks = nullptr;
    QAction *mnuFilterServerRules = nullptr;

    QMenu *mnuExemptedList = nullptr;
    QAction *mnuExemptedAdd = nullptr;
    QAction *mnuExemptedDelete = nullptr;
};

// Builds the menus on `window`; the context menus are owned by the window
// but never appear in its menu bar.
MainMenus buildMainMenus(QMainWindow *window);
