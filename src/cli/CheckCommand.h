#pragma once

#include "CommandLine.h"

class RuleDatabase;

// `trelvik --check [--delete]`: fetches and sorts the profile's mailbox
// through the same fetch as the window, prints the result and, with
// --delete, empties the Recycle Bin through the same safe deletion, records
// what the server removed and sends a desktop notification about it.
namespace CheckCommand {

int run(const CommandLine::Options &options, RuleDatabase &rules);

} // namespace CheckCommand
