#pragma once

#include <functional>

// Runs a rule command; a failing lookup is shown as the run-time error it is
// instead of ending the program.
void guarded(const std::function<void()> &command);
