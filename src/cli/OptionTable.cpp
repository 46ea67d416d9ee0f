#include "OptionTable.h"

#include "CheckCommand.h"
#include "HistoryCommand.h"
#include "LearnCommand.h"
#include "RuleFileCommand.h"
#include "ServerLessonsCommand.h"
#include "SieveCommand.h"
#include "SieveServerCommand.h"
#include "WatchCommand.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace OptionTable {

namespace {

using CommandLine::Options;
using SieveAction = SieveServerCommand::Action;

// The order is the help's.
const Row kRows[] = {
    {.name = "check",
     .kind = Kind::Action,
     .help = "Fetch the headers of the profile's waiting messages, sort them by the rules as the window does and print "
             "one line per message: folder, sender, subject, date, size and the rule that sorted it. Nothing is "
             "deleted.",
     .flag = &Options::check,
     .run = CheckCommand::run},
    {.name = "delete",
     .help = "With --check: then delete the Recycle Bin messages on the server, as the window's Empty Recycle Bin "
             "does, print what was deleted and what was not, record the deleted ones in the deletion history and "
             "show a desktop notification.",
     .flag = &Options::del,
     .worksWith = "check",
     .withText = "--check"},
    {.name = "watch",
     .kind = Kind::Action,
     .help = "Keep watching an IMAP profile's folder (--profile, or the one used last) and screen each message that "
             "arrives from now on as it comes: a filter hit, or a message the learning judges spam where no rule "
             "decides, is moved to the profile's folder (Junk, or the one "
             "chosen; a profile whose Empty Recycle Bin deletes moves to Trash: nothing is deleted unattended), "
             "recorded in the deletion history and printed as a line. Messages already there are left to --check. "
             "Waits with IDLE, or asks every minute where the server lacks it; a lost connection is made again. Runs "
             "until Ctrl+C or SIGTERM.",
     .flag = &Options::watch,
     .run = WatchCommand::run},
    {.name = "json",
     .help = "With --check, --history, --classify, --learn-from-server or the --sieve- actions: print one JSON "
             "document instead.",
     .flag = &Options::json,
     .worksWith = "check history classify sieve-upload sieve-status sieve-remove learn-from-server",
     .withText = "--check, --history, --classify, --learn-from-server and the --sieve- actions"},
    {.name = "profile",
     .value = Value::ProfileName,
     .valueName = "name",
     .help = "The profile to check (default: the one used last). With --history: only its entries.",
     .text = &Options::profile},
    {.name = "all",
     .help = "With --check: check every profile in turn, each as --profile would; one that fails does not stop the "
             "others. The report has a part for each profile (with --json, one document listing them), one desktop "
             "notification sums the run up, and the exit code is the worst of the profiles' (from best to worst: 0, "
             "6, 5, 4, 3, 1). With --reset-learning: forget what every profile learned.",
     .flag = &Options::all,
     .worksWith = "check reset-learning",
     .withText = "--check and --reset-learning",
     .excludes = "profile"},
    {.name = "trust-certificate",
     .value = Value::Fingerprint,
     .valueName = "sha256",
     .help = "With --check: when the server presents a certificate that is not trusted (the error names its SHA-256 "
             "fingerprint), trust it if its fingerprint is this one, and keep that trust for the profile as the "
             "window's Trust This Certificate does. Hex digits, colons and spaces between them allowed.",
     .text = &Options::trustCertificate,
     .worksWith = "check",
     .notWith = "all",
     .withText = "--check of one profile"},
    {.name = "history",
     .kind = Kind::Action,
     .help = "Print the deletion history, newest first: time, profile, sender, subject, date, size, unique id and "
             "the rule that put the message in the Recycle Bin.",
     .flag = &Options::history,
     .run = HistoryCommand::run},
    {.name = "import-rules",
     .kind = Kind::Action,
     .value = Value::FileName,
     .valueName = "file",
     .help = "Add the rules of a rule file to the lists: UTF-8 text, one rule a line, \"filter RULE\" or \"exempt "
             "RULE\"; lines starting with # and blank lines are skipped. Prints how many were added, already present "
             "and refused, and the first refused line. Nothing is imported when the file cannot be read.",
     .text = &Options::importFile,
     .run = RuleFileCommand::importRules},
    {.name = "export-rules",
     .kind = Kind::Action,
     .value = Value::FileName,
     .valueName = "file",
     .help = "Write both rule lists to a rule file.",
     .text = &Options::exportFile,
     .run = [](const Options &o, RuleDatabase &rules) { return RuleFileCommand::exportRules(o, rules); }},
    {.name = "learn-spam",
     .kind = Kind::Action,
     .value = Value::FileName,
     .valueName = "path",
     .help = "Teach the profile (--profile, default the one used last) that the messages of an mbox file, a Maildir "
             "or a single message file are spam. Only their headers are read; a message learned so before teaches "
             "nothing again.",
     .text = &Options::learnSpam,
     .run = LearnCommand::learn},
    {.name = "learn-ham",
     .kind = Kind::Action,
     .value = Value::FileName,
     .valueName = "path",
     .help = "The same for good mail.",
     .text = &Options::learnHam,
     .run = LearnCommand::learn},
    {.name = "learn-from-server",
     .kind = Kind::Action,
     .help = "Teach an IMAP profile (--profile, default the one used last) from the mail already sorted on its "
             "server: the Junk folder as spam, INBOX and an archive folder as good mail, the newest 2000 messages of "
             "each. Only headers are read, the folders read-only: no flag changes. Prints how many new lessons of "
             "each kind were taken (with --json, one JSON document); a message taught before teaches nothing again.",
     .flag = &Options::learnFromServer,
     .run = ServerLessonsCommand::run},
    {.name = "reset-learning",
     .kind = Kind::Action,
     .help = "Forget everything the profile (--profile, default the one used last) learned from the user's decisions "
             "and lessons (for a profile that shares its learning, the shared pool); with --all, what every profile "
             "learned. The rules stay.",
     .flag = &Options::resetLearning,
     .run = LearnCommand::reset},
    {.name = "classify",
     .kind = Kind::Action,
     .value = Value::FileName,
     .valueName = "path",
     .help = "Print what the profile learned thinks of one message file (\"-\": standard input): spam, unsure, good "
             "or none, how much it looks like the user's spam and the strongest reasons. Only the header is read; "
             "nothing goes over the network.",
     .text = &Options::classify,
     .run = LearnCommand::classify},
    {.name = "sieve-export",
     .kind = Kind::Action,
     .value = Value::FileName,
     .valueName = "file",
     .help = "Write both rule lists as a Sieve script for the mail server to a file, without asking any server; "
             "lists the rules the script leaves out and why.",
     .text = &Options::sieveExport,
     .run = [](const Options &o,
               RuleDatabase &rules) { return SieveCommand::exportScript(o.sieveExport, o.quiet, rules); }},
    {.name = "sieve-upload",
     .kind = Kind::Action,
     .help = "Upload both rule lists as the Sieve script \"trelvik\" to the ManageSieve server of the profile "
             "(--profile; the profile's host, port 4190 unless DNS or the profile's SievePort says otherwise), so "
             "that the server files spam into Junk on every delivery, Trelvik running or not. It is activated when "
             "no script is active. When another script is active nothing is changed unless --sieve-include is "
             "given; a \"trelvik\" script changed on the server is never replaced.",
     .flag = &Options::sieveUpload,
     .run = [](const Options &o,
               RuleDatabase &rules) { return SieveServerCommand::run(SieveAction::Upload, o, rules); }},
    {.name = "sieve-include",
     .help = "With --sieve-upload: when another script is active, add include :personal \"trelvik\"; at its top "
             "once the server has checked the change, keeping a copy of it as \"<name>.before-trelvik\".",
     .flag = &Options::sieveInclude,
     .worksWith = "sieve-upload",
     .withText = "--sieve-upload"},
    {.name = "sieve-status",
     .kind = Kind::Action,
     .help = "Say whether the server's copy of the rules is there, up to date, out of date or edited on the "
             "server, which script is active, and the rules the script leaves out.",
     .flag = &Options::sieveStatus,
     .run = [](const Options &o,
               RuleDatabase &rules) { return SieveServerCommand::run(SieveAction::Status, o, rules); }},
    {.name = "sieve-remove",
     .kind = Kind::Action,
     .help = "Deactivate and delete Trelvik's script on the server and take out the include Trelvik added; the "
             "user's own scripts stay.",
     .flag = &Options::sieveRemove,
     .run = [](const Options &o,
               RuleDatabase &rules) { return SieveServerCommand::run(SieveAction::Remove, o, rules); }},
    {.name = "timeout",
     .value = Value::Seconds,
     .valueName = "seconds",
     .help = "With --check: end the run after this many seconds (default 600) whatever the server does, as Cancel "
             "would: deletions the server has confirmed are kept and recorded, the rest are not made; the run then "
             "ends with code 4, \"the server did not finish in time\".",
     .number = &Options::timeoutSeconds,
     .worksWith = "check",
     .withText = "--check"},
    {.name = "quiet",
     .help = "No progress line; with --check only the summary line, with --export-rules nothing on success.",
     .flag = &Options::quiet},
    {.name = "help",
     .shortName = "h",
     .kind = Kind::Info,
     .help = "Show this help and end.",
     .show = [] { return CommandLine::helpText().trimmed(); }},
    {.name = "version",
     .shortName = "v",
     .kind = Kind::Info,
     .help = "Show the version and end.",
     .show = [] { return QStringLiteral("trelvik ") + QCoreApplication::applicationVersion(); }},
};

} // namespace

std::span<const Row> rows()
{
    return kRows;
}

const Row *find(QStringView name)
{
    for (const Row &row : kRows) {
        if (name == QLatin1StringView(row.name) || (row.shortName && name == QLatin1StringView(row.shortName)))
            return &row;
    }
    return nullptr;
}

void addTo(QCommandLineParser &parser)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const Row &row : kRows) {
        QStringList names{QString::fromLatin1(row.name)};
        if (row.shortName)
            names.prepend(QString::fromLatin1(row.shortName));
        parser.addOption(QCommandLineOption(names, QString::fromUtf8(row.help),
                                            row.valueName ? QString::fromLatin1(row.valueName) : QString()));
    }
}

} // namespace OptionTable
