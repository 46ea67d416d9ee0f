#include "CheckCommand.h"

#include "CheckReport.h"
#include "CheckSummary.h"
#include "ConsoleOutput.h"
#include "DesktopNotification.h"
#include "ExitCode.h"
#include "JsonStreamWriter.h"
#include "LearningClassifier.h"
#include "MailProtocols.h"
#include "MailRun.h"
#include "CancelFlag.h"
#include "MessageRows.h"
#include "Profile.h"
#include "ProfileRun.h"
#include "RuleDatabase.h"
#include "TerminationSignals.h"

#include <QElapsedTimer>
#include <QTimer>
#include <chrono>
#include <optional>

namespace CheckCommand {

namespace {

using CommandLine::Options;

// The run's overall time limit (--timeout). When it passes, the run is
// cancelled, so that it ends as Cancel ends a run: at once, unless DELEs
// already written are owed their answers; those are awaited within the
// cancel grace and reported as the server carried them out, or the
// connection closes without QUIT. The line it prints says when the run
// really ended.
class Deadline {
public:
    Deadline(int seconds, CancelFlag &cancel)
        : m_seconds(seconds)
    {
        m_clock.start();
        m_timer.setSingleShot(true);
        // A coarse timer may fire 5 % late: a minute past a 20-minute limit.
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this, &cancel] {
            m_passed = true;
            cancel.set();
        });
        m_timer.start(std::chrono::seconds(seconds));
    }
    bool passed() const { return m_passed; }
    // The line for a run it ended, and the run's exit code. `deleting`:
    // the run had begun asking the server to delete.
    int report(bool deleting) const
    {
        const qint64 endedMs = m_clock.elapsed();
        QString text = QStringLiteral("The check was stopped after %1 seconds (--timeout)").arg(m_seconds);
        // Past the limit only while answers to deletions were owed (or the
        // machine was busy): said, with the time it really took.
        if (endedMs >= m_seconds * 1000LL + 1000) {
            text +=
                QStringLiteral(" and ended after %1 seconds").arg(QString::number(double(endedMs) / 1000.0, 'f', 1));
            if (deleting)
                text += QStringLiteral(", once the server had answered the deletions already sent or the wait for "
                                       "its answers had run out");
        }
        ConsoleOutput::error(text + QStringLiteral(": the server did not finish in time."));
        return ExitCode::ConnectionFailed;
    }

private:
    int m_seconds;
    QElapsedTimer m_clock;
    QTimer m_timer;
    bool m_passed = false;
};

int exitCodeFor(MailOutcome outcome, const Deadline &deadline, bool deleting = false)
{
    if (outcome == MailOutcome::Cancelled && deadline.passed())
        return deadline.report(deleting);
    if (outcome == MailOutcome::Cancelled)
        ConsoleOutput::error(QStringLiteral("Cancelled."));
    return ProfileRun::exitCodeFor(outcome);
}

// Checks one profile (and with --delete empties its Recycle Bin); `result`
// gets the report once the mailbox has been read.
int checkProfile(const Options &options, RuleDatabase &rules, const QString &profile, CancelFlag &cancel,
                 const Deadline &deadline, std::optional<CheckReport> &result)
{
    ProfileRun run(options, profile, cancel, ProfileRun::Dialing::AsProfileSays, !options.quiet);
    const ProfileSettingsRecord &settings = run.settings;
    SessionOptions session;
    // Nothing is sorted again after the check, and --delete removes in its session.
    session.keepHeaderBlocks = false;

    // Nothing shows these lists: the report decodes what it prints.
    MessageRowList inbox;
    MessageRowList recycle;
    QString listingNote;
    std::optional<CheckReport> report;
    // A learned spam is deleted unattended only where the profile allows it
    // (over IMAP a move to Junk or Trash can be undone, and goes ahead); else
    // it stays on the server for the window to show in the Recycle Bin. The
    // deletion sends its commands before the report is made, so the row must
    // not reach the Recycle Bin at all: it is kept, marked as learned spam
    // kept for review. A check without --delete tells what one with it
    // would do, so it keeps such a row too rather than call it to be deleted.
    const bool removalDeletes = MailProtocols::builtIn().of(settings).removalDeletes(settings);
    MessageClassifier classify = LearningClassifier::lazy(rules, settings.learningName(profile));
    if (removalDeletes && settings.DeleteLearnedSpam != QLatin1String("1"))
        classify = classify.adjusted([](SortReason &reason) {
            reason.keptForReview = reason.kind == SortReason::Kind::Learned
                && reason.verdict == SortReason::Verdict::Spam;
        });
    // The report keeps what it tells of each row; of the lists only the
    // Recycle Bin is needed further, by the deletion.
    const auto fetched = [&] {
        report = CheckReport::fromFolders(profile, inbox, recycle);
        inbox.clear();
    };
    const MailRun::CheckResult checked = MailRun::check(run.target(), inbox, recycle, classify, rules, options.del,
                                                        fetched, session, &listingNote);
    run.status.clear();
    if (checked.fetched != MailOutcome::Done || !report)
        return exitCodeFor(checked.fetched, deadline);
    report->listingNote = listingNote;
    int code = ExitCode::Done;
    if (options.del) {
        const DeletionResult deletion = checked.deletion.value_or(DeletionResult{});
        report->applyDeletion(deletion, recycle);
        if (deletion.outcome() != MailOutcome::Done)
            code = exitCodeFor(deletion.outcome(), deadline, true);
        else if (run.person.historyFailed())
            code = ExitCode::Failure;
        else if (deletion.notDeleted > 0)
            code = ExitCode::PartlyDeleted;
    }
    result = std::move(report);
    return code;
}

// The profiles to check: all of them (--all), or the one named or used last.
QStringList chooseProfiles(const Options &options)
{
    if (!options.all) {
        const QString profile = ProfileRun::chooseProfile(options);
        return profile.isEmpty() ? QStringList() : QStringList{profile};
    }
    const QStringList names = ProfileNames();
    if (names.isEmpty())
        ConsoleOutput::error(QStringLiteral("There are no profiles to check yet; make one in the window."));
    return names;
}

} // namespace

int run(const Options &options, RuleDatabase &rules)
{
    CancelFlag cancel;
    TerminationSignals signalsCancel(cancel);
    const QStringList profiles = chooseProfiles(options);
    if (profiles.isEmpty())
        return ExitCode::NotConfigured;

    // With --all one document holds every profile's report, or why it
    // could not be checked, written as each is done.
    const bool many = options.all;
    JsonStreamWriter json(ConsoleOutput::outPiece);
    if (options.json && many) {
        json.beginObject();
        json.key(u"profiles");
        json.beginArray();
    }
    CheckSummary summary;
    for (const QString &profile : profiles) {
        const qsizetype errorsBefore = ConsoleOutput::errorCount();
        std::optional<CheckReport> report;
        int code = ExitCode::Done;
        bool interrupted = false;
        {
            // Each profile has the whole --timeout: a slow server does not
            // cut the next one short.
            const Deadline deadline(options.timeoutSeconds, cancel);
            code = checkProfile(options, rules, profile, cancel, deadline, report);
            interrupted = cancel.isSet() && !deadline.passed();
        }
        const QStringList errors = ConsoleOutput::errorsSince(errorsBefore);
        if (report) {
            summary.addChecked(*report, code, errors.value(0));
            if (options.json && many)
                report->writeJson(json);
            else if (options.json)
                report->writeJson(ConsoleOutput::outPiece);
            else // stdout's own buffer gathers the lines: one write each would cost more than the check
                report->writeLines(options.quiet,
                                   [](const QString &line) { ConsoleOutput::outPiece(line.toUtf8() + '\n'); });
        } else {
            summary.addFailed(profile, code, errors.value(0));
            if (options.json && many) {
                json.beginObject();
                json.field(u"error", errors.join(QLatin1Char('\n')));
                json.field(u"exitCode", code);
                json.field(u"kind", CommandLine::exitKind(code));
                json.field(u"profile", profile);
                json.endObject();
            } else if (many) {
                ConsoleOutput::out(QStringLiteral("%1: not checked (%2)")
                                       .arg(ConsoleOutput::plain(profile), CommandLine::exitKind(code)));
            }
        }
        // Ctrl+C or systemd's stop: the other profiles wait for the next run.
        if (interrupted)
            break;
        cancel.clear();
    }
    if (options.json && many) {
        json.endArray();
        json.field(u"exitCode", summary.exitCode());
        json.endObject();
        json.finish();
    }
    ConsoleOutput::flushOut();

    if (const auto notification = summary.notification())
        sendDesktopNotification(notification->summary, notification->body);
    return summary.exitCode();
}

} // namespace CheckCommand
