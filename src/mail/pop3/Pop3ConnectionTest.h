#pragma once

#include "SessionOptions.h"
#include "TestedMailbox.h"

#include <memory>

class CancelFlag;
class RunStatus;
struct ProfileSettingsRecord;

// Test Connection over POP3: STAT says how many messages wait.
std::unique_ptr<TestedMailbox> pop3ConnectionTest(RunStatus &status, const ProfileSettingsRecord &settings,
                                                  CancelFlag &cancel, SessionOptions options);
