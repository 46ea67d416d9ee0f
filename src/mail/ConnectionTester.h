#pragma once

#include "MailResult.h"
#include "SessionOptions.h"

#include <QString>

#include <functional>

struct ProfileSettingsRecord;
class CancelFlag;

struct TestConnectionResult {
    bool ok = false;
    // One text saying what worked, or at which step and why it failed.
    QString text;
    // The refresh token the provider gave in place of the tested one, when
    // the test renewed the sign-in: the old one may be withdrawn already, so
    // the caller must keep this one (also after a cancelled test).
    QString renewedRefreshToken = {};
};

// Connects with the given values, secures the channel as they ask, logs in,
// asks how many messages wait (IMAP: opens the folder read-only, and says
// what the server lacks for emptying the Recycle Bin), and quits. A password login without a
// password is not tried (the reason the keyring gave, if any, is the text).
// An OAuth2 profile gets its access tokens from the settings' sign-in unless
// `options` brings a source. Shows no box of its own: what a
// run would show is folded into the text. The password never appears in it.
// A Cancel of the program's progress dialogs does not concern it.
//
// For a user who watches: `step` hears each step as it begins ("Connecting
// to ...", "Logging in ..."), and setting `cancel` ends the test at its next
// wait, with the text "Test cancelled.".
//
// `words` tells a failure as the caller's front end does, its remedy
// included; unset, the text is the failure's facts alone.
struct TestConnectionHooks {
    std::function<void(const QString &step)> step;
    CancelFlag *cancel = nullptr;
    std::function<QString(const MailResult &why)> words = {};
};
TestConnectionResult testConnection(const ProfileSettingsRecord &settings, SessionOptions options = {},
                                    const TestConnectionHooks &hooks = {});
