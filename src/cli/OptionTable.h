#pragma once

#include "CommandLine.h"

#include <QString>
#include <QStringList>
#include <span>

class QCommandLineParser;
class RuleDatabase;

// Every option of the command line, declared once: the parser, the help,
// the checks of what goes with what and the choice of the command are all
// made from these rows.
namespace OptionTable {

enum class Kind {
    Action, // says what the run does: exactly one per run
    Modifier, // changes how an action runs
    Info, // --help and --version: answered before anything else
};

// What an option's value must be; None for an option without a value.
enum class Value { None, FileName, ProfileName, Seconds, Fingerprint };

struct Row {
    const char *name = nullptr;
    const char *shortName = nullptr;
    Kind kind = Kind::Modifier;
    Value value = Value::None;
    const char *valueName = nullptr; // shown in the help: "--profile <name>"
    const char *help = nullptr;

    // Where the option lands in Options: a flag, or its (normalised) text.
    bool CommandLine::Options::*flag = nullptr;
    QString CommandLine::Options::*text = nullptr;
    int CommandLine::Options::*number = nullptr;

    // A modifier needs one of these actions (names, blank-separated; none:
    // any action) and none of `notWith`; else "--NAME works only with
    // WITHTEXT.". It cannot be combined with `excludes` at all.
    const char *worksWith = nullptr;
    const char *notWith = nullptr;
    const char *withText = nullptr;
    const char *excludes = nullptr;

    // The command of an action.
    int (*run)(const CommandLine::Options &options, RuleDatabase &rules) = nullptr;
    // What an informational option prints.
    QString (*show)() = nullptr;
};

std::span<const Row> rows();

// The row of a long or short name; nullptr for any other.
const Row *find(QStringView name);

// Declares every row to the parser.
void addTo(QCommandLineParser &parser);

// The options the parsed arguments give, or false with the reason in *why
// when they do not make a run. `arguments` are the ones parsed: they tell a
// value joined to its option ("--profile=-x") from a word that follows it.
bool read(const QCommandLineParser &parser, const QStringList &arguments, CommandLine::Options *options,
          const Row **action, QString *why);

} // namespace OptionTable
