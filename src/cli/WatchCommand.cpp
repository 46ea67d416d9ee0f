#include "WatchCommand.h"

#include "CancelFlag.h"
#include "CheckCommand.h"
#include "ConsoleOutput.h"
#include "ConsolePerson.h"
#include "ConsoleStatus.h"
#include "Dialer.h"
#include "ExitCode.h"
#include "MailProtocols.h"
#include "MailRun.h"
#include "MailWatch.h"
#include "Profile.h"
#include "ProfileRecord.h"
#include "RuleDatabase.h"
#include "TerminationSignals.h"

namespace WatchCommand {

namespace {

// A watch runs for days: it does not dial, it waits for the network.
class NoDialer : public Dialer {
public:
    void DialUp(const ProfileSettingsRecord &, CancelFlag &) override { RasResult = 0; }
    void HangUp() override { }
};

int exitCodeFor(MailOutcome outcome)
{
    switch (outcome) {
    case MailOutcome::Done:
    case MailOutcome::Cancelled: // SIGTERM is how a watch ends
        return ExitCode::Done;
    case MailOutcome::NotConfigured:
        return ExitCode::NotConfigured;
    case MailOutcome::ConnectionFailed:
        return ExitCode::ConnectionFailed;
    case MailOutcome::Failed:
        break;
    }
    return ExitCode::Failure;
}

} // namespace

int run(const CommandLine::Options &options, RuleDatabase &rules)
{
    CancelFlag cancel;
    TerminationSignals signalsCancel(cancel);
    const QString profile = CheckCommand::chooseProfile(options);
    if (profile.isEmpty())
        return ExitCode::NotConfigured;
    ProfileSettingsRecord settings = ReadProfile(profile);
    const MailProtocolEntry &protocol = MailProtocols::builtIn().of(settings);
    if (!protocol.watch) {
        ConsoleOutput::error(QStringLiteral("--watch needs an IMAP profile; \"%1\" reads its mail over POP3 (check "
                                            "it with --check instead).")
                                 .arg(ConsoleOutput::plain(profile)));
        return ExitCode::Usage;
    }
    ConsoleStatus status(!options.quiet);
    ConsolePerson person(options, profile, status);
    NoDialer dialer;
    const MailRun::Target target{settings, profile, cancel, dialer, person};
    if (MailRun::ready(target) != MailOutcome::Done)
        return ExitCode::NotConfigured;
    SessionOptions session = MailRun::sessionOptions(target);
    session.keepHeaderBlocks = false;
    if (settings.usesOAuth2() && !person.readyToSignIn(session.accessToken))
        return ExitCode::ConnectionFailed;

    const std::unique_ptr<MailWatch> watching =
        protocol.watch(status, settings, cancel, RuleClassifier::lazy(rules),
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
    QObject::connect(&watch, &MailWatch::trouble, [&](const QString &text) {
        status.clear();
        person.report(MailResult::failure(MailOutcome::Failed, QStringLiteral("Error"), text));
    });
    const MailResult result = watch.run();
    status.clear();
    if (!result.ok() && result.kind != MailOutcome::Cancelled)
        person.report(result);
    return exitCodeFor(result.kind);
}

} // namespace WatchCommand
