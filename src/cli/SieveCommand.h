#pragma once

#include "CommandLine.h"

class RuleDatabase;

// `trelvik --sieve-export FILE`: both rule lists as a Sieve script for the
// mail server, written to a file without asking any server; the rules the
// script leaves out are listed with the reason.
namespace SieveCommand {

int exportScript(const QString &path, bool quiet, const RuleDatabase &rules);

} // namespace SieveCommand
