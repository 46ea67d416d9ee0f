#include "CommandLine.h"

#include "CheckCommand.h"
#include "ConsoleOutput.h"
#include "ExitCode.h"
#include "HistoryCommand.h"
#include "JsonStreamWriter.h"
#include "LearnCommand.h"
#include "ServerLessonsCommand.h"
#include "RuleFileCommand.h"
#include "SieveCommand.h"
#include "SieveServerCommand.h"
#include "WatchCommand.h"
#include "RuleDatabase.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSet>
#include <algorithm>

namespace CommandLine {

namespace {

// A day: a timer's run that needs longer is stuck, and the clock below
// counts milliseconds in an int.
constexpr int kMaxTimeoutSeconds = 86400;

// The seconds of --timeout, or 0 for anything but a whole number in range.
int timeoutSeconds(const QString &text)
{
    bool ok = false;
    const int seconds = text.trimmed().toInt(&ok);
    return ok && seconds >= 1 && seconds <= kMaxTimeoutSeconds ? seconds : 0;
}

// Long names of the options that make a run a command line run.
const QStringList &optionNames()
{
    static const QStringList names = {QStringLiteral("check"),
                                      QStringLiteral("delete"),
                                      QStringLiteral("json"),
                                      QStringLiteral("profile"),
                                      QStringLiteral("history"),
                                      QStringLiteral("quiet"),
                                      QStringLiteral("import-rules"),
                                      QStringLiteral("export-rules"),
                                      QStringLiteral("timeout"),
                                      QStringLiteral("all"),
                                      QStringLiteral("trust-certificate"),
                                      QStringLiteral("help"),
                                      QStringLiteral("version")};
    return names;
}

// What the window's toolkit reads from the command line itself (-style,
// -platform ...): these still start the window.
const QStringList &toolkitOptionNames()
{
    static const QStringList names = {QStringLiteral("platform"),
                                      QStringLiteral("platformpluginpath"),
                                      QStringLiteral("platformtheme"),
                                      QStringLiteral("plugin"),
                                      QStringLiteral("qwindowgeometry"),
                                      QStringLiteral("qwindowicon"),
                                      QStringLiteral("qwindowtitle"),
                                      QStringLiteral("reverse"),
                                      QStringLiteral("session"),
                                      QStringLiteral("style"),
                                      QStringLiteral("stylesheet"),
                                      QStringLiteral("widgetcount"),
                                      QStringLiteral("display"),
                                      QStringLiteral("geometry"),
                                      QStringLiteral("title"),
                                      QStringLiteral("name"),
                                      QStringLiteral("visual"),
                                      QStringLiteral("ncols"),
                                      QStringLiteral("cmap"),
                                      QStringLiteral("nograb"),
                                      QStringLiteral("dograb"),
                                      QStringLiteral("sync"),
                                      QStringLiteral("qmljsdebugger"),
                                      QStringLiteral("fn"),
                                      QStringLiteral("font"),
                                      QStringLiteral("bg"),
                                      QStringLiteral("background"),
                                      QStringLiteral("fg"),
                                      QStringLiteral("foreground"),
                                      QStringLiteral("btn"),
                                      QStringLiteral("button"),
                                      QStringLiteral("im"),
                                      QStringLiteral("inputstyle")};
    return names;
}

void addOptions(QCommandLineParser &parser)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({
        {QStringLiteral("check"),
         QStringLiteral("Fetch the headers of the profile's waiting messages, sort them by the rules as the window "
                        "does and print one line per message: folder, sender, subject, date, size and the rule "
                        "that sorted it. Nothing is deleted.")},
        {QStringLiteral("delete"),
         QStringLiteral("With --check: then delete the Recycle Bin messages on the server, as the window's Empty "
                        "Recycle Bin does, print what was deleted and what was not, record the deleted ones in "
                        "the deletion history and show a desktop notification.")},
        {QStringLiteral("watch"),
         QStringLiteral("Keep watching an IMAP profile's folder (--profile, or the one used last) and screen each "
                        "message that arrives from now on as it comes: a filter hit is moved to the profile's "
                        "folder (Junk, or the one chosen; a profile whose Empty Recycle Bin deletes moves to "
                        "Trash: nothing is deleted unattended), recorded in the deletion history and printed as a "
                        "line. Messages already there are left to --check. Waits with IDLE, or asks every minute "
                        "where the server lacks it; a lost connection is made again. Runs until Ctrl+C or "
                        "SIGTERM.")},
        {QStringLiteral("json"), QStringLiteral("With --check or --history: print one JSON document instead.")},
        {QStringLiteral("profile"),
         QStringLiteral("The profile to check (default: the one used last). With --history: only its entries."),
         QStringLiteral("name")},
        {QStringLiteral("all"),
         QStringLiteral("With --check: check every profile in turn, each as --profile would; one that fails does "
                        "not stop the others. The report has a part for each profile (with --json, one document "
                        "listing them), one desktop notification sums the run up, and the exit code is the worst "
                        "of the profiles' (from best to worst: 0, 6, 5, 4, 3, 1).")},
        {QStringLiteral("trust-certificate"),
         QStringLiteral("With --check: when the server presents a certificate that is not trusted (the error names "
                        "its SHA-256 fingerprint), trust it if its fingerprint is this one, and keep that trust for "
                        "the profile as the window's Trust This Certificate does. Hex digits, colons and spaces "
                        "between them allowed."),
         QStringLiteral("sha256")},
        {QStringLiteral("history"),
         QStringLiteral("Print the deletion history, newest first: time, profile, sender, subject, date, size, "
                        "unique id and the rule that put the message in the Recycle Bin.")},
        {QStringLiteral("import-rules"),
         QStringLiteral("Add the rules of a rule file to the lists: UTF-8 text, one rule a line, \"filter RULE\" "
                        "or \"exempt RULE\"; lines starting with # and blank lines are skipped. Prints how many "
                        "were added, already present and refused, and the first refused line. Nothing is "
                        "imported when the file cannot be read."),
         QStringLiteral("file")},
        {QStringLiteral("export-rules"), QStringLiteral("Write both rule lists to a rule file."),
         QStringLiteral("file")},
        {QStringLiteral("learn-spam"),
         QStringLiteral("Teach the profile (--profile, default the one used last) that the messages of an mbox "
                        "file, a Maildir or a single message file are spam. Only their headers are read."),
         QStringLiteral("path")},
        {QStringLiteral("learn-ham"), QStringLiteral("The same for good mail."), QStringLiteral("path")},
        {QStringLiteral("learn-from-server"),
         QStringLiteral("Teach an IMAP profile (--profile, default the one used last) from the mail already sorted "
                        "on its server: the Junk folder as spam, INBOX and an archive folder as good mail, the "
                        "newest 2000 messages of each. Only headers are read, the folders read-only: no flag "
                        "changes. Prints how many new lessons of each kind were taken (with --json, one JSON "
                        "document); a message taught before teaches nothing again.")},
        {QStringLiteral("classify"),
         QStringLiteral("Print what the profile learned thinks of one message file (\"-\": standard input): "
                        "spam, unsure, good or none, how much it looks like the user's spam and the strongest "
                        "reasons. Only the header is read; nothing goes over the network."),
         QStringLiteral("path")},
        {QStringLiteral("sieve-export"),
         QStringLiteral("Write both rule lists as a Sieve script for the mail server to a file, without asking "
                        "any server; lists the rules the script leaves out and why."),
         QStringLiteral("file")},
        {QStringLiteral("sieve-upload"),
         QStringLiteral("Upload both rule lists as the Sieve script \"trelvik\" to the ManageSieve server of the "
                        "profile (--profile; the profile's host, port 4190 unless DNS or the profile's SievePort "
                        "says otherwise), so that the server files spam into Junk on every delivery, Trelvik "
                        "running or not. It is activated when no script is active. When another script is active "
                        "nothing is changed unless --sieve-include is given; a \"trelvik\" script changed on the "
                        "server is never replaced.")},
        {QStringLiteral("sieve-include"),
         QStringLiteral("With --sieve-upload: when another script is active, add include :personal \"trelvik\"; at "
                        "its top once the server has checked the change, keeping a copy of it as "
                        "\"<name>.before-trelvik\".")},
        {QStringLiteral("sieve-status"),
         QStringLiteral("Say whether the server's copy of the rules is there, up to date, out of date or edited on "
                        "the server, which script is active, and the rules the script leaves out.")},
        {QStringLiteral("sieve-remove"),
         QStringLiteral("Deactivate and delete Trelvik's script on the server and take out the include Trelvik "
                        "added; the user's own scripts stay.")},
        {QStringLiteral("timeout"),
         QStringLiteral("With --check: end the run after this many seconds (default 600) whatever the server "
                        "does, as Cancel would: deletions the server has confirmed are kept and recorded, the "
                        "rest are not made; the run then ends with code 4, \"the server did not finish in "
                        "time\"."),
         QStringLiteral("seconds")},
        {QStringLiteral("quiet"),
         QStringLiteral("No progress line; with --check only the summary line, with --export-rules "
                        "nothing on success.")},
        {{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help and end.")},
        {{QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("Show the version and end.")},
    });
}

bool validate(const Options &o, const QCommandLineParser &parser, QString *why)
{
    if (!parser.positionalArguments().isEmpty()) {
        *why = QStringLiteral("Unexpected argument \"%1\".").arg(parser.positionalArguments().constFirst());
        return false;
    }
    if (o.del && !o.check) {
        *why = QStringLiteral("--delete works only with --check.");
        return false;
    }
    const int actions = int(o.check) + int(o.watch) + int(o.history) + int(parser.isSet(QStringLiteral("import-rules")))
        + int(parser.isSet(QStringLiteral("export-rules"))) + int(parser.isSet(QStringLiteral("learn-spam")))
        + int(parser.isSet(QStringLiteral("learn-ham"))) + int(parser.isSet(QStringLiteral("classify")))
        + int(parser.isSet(QStringLiteral("sieve-export"))) + int(o.sieveUpload) + int(o.sieveStatus)
        + int(o.sieveRemove) + int(o.learnFromServer);
    if (actions == 0) {
        *why = QStringLiteral("Say what to do: --check, --watch, --history, --import-rules or --export-rules.");
        return false;
    }
    if (actions > 1) {
        *why = QStringLiteral("Only one of --check, --watch, --history, --import-rules and --export-rules at a "
                              "time.");
        return false;
    }
    if (o.sieveInclude && !o.sieveUpload) {
        *why = QStringLiteral("--sieve-include works only with --sieve-upload.");
        return false;
    }
    if (o.all && !o.check) {
        *why = QStringLiteral("--all works only with --check.");
        return false;
    }
    if (o.all && parser.isSet(QStringLiteral("profile"))) {
        *why = QStringLiteral("--all and --profile exclude each other.");
        return false;
    }
    if (parser.isSet(QStringLiteral("trust-certificate"))) {
        if (!o.check || o.all) {
            *why = QStringLiteral("--trust-certificate works only with --check of one profile.");
            return false;
        }
        if (o.trustCertificate.size() != 64
            || !std::all_of(o.trustCertificate.cbegin(), o.trustCertificate.cend(),
                            [](QChar c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'); })) {
            *why = QStringLiteral("--trust-certificate needs a SHA-256 fingerprint (64 hex digits), not \"%1\".")
                       .arg(parser.value(QStringLiteral("trust-certificate")));
            return false;
        }
    }
    if (o.json && !o.check && !o.history && o.classify.isEmpty() && !o.sieveUpload && !o.sieveStatus && !o.sieveRemove
        && !o.learnFromServer) {
        *why = QStringLiteral(
            "--json works only with --check, --history, --classify, --learn-from-server and the --sieve- actions.");
        return false;
    }
    for (const QString &name :
         {QStringLiteral("import-rules"), QStringLiteral("export-rules"), QStringLiteral("learn-spam"),
          QStringLiteral("learn-ham"), QStringLiteral("classify"), QStringLiteral("sieve-export")}) {
        if (parser.isSet(name) && parser.value(name).isEmpty()) {
            *why = QStringLiteral("--%1 needs a file name.").arg(name);
            return false;
        }
    }
    if (parser.isSet(QStringLiteral("timeout"))) {
        if (!o.check) {
            *why = QStringLiteral("--timeout works only with --check.");
            return false;
        }
        if (o.timeoutSeconds < 1) {
            *why = QStringLiteral("--timeout needs a whole number of seconds from 1 to %1, not \"%2\".")
                       .arg(kMaxTimeoutSeconds)
                       .arg(parser.value(QStringLiteral("timeout")));
            return false;
        }
    }
    if (parser.isSet(QStringLiteral("profile")) && o.profile.trimmed().isEmpty()) {
        *why = QStringLiteral("--profile needs a profile name.");
        return false;
    }
    return true;
}

} // namespace

bool wanted(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("-h") || arg == QLatin1String("-v"))
            return true;
        if (!arg.startsWith(QLatin1Char('-')))
            continue;
        while (arg.startsWith(QLatin1Char('-')))
            arg.remove(0, 1);
        arg = arg.section(QLatin1Char('='), 0, 0);
        // Ours, or one the window does not know either (a typing error in a
        // timer's command must end with a usage error, not start a window).
        if (optionNames().contains(arg) || !toolkitOptionNames().contains(arg))
            return true;
    }
    return false;
}

QString helpText()
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Screens a POP3 or IMAP mailbox by its headers: sorts the waiting messages into an Inbox "
                       "and a Recycle Bin by the filter and exempted lists, and deletes the Recycle Bin on the "
                       "server (an IMAP profile moves it to its Junk or Trash folder, or deletes it, as its "
                       "settings say).\n"
                       "Without options the window starts. The command line never asks a question: a "
                       "certificate that is not trusted, a missing password or a sign-in that needs the browser "
                       "end the run with a message; settle them in the window."));
    addOptions(parser);
    QString text = parser.helpText();
    // The first line names the program as it was started; say "trelvik".
    text = QStringLiteral("Usage: trelvik [options]") + text.mid(text.indexOf(QLatin1Char('\n')));
    text += QStringLiteral("\nExit codes:\n"
                           "  0  done\n"
                           "  1  other failure (rule database, file input or output, a refused line in\n"
                           "     a rule file, cancelled)\n"
                           "  2  usage error\n"
                           "  3  not configured (unknown profile, no profile, a missing setting such as\n"
                           "     the password or the OAuth2 client ID)\n"
                           "  4  connection or login failure (also an untrusted certificate, an OAuth2\n"
                           "     sign-in that needs the browser, or a check past --timeout: the server\n"
                           "     did not finish in time)\n"
                           "  5  partly deleted (some Recycle Bin messages are still on the server)\n"
                           "  6  busy (the window or another check is running)\n"
                           "\nTimer:\n"
                           "  A systemd user timer, installed but not enabled, runs\n"
                           "  \"trelvik --check --delete --quiet --all\" every 15 minutes:\n"
                           "    systemctl --user enable --now trelvik-check.timer\n"
                           "  To check without deleting, or to pick profiles instead of all of them,\n"
                           "  override its command:\n"
                           "    systemctl --user edit trelvik-check.service\n"
                           "  and write there, for instance:\n"
                           "    [Service]\n"
                           "    ExecStart=\n"
                           "    ExecStart=%1 --check --quiet --all\n"
                           "  or, for the profiles Work and Home alone, one line each (the \"-\" lets\n"
                           "  the next line run when one fails):\n"
                           "    ExecStart=-%1 --check --delete --quiet --profile Work\n"
                           "    ExecStart=-%1 --check --delete --quiet --profile Home\n"
                           "  A user's timer runs only while they are logged in; to let it run after\n"
                           "  logout and from boot:   loginctl enable-linger\n"
                           "  What the runs printed:   journalctl --user -u trelvik-check.service\n"
                           "  Stop it:   systemctl --user disable --now trelvik-check.timer\n"
                           "\nWatch:\n"
                           "  A systemd user service, installed but not enabled, runs \"trelvik --watch\"\n"
                           "  for the IMAP profile named after the @:\n"
                           "    systemctl --user enable --now trelvik-watch@Work.service\n"
                           "  While it runs it holds the data folder: stop it before starting the window.\n")
                .arg(QCoreApplication::applicationFilePath());
    return text;
}

bool noDisplayForWindow(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "-platform" || arg == "--platform" || arg.startsWith("-platform=") || arg.startsWith("--platform="))
            return false;
    }
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return false;
    ConsoleOutput::error(QStringLiteral("There is no display to show the window on (neither DISPLAY nor "
                                        "WAYLAND_DISPLAY is set). Without one, check the mailbox from the command "
                                        "line: trelvik --check (see trelvik --help)."));
    return true;
}

QString forCommandLine(const QString &windowText)
{
    static const QString settings = QStringLiteral("in the window's Settings (start trelvik without options), or "
                                                   "name another profile with --profile");
    static const std::pair<QString, QString> hints[] = {
        {QStringLiteral("Press the Setting button beside the profile box and fill in the POP server, user ID and "
                        "password."),
         QStringLiteral("Fill in the POP server, user ID and password ") + settings + QLatin1Char('.')},
        {QStringLiteral("Press the Setting button beside the profile box and fill in the IMAP server, user ID and "
                        "password."),
         QStringLiteral("Fill in the IMAP server, user ID and password ") + settings + QLatin1Char('.')},
        {QStringLiteral("Correct them with the Setting button beside the profile box."),
         QStringLiteral("Correct them ") + settings + QLatin1Char('.')},
        {QStringLiteral("Sign in again: open the Settings and press \"Sign in...\"."),
         QStringLiteral("Sign in again in the window (start trelvik without options): the browser is needed.")},
    };
    QString text = windowText;
    for (const auto &[window, commandLine] : hints)
        text.replace(window, commandLine);
    return text;
}

static int runCommand(const QStringList &arguments, const LockTaker &takeLock)
{
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(arguments)) {
        ConsoleOutput::error(parser.errorText() + QStringLiteral(" (see trelvik --help)"));
        return ExitCode::Usage;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        ConsoleOutput::out(helpText().trimmed());
        return ExitCode::Done;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        ConsoleOutput::out(QStringLiteral("trelvik ") + QCoreApplication::applicationVersion());
        return ExitCode::Done;
    }

    Options options;
    options.check = parser.isSet(QStringLiteral("check"));
    options.watch = parser.isSet(QStringLiteral("watch"));
    options.del = parser.isSet(QStringLiteral("delete"));
    options.json = parser.isSet(QStringLiteral("json"));
    options.history = parser.isSet(QStringLiteral("history"));
    options.quiet = parser.isSet(QStringLiteral("quiet"));
    options.all = parser.isSet(QStringLiteral("all"));
    for (const QChar c : parser.value(QStringLiteral("trust-certificate"))) {
        if (c != u':' && !c.isSpace())
            options.trustCertificate += c.toLower();
    }
    options.profile = parser.value(QStringLiteral("profile")).trimmed();
    if (parser.isSet(QStringLiteral("timeout")))
        options.timeoutSeconds = timeoutSeconds(parser.value(QStringLiteral("timeout")));
    options.importFile = parser.value(QStringLiteral("import-rules"));
    options.exportFile = parser.value(QStringLiteral("export-rules"));
    options.learnSpam = parser.value(QStringLiteral("learn-spam"));
    options.learnHam = parser.value(QStringLiteral("learn-ham"));
    options.classify = parser.value(QStringLiteral("classify"));
    options.sieveUpload = parser.isSet(QStringLiteral("sieve-upload"));
    options.sieveStatus = parser.isSet(QStringLiteral("sieve-status"));
    options.sieveRemove = parser.isSet(QStringLiteral("sieve-remove"));
    options.sieveInclude = parser.isSet(QStringLiteral("sieve-include"));
    options.learnFromServer = parser.isSet(QStringLiteral("learn-from-server"));
    QString why;
    if (!validate(options, parser, &why)) {
        ConsoleOutput::error(why + QStringLiteral(" (see trelvik --help)"));
        return ExitCode::Usage;
    }

    // Before the rule database is touched: one copy at a time.
    QString error;
    switch (takeLock(&error)) {
    case Lock::Held:
        break;
    case Lock::Busy:
        ConsoleOutput::error(QStringLiteral("Trelvik is running (its window or another check); try again once "
                                            "it has ended."));
        return ExitCode::Busy;
    case Lock::Failed:
        ConsoleOutput::error(error);
        return ExitCode::Failure;
    }

    // No start-up compaction here: that is the window's, and a timer's run
    // every few minutes must not churn the file and its backup.
    // The window's start-up check comes first, before anything writes to
    // the file: a damaged database is left as it is for the window to restore.
    RuleDatabase rules;
    RuleDatabase::FileHealth health;
    if (!rules.OpenRuleDatabase(&error, &health)) {
        if (health.state == RuleDatabase::FileHealth::State::Damaged)
            ConsoleOutput::error(QStringLiteral("The rule database \"%1\" is damaged: %2. Nothing was changed; "
                                                "start the window of Trelvik to restore it.")
                                     .arg(rules.databasePath(), health.reason));
        else
            ConsoleOutput::error(QStringLiteral("The rule database could not be opened: ") + error);
        return ExitCode::Failure;
    }
    if (options.history)
        return HistoryCommand::run(options, rules);
    if (!options.importFile.isEmpty())
        return RuleFileCommand::importRules(options, rules);
    if (!options.exportFile.isEmpty())
        return RuleFileCommand::exportRules(options, rules);
    if (parser.isSet(QStringLiteral("sieve-export")))
        return SieveCommand::exportScript(parser.value(QStringLiteral("sieve-export")), options.quiet, rules);
    if (options.sieveUpload || options.sieveStatus || options.sieveRemove)
        return SieveServerCommand::run(options.sieveUpload       ? SieveServerCommand::Action::Upload
                                           : options.sieveStatus ? SieveServerCommand::Action::Status
                                                                 : SieveServerCommand::Action::Remove,
                                       options, rules);
    if (options.watch)
        return WatchCommand::run(options, rules);
    if (!options.learnSpam.isEmpty() || !options.learnHam.isEmpty())
        return LearnCommand::learn(options, rules);
    if (!options.classify.isEmpty())
        return LearnCommand::classify(options, rules);
    if (options.learnFromServer)
        return ServerLessonsCommand::run(options, rules);
    return CheckCommand::run(options, rules);
}

QString exitKind(int code)
{
    switch (code) {
    case ExitCode::Usage:
        return QStringLiteral("usage");
    case ExitCode::NotConfigured:
        return QStringLiteral("not configured");
    case ExitCode::ConnectionFailed:
        return QStringLiteral("connection failed");
    case ExitCode::PartlyDeleted:
        return QStringLiteral("partly deleted");
    case ExitCode::Busy:
        return QStringLiteral("busy");
    default:
        return QStringLiteral("failure");
    }
}

namespace {

// Whether the arguments ask for JSON, even when they do not parse.
bool jsonAsked(const QStringList &arguments)
{
    return std::any_of(arguments.cbegin() + (arguments.isEmpty() ? 0 : 1), arguments.cend(),
                       [](const QString &a) { return a == QLatin1String("--json") || a == QLatin1String("-json"); });
}

} // namespace

int run(const QStringList &arguments, const LockTaker &takeLock)
{
    const int code = runCommand(arguments, takeLock);
    // A script reading the output with a JSON reader gets one document
    // whatever happened: a failed run that printed no report says why.
    if (code != ExitCode::Done && jsonAsked(arguments) && !ConsoleOutput::wroteOut()) {
        JsonStreamWriter w(ConsoleOutput::outPiece);
        w.beginObject();
        w.field(u"error", ConsoleOutput::errorsSoFar().join(QLatin1Char('\n')));
        w.field(u"exitCode", code);
        w.field(u"kind", exitKind(code));
        w.endObject();
        w.finish();
    }
    // A report cut short by a full disk or a closed pipe is no report: the
    // run fails, whatever it did before.
    ConsoleOutput::flushOut();
    if (const QString why = ConsoleOutput::outFailure(); !why.isEmpty()) {
        ConsoleOutput::error(QStringLiteral("The output could not be written: %1.").arg(why));
        return ExitCode::Failure;
    }
    return code;
}

} // namespace CommandLine
