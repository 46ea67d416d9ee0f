// Placeholder until the runs land.
#include "Runs.h"

namespace Runs {
void cmdFetch_Click(RunHost &, RuleDatabase &, Dialer &) {}
void cmdConfirm_Click(RunHost &, Dialer &) {}
} // namespace Runs
