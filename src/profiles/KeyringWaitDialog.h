#pragma once

#include "KeyringSecretStore.h"

// The window's wait for the desktop keyring: a busy box with Cancel, shown
// while the keyring is slow or its own prompt (the unlock) is open. It keeps
// the window painting and takes the input, so nothing else starts meanwhile.
KeyringWaitIndicator keyringWaitDialog();

// Lets the desktop keyring ask for its unlock, with that box shown. The
// window calls it; the command line never does (it must not ask).
void installKeyringWaitDialog();
