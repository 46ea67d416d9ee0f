#include "SieveServerCommand.h"

#include "CancelFlag.h"
#include "ConsoleOutput.h"
#include "ConsoleWords.h"
#include "ExitCode.h"
#include "ProfileRun.h"
#include "RuleDatabase.h"
#include "SieveUpload.h"
#include "TerminationSignals.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace SieveServerCommand {

namespace {

struct Report {
    QString profile;
    QString server;
    SieveScript::Script script;
    SieveUpload::Outcome outcome;
};

QString activeText(const SieveUpload::Status &s)
{
    if (s.active.isEmpty())
        return QStringLiteral("none");
    return QStringLiteral("\"%1\"%2")
        .arg(s.active, s.included ? QStringLiteral(" (it includes Trelvik's)") : QString());
}

void printText(Action action, const Report &r, bool quiet)
{
    const SieveUpload::Status &s = r.outcome.status;
    if (quiet && action != Action::Status)
        return;
    for (const QString &step : r.outcome.steps)
        ConsoleOutput::out(ConsoleOutput::plain(QStringLiteral("Done: ") + step + u'.'));
    ConsoleOutput::out(
        ConsoleOutput::plain(QStringLiteral("Rules on the server %1: %2; active script: %3; Trelvik's rules %4.")
                                 .arg(r.server, SieveUpload::stateText(s.state), activeText(s),
                                      s.running() ? QStringLiteral("run on delivery") : QStringLiteral("do not run"))));
    if (action == Action::Remove || quiet)
        return;
    ConsoleOutput::out(QStringLiteral("%1 of %2 rules are in the script.")
                           .arg(r.script.exported)
                           .arg(r.script.exported + r.script.leftOut.size()));
    for (const SieveScript::LeftOut &l : r.script.leftOut)
        ConsoleOutput::out(
            ConsoleOutput::plain(QStringLiteral("  left out: %1\t%2\t%3").arg(l.list, l.rule, l.reason)));
}

void printJson(const Report &r, const MailResult &result)
{
    const SieveUpload::Status &s = r.outcome.status;
    QJsonObject o{{QStringLiteral("profile"), r.profile},
                  {QStringLiteral("server"), r.server},
                  {QStringLiteral("ok"), result.ok()},
                  {QStringLiteral("state"), result.ok() ? SieveUpload::stateText(s.state) : QString()},
                  {QStringLiteral("active"), s.active},
                  {QStringLiteral("running"), result.ok() && s.running()},
                  {QStringLiteral("steps"), QJsonArray::fromStringList(r.outcome.steps)},
                  {QStringLiteral("exported"), r.script.exported}};
    QJsonArray left;
    for (const SieveScript::LeftOut &l : r.script.leftOut)
        left.append(QJsonObject{{QStringLiteral("list"), l.list},
                                {QStringLiteral("rule"), l.rule},
                                {QStringLiteral("reason"), l.reason}});
    o.insert(QStringLiteral("leftOut"), left);
    if (!result.ok())
        o.insert(QStringLiteral("error"), ConsoleWords::text(result));
    ConsoleOutput::out(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
}

MailResult act(Action action, SieveSession &session, const CommandLine::Options &options, Report &r)
{
    if (action == Action::Remove) {
        r.outcome = SieveUpload::remove(session);
        return r.outcome.result;
    }
    if (action == Action::Upload) {
        r.outcome = SieveUpload::upload(session, r.script, {options.sieveInclude});
        if (r.outcome.refusal == SieveUpload::Refusal::OtherActive)
            r.outcome.result.text += QStringLiteral("\r\nRun again with --sieve-include to let Trelvik add it.");
        return r.outcome.result;
    }
    r.outcome.result = SieveUpload::status(session, r.script, &r.outcome.status);
    return r.outcome.result;
}

} // namespace

int run(Action action, const CommandLine::Options &options, const RuleDatabase &rules)
{
    const std::optional<QStringList> filter = rules.FillRules(QStringLiteral("tbfilter"));
    const std::optional<QStringList> exempted = rules.FillRules(QStringLiteral("tbexempted"));
    if (!filter || !exempted) {
        ConsoleOutput::error(QStringLiteral("The rule database could not be read."));
        return ExitCode::Failure;
    }
    CancelFlag cancel;
    TerminationSignals signalsCancel(cancel);
    Report r;
    r.profile = ProfileRun::chooseProfile(options);
    if (r.profile.isEmpty())
        return ExitCode::NotConfigured;
    ProfileRun run(options, r.profile, cancel, ProfileRun::Dialing::Never, !options.quiet && !options.json);
    const ProfileSettingsRecord &settings = run.settings;
    SessionOptions sessionOptions;
    if (const int code = run.prepareSession(&sessionOptions); code != ExitCode::Done)
        return code;

    const SieveEndpoint endpoint = sieveEndpoint(settings, [](const QString &d) { return lookUpSieveSrv(d); });
    r.server = QStringLiteral("%1:%2").arg(endpoint.host).arg(endpoint.port);
    SieveSession session(settings, endpoint, cancel, sessionOptions);
    run.status.setStatusText(QStringLiteral("Connecting to %1...").arg(r.server));
    MailResult result = session.connectServer();
    if (result.ok())
        result = session.login();
    if (result.ok()) {
        r.script = SieveScript::generate(*filter, *exempted,
                                         SieveUpload::scriptOptions(settings, session.server().sieveExtensions));
        run.status.setStatusText(QStringLiteral("Talking to %1...").arg(r.server));
        result = act(action, session, options, r);
        session.logout();
    }
    run.status.clear();
    if (options.json)
        printJson(r, result);
    else if (result.ok())
        printText(action, r, options.quiet);
    if (!result.ok() && result.hasMessage())
        run.person.report(result);
    if (result.kind == MailOutcome::Cancelled)
        ConsoleOutput::error(QStringLiteral("Cancelled."));
    return ProfileRun::exitCodeFor(result.kind);
}

} // namespace SieveServerCommand
