#pragma once

#include "CommandLine.h"

class RuleDatabase;

// --learn-spam PATH, --learn-ham PATH: lessons for a profile from mail the
// user already sorted (mbox, Maildir, .eml). --classify PATH|-: what the
// profile's learning thinks of one message, with no network.
// --reset-learning: forgets a profile's lessons, or (--all) every profile's.
namespace LearnCommand {

int learn(const CommandLine::Options &options, RuleDatabase &rules);
int reset(const CommandLine::Options &options, RuleDatabase &rules);
int classify(const CommandLine::Options &options, RuleDatabase &rules);

} // namespace LearnCommand
