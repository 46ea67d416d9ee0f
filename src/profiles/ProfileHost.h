#pragma once

class QWidget;

// What the profile bar needs of the main window when the current profile
// changes: the message lists belong to the old profile's server.
class ProfileHost {
public:
    virtual ~ProfileHost() = default;
    virtual int recycleBinRowCount() const = 0;
    // Empties both message lists, the status text and the progress bar.
    virtual void clearMessageLists() = 0;
    virtual void ShowInbox() = 0;
    // Owner of the profile dialogs.
    virtual QWidget *dialogParent() = 0;
};
