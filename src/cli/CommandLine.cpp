#include "CommandLine.h"

#include "ConsoleOutput.h"
#include "ExitCode.h"
#include "JsonStreamWriter.h"
#include "OptionTable.h"
#include "RuleDatabase.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <algorithm>

namespace CommandLine {

namespace {

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

} // namespace

bool wanted(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        QString arg = QString::fromLocal8Bit(argv[i]);
        if (!arg.startsWith(QLatin1Char('-')))
            continue;
        while (arg.startsWith(QLatin1Char('-')))
            arg.remove(0, 1);
        arg = arg.section(QLatin1Char('='), 0, 0);
        // Ours, or one the window does not know either (a typing error in a
        // timer's command must end with a usage error, not start a window).
        if (OptionTable::find(arg) || !toolkitOptionNames().contains(arg))
            return true;
    }
    return false;
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

namespace {

// Takes the single-copy lock; Done once it is held, else the exit code.
int lockFor(const LockTaker &takeLock)
{
    QString error;
    switch (takeLock(&error)) {
    case Lock::Held:
        return ExitCode::Done;
    case Lock::Busy:
        ConsoleOutput::error(QStringLiteral("Trelvik is running (its window or another check); try again once "
                                            "it has ended."));
        return ExitCode::Busy;
    case Lock::Failed:
        ConsoleOutput::error(error);
        return ExitCode::Failure;
    }
    return ExitCode::Failure;
}

// No start-up compaction here: that is the window's, and a timer's run
// every few minutes must not churn the file and its backup.
// The window's start-up check comes first, before anything writes to
// the file: a damaged database is left as it is for the window to restore.
bool openRules(RuleDatabase &rules)
{
    QString error;
    RuleDatabase::FileHealth health;
    if (rules.OpenRuleDatabase(&error, &health))
        return true;
    if (health.state == RuleDatabase::FileHealth::State::Damaged)
        ConsoleOutput::error(QStringLiteral("The rule database \"%1\" is damaged: %2. Nothing was changed; "
                                            "start the window of Trelvik to restore it.")
                                 .arg(rules.databasePath(), health.reason));
    else
        ConsoleOutput::error(QStringLiteral("The rule database could not be opened: ") + error);
    return false;
}

int runCommand(const QStringList &arguments, const LockTaker &takeLock)
{
    QCommandLineParser parser;
    OptionTable::addTo(parser);
    if (!parser.parse(arguments)) {
        ConsoleOutput::error(parser.errorText() + QStringLiteral(" (see trelvik --help)"));
        return ExitCode::Usage;
    }
    for (const OptionTable::Row &row : OptionTable::rows()) {
        if (row.kind == OptionTable::Kind::Info && parser.isSet(QString::fromLatin1(row.name))) {
            ConsoleOutput::out(row.show());
            return ExitCode::Done;
        }
    }
    Options options;
    const OptionTable::Row *action = nullptr;
    QString why;
    if (!OptionTable::read(parser, arguments, &options, &action, &why)) {
        ConsoleOutput::error(why + QStringLiteral(" (see trelvik --help)"));
        return ExitCode::Usage;
    }
    // Before the rule database is touched: one copy at a time.
    if (const int code = lockFor(takeLock); code != ExitCode::Done)
        return code;
    RuleDatabase rules;
    if (!openRules(rules))
        return ExitCode::Failure;
    return action->run(options, rules);
}

} // namespace

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
