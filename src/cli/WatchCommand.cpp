#include "WatchCommand.h"

#include "CancelFlag.h"
#include "ConsoleOutput.h"
#include "ConsolePerson.h"
#include "ConsoleStatus.h"
#include "ExitCode.h"
#include "LearningClassifier.h"
#include "MailProtocols.h"
#include "MailWatch.h"
#include "ProfileRun.h"
#include "RuleDatabase.h"
#include "TerminationSignals.h"

namespace WatchCommand {

int run(const CommandLine::Options &options, RuleDatabase &rules)
{
    CancelFlag cancel;
    TerminationSignals signalsCancel(cancel);
    const QString profile = ProfileRun::chooseProfile(options);
    if (profile.isEmpty())
        return ExitCode::NotConfigured;
    // A watch runs for days: it does not dial, it waits for the network.
    ProfileRun run(options, profile, cancel, ProfileRun::Dialing::Never, !options.quiet);
    const ProfileSettingsRecord &settings = run.settings;
    const MailProtocolEntry &protocol = MailProtocols::builtIn().of(settings);
    if (!protocol.watch) {
        ConsoleOutput::error(QStringLiteral("--watch needs an IMAP profile; \"%1\" reads its mail over POP3 (check "
                                            "it with --check instead).")
                                 .arg(ConsoleOutput::plain(profile)));
        return ExitCode::Usage;
    }
    SessionOptions session;
    if (const int code = run.prepareSession(&session); code != ExitCode::Done)
        return code;
    session.keepHeaderBlocks = false;
    ConsoleStatus &status = run.status;
    ConsolePerson &person = run.person;

    const std::unique_ptr<MailWatch> watching =
        protocol.watch(status, settings, cancel, LearningClassifier::lazy(rules, settings.learningName(profile)),
                       historyJournal(rules, profile,
                                      [&person](const QString &error) { person.historyTrouble(error); }),
                       session);
    MailWatch &watch = *watching;
    QObject::connect(&watch, &MailWatch::watching, [&](const QString &folder, bool idle) {
        status.setStatusText(QStringLiteral("Watching %1 (%2)").arg(folder, idle ? u"IDLE" : u"polling"));
    });
    QObject::connect(&watch, &MailWatch::moved, [&](const MessageEntry &entry, const QString &folder) {
        if (options.quiet)
            return;
        status.clear();
        ConsoleOutput::out(QStringLiteral("Moved to %1: %2 | %3 | %4")
                               .arg(ConsoleOutput::plain(folder), ConsoleOutput::plain(entry.sender),
                                    ConsoleOutput::plain(entry.subject),
                                    ConsoleOutput::plain(entry.sortReason.text())));
        ConsoleOutput::flushOut();
    });
    QObject::connect(&watch, &MailWatch::trouble, [&](const QString &text, MailReason reason) {
        status.clear();
        person.report(MailResult::failure(MailOutcome::Failed, QStringLiteral("Error"), text).advising(reason));
    });
    const MailResult result = watch.run();
    status.clear();
    if (!result.ok() && result.kind != MailOutcome::Cancelled)
        person.report(result);
    // SIGTERM is how a watch ends.
    return result.kind == MailOutcome::Cancelled ? ExitCode::Done : ProfileRun::exitCodeFor(result.kind);
}

} // namespace WatchCommand
