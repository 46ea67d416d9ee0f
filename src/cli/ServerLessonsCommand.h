#pragma once

#include "CommandLine.h"

class RuleDatabase;

// `trelvik --learn-from-server [--profile P] [--json]`: lessons for an IMAP
// profile from the mail its user already sorted on the server (the Junk
// folder as spam, INBOX and an archive folder as good mail), headers only,
// read-only. Prints how many new lessons of each kind were taken.
namespace ServerLessonsCommand {

int run(const CommandLine::Options &options, RuleDatabase &rules);

} // namespace ServerLessonsCommand
