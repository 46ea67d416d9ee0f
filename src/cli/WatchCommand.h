#pragma once

#include "CommandLine.h"

class RuleDatabase;

// `trelvik --watch`: keeps a connection to an IMAP profile's folder open and
// screens each message as it arrives (ImapWatch), printing a line for each
// one moved, until SIGINT or SIGTERM ends it.
namespace WatchCommand {

int run(const CommandLine::Options &options, RuleDatabase &rules);

} // namespace WatchCommand
