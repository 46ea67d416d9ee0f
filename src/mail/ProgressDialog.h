#pragma once

#include <functional>

class QWidget;

// The modal "Please wait..." dialogs of the fetch and delete runs, seen from
// the runs: the dialog calls the run's work once, about 100 ms after it has
// appeared, and the work closes it when done.
enum class ProgressKind { FetchInbox, EmptyRecycleBin };

class ProgressControl {
public:
    virtual ~ProgressControl() = default;
    // Closes the dialog (the work may go on, e.g. to show a box after it).
    virtual void closeDialog() = 0;
    virtual void repaintNow() = 0;
};

// Shows the dialog modally, owned by `parent`, and returns once it has
// closed. Loading it clears CancelRequested; its Cancel button and its close
// box raise it.
void runProgressDialog(ProgressKind kind, QWidget *parent, std::function<void(ProgressControl &)> work);
