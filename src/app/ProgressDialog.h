#pragma once

#include "RunPerson.h"

#include <functional>

class CancelFlag;
class QWidget;

// The modal "Please wait..." dialogs of the fetch and delete runs: the
// dialog calls the run's work once, about 100 ms after it has appeared, and
// the work closes it when done. Shows the dialog modally, owned by
// `parent`, and returns once it has closed. Loading it clears `cancel`; its
// Cancel button and its close box raise it.
void runProgressDialog(ProgressKind kind, QWidget *parent, CancelFlag &cancel,
                       std::function<void(ProgressControl &)> work);
