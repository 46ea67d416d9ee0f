#pragma once

#include "CommandLine.h"

class RuleDatabase;

// `trelvik --history [--json] [--profile NAME]`: every message deleted on a
// server, newest first.
namespace HistoryCommand {

int run(const CommandLine::Options &options, RuleDatabase &rules);

} // namespace HistoryCommand
