#pragma once

class RunHost;
class RuleDatabase;
class Dialer;

// The two long operations behind the main window's buttons. Each checks the
// profile, switches sorting off on both lists, runs its modal progress dialog
// (optional dial-up, the operation, optional hang-up) and switches sorting on.
namespace Runs {

void cmdFetch_Click(RunHost &host, RuleDatabase &rules, Dialer &dialer);
void cmdConfirm_Click(RunHost &host, Dialer &dialer);

} // namespace Runs
