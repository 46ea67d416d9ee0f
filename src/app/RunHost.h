#pragma once

#include "RunStatus.h"

#include <QString>

class QWidget;
class MessageFolderModel;

// What the fetch and delete runs need of the main window. The main window
// implements it; tests implement it without a window.
class RunHost : public RunStatus {
public:
    virtual MessageFolderModel &inboxModel() = 0;
    virtual MessageFolderModel &recycleModel() = 0;
    // Selects the folder node with this key ("Inbox", "Recycle Bin").
    virtual void selectFolderNode(const QString &nodeKey) = 0;
    virtual void ShowInbox() = 0;
    virtual void ShowRecycleBin() = 0;
    // Repaints the main window and its folder tree at once.
    virtual void repaintNow() = 0;
    // The owner of the runs' modal dialogs (may be null in tests).
    virtual QWidget *dialogParent() = 0;
};
