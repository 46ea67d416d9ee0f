#pragma once

#include "SessionOptions.h"
#include "TestedMailbox.h"

#include <memory>

class CancelFlag;
class RunStatus;
struct ProfileSettingsRecord;

// Test Connection over IMAP: the folder is opened read-only, and what the
// server lacks for emptying the Recycle Bin is said.
std::unique_ptr<TestedMailbox> imapConnectionTest(RunStatus &status, const ProfileSettingsRecord &settings,
                                                  CancelFlag &cancel, SessionOptions options);
