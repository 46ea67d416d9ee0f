#pragma once

#include "CommandLine.h"

class RuleDatabase;

// `trelvik --sieve-upload`, `--sieve-status` and `--sieve-remove` of one
// profile: Trelvik's rules as a Sieve script on the profile's ManageSieve
// server. Exit codes as for --check; the text, or with --json one object.
namespace SieveServerCommand {

enum class Action { Upload, Status, Remove };

int run(Action action, const CommandLine::Options &options, const RuleDatabase &rules);

} // namespace SieveServerCommand
