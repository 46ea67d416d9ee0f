#pragma once

#include "Pop3Session.h"

#include <QString>

namespace Global { struct ProfileSettingsRecord; }

struct TestConnectionResult {
    bool ok = false;
    // One text saying what worked, or at which step and why it failed.
    QString text;
};

// Connects with the given values, secures the channel as they ask, logs in,
// asks how many messages wait, and quits. Shows no box of its own: what a
// run would show is folded into the text. The password never appears in it.
// A Cancel of the program's progress dialogs does not concern it.
TestConnectionResult testConnection(const Global::ProfileSettingsRecord &settings, SessionOptions options = {});
