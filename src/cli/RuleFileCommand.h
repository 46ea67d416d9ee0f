#pragma once

#include "CommandLine.h"

class RuleDatabase;

// `trelvik --import-rules FILE` and `trelvik --export-rules FILE`: the rule
// lists to and from a rule file (RuleFile), with the import's report.
namespace RuleFileCommand {

int importRules(const CommandLine::Options &options, RuleDatabase &rules);
int exportRules(const CommandLine::Options &options, const RuleDatabase &rules);

} // namespace RuleFileCommand
