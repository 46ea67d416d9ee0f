#include "CheckCommand.h"

#include "CertificateSummary.h"
#include "CheckReport.h"
#include "CheckSummary.h"
#include "ConsoleOutput.h"
#include "ConsoleStatus.h"
#include "DesktopNotification.h"
#include "Dialer.h"
#include "ExitCode.h"
#include "JsonStreamWriter.h"
#include "Global.h"
#include "KeyringSecretStore.h"
#include "MailOperations.h"
#include "MessageBox.h"
#include "MessageFolderModel.h"
#include "OAuthTokens.h"
#include "Profile.h"
#include "ProfileSecrets.h"
#include "ProfileStore.h"
#include "RuleDatabase.h"
#include "SettingsStore.h"

#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <optional>
#include <fcntl.h>
#include <unistd.h>

namespace CheckCommand {

namespace {

using CommandLine::Options;

// SIGINT and SIGTERM (Ctrl+C, systemd stopping the timer's run) cancel the
// run as the window's Cancel button does, so that nothing is left half
// done: a deletion not yet confirmed by the server is then not made at all.
// A second signal ends the program at once.
class TerminationSignals {
public:
    explicit TerminationSignals(CancelFlag &cancel)
    {
        if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        m_notifier = std::make_unique<QSocketNotifier>(s_pipe[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [&cancel] {
            char byte;
            while (::read(s_pipe[0], &byte, 1) > 0) {
            }
            cancel.set();
        });
        struct sigaction action = {};
        action.sa_handler = [](int) {
            const char byte = 1;
            [[maybe_unused]] const ssize_t written = ::write(s_pipe[1], &byte, 1);
        };
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
    }
    ~TerminationSignals()
    {
        if (!m_notifier)
            return;
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        m_notifier.reset();
        ::close(s_pipe[0]);
        ::close(s_pipe[1]);
    }
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

private:
    static inline int s_pipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
};

// The profile named on the command line, else the one used last, in its
// stored spelling; empty (with the reason told) when there is none.
QString chooseProfile(const Options &options)
{
    const QString wanted = options.profile.isEmpty()
                               ? ProfileStore().lastProfile()
                               : options.profile;
    const QStringList names = ProfileNames();
    for (const QString &name : names) {
        if (!wanted.isEmpty() && name.compare(wanted, Qt::CaseInsensitive) == 0)
            return name;
    }
    const QString known = names.isEmpty() ? QStringLiteral("there are none yet; make one in the window")
                                          : QStringLiteral("known: ") + names.join(QStringLiteral(", "));
    if (wanted.isEmpty())
        ConsoleOutput::error(QStringLiteral("No profile was given and none was used last; name one with "
                                            "--profile (%1).").arg(ConsoleOutput::plain(known)));
    else
        ConsoleOutput::error(QStringLiteral("There is no profile \"%1\" (%2).")
                                 .arg(ConsoleOutput::plain(wanted), ConsoleOutput::plain(known)));
    return QString();
}

// Done, or the exit code of what keeps the profile from being checked.
int readiness(const QString &profile, const ProfileSettingsRecord &settings)
{
    QStringList missing;
    if (settings.EmailHost.isEmpty())
        missing << QStringLiteral("POP server");
    if (settings.EmailPort.isEmpty())
        missing << QStringLiteral("port");
    if (settings.EmailUserid.isEmpty())
        missing << QStringLiteral("user ID");
    if (settings.usesOAuth2()) {
        if (settings.OAuthClientId.isEmpty())
            missing << QStringLiteral("OAuth2 client ID");
    } else if (settings.EmailPassword.isEmpty()) {
        missing << QStringLiteral("password");
    }
    if (missing.isEmpty() && connectionSecurity(settings) == ConnectionSecurity::Unknown) {
        // Guessing a security the profile does not name could send the
        // password in clear: refused before anything is sent.
        ConsoleOutput::error(QStringLiteral("The profile \"%1\" is not configured: its connection security \"%2\" "
                                            "is none of None, STARTTLS and SSL/TLS, so nothing was sent; choose "
                                            "one in the window's Settings.")
                                 .arg(ConsoleOutput::plain(profile), ConsoleOutput::plain(settings.EmailSecurity)));
        return ExitCode::NotConfigured;
    }
    if (missing.isEmpty())
        return ExitCode::Done;
    QString text = QStringLiteral("The profile \"%1\" has no %2; set it in the window's Settings.")
                       .arg(ConsoleOutput::plain(profile), missing.join(QStringLiteral(", ")));
    // A password the keyring holds but would not give is not "missing".
    if (!settings.SecretProblem.isEmpty())
        text += QLatin1Char(' ') + ConsoleOutput::plain(settings.SecretProblem);
    ConsoleOutput::error(text);
    return ExitCode::NotConfigured;
}

// An OAuth2 profile gets its access token before anything is sent: without
// a sign-in that still works only the browser can help, and the browser
// belongs to the window.
int signInReady(const QString &profile, AccessTokenSource &tokens)
{
    const AccessToken token = tokens(false);
    if (token.state == AccessToken::State::Ready)
        return ExitCode::Done;
    QString why = CommandLine::forCommandLine(token.error);
    why.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    ConsoleOutput::error(
        token.state == AccessToken::State::SignInNeeded
            ? QStringLiteral("The profile \"%1\" has no usable OAuth2 sign-in, and signing in needs the browser, "
                             "which only the window opens: %2")
                  .arg(ConsoleOutput::plain(profile), ConsoleOutput::plain(why))
            : QStringLiteral("The OAuth2 sign-in of the profile \"%1\" failed: %2")
                  .arg(ConsoleOutput::plain(profile), ConsoleOutput::plain(why)));
    return ExitCode::ConnectionFailed;
}

// The run's overall time limit (--timeout). When it passes, the run is
// cancelled, so that it ends as Cancel ends a run: DELEs already written get
// their replies within the cancel grace and are reported as the server
// carried them out, or the connection closes without QUIT.
class Deadline {
public:
    Deadline(int seconds, CancelFlag &cancel)
        : m_seconds(seconds)
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::CoarseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this, &cancel] {
            m_passed = true;
            cancel.set();
        });
        m_timer.start(seconds * 1000);
    }
    bool passed() const { return m_passed; }
    // The line for a run it ended, and the run's exit code.
    int report() const
    {
        ConsoleOutput::error(QStringLiteral("The check was stopped after %1 seconds (--timeout): the server did not "
                                            "finish in time.")
                                 .arg(m_seconds));
        return ExitCode::ConnectionFailed;
    }

private:
    int m_seconds;
    QTimer m_timer;
    bool m_passed = false;
};

int exitCodeFor(MailOutcome outcome, const Deadline &deadline)
{
    if (outcome == MailOutcome::Cancelled && deadline.passed())
        return deadline.report();
    switch (outcome) {
    case MailOutcome::Done:
        return ExitCode::Done;
    case MailOutcome::NotConfigured:
        return ExitCode::NotConfigured;
    case MailOutcome::ConnectionFailed:
        return ExitCode::ConnectionFailed;
    case MailOutcome::Cancelled:
        ConsoleOutput::error(QStringLiteral("Cancelled."));
        return ExitCode::Failure;
    case MailOutcome::Failed:
        return ExitCode::Failure;
    }
    return ExitCode::Failure;
}

QList<MessageEntry> entries(const MessageFolderModel &model)
{
    QList<MessageEntry> list;
    for (int r = 0; r < model.count(); ++r)
        list.append(model.entry(r));
    return list;
}

// Checks one profile (and with --delete empties its Recycle Bin); `result`
// gets the report once the mailbox has been read.
int checkProfile(const Options &options, RuleDatabase &rules, const QString &profile, CancelFlag &cancel,
                 const Deadline &deadline, std::optional<CheckReport> &result)
{
    ProfileSettingsRecord settings = ReadProfile(profile);
    if (const int code = readiness(profile, settings); code != ExitCode::Done)
        return code;

    ConsoleStatus status(!options.quiet);
    // The session's failures come as message boxes: here they are lines on
    // standard error, and a question is never asked (answered No).
    const MessageBox::Handler previous = MessageBox::setHandler([&status](const MessageBox::Request &request) {
        status.clear();
        QString text = CommandLine::forCommandLine(request.text);
        text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        ConsoleOutput::error(ConsoleOutput::plain(request.title + QStringLiteral(": ") + text));
        return request.buttons == MessageBox::Buttons::YesNo ? MessageBox::Result::No : MessageBox::Result::Ok;
    });
    struct RestoreHandler {
        MessageBox::Handler handler;
        ~RestoreHandler() { MessageBox::setHandler(std::move(handler)); }
    } restore{previous};

    // No question: a certificate that is not trusted already is refused,
    // naming its fingerprint, unless it is the one --trust-certificate names;
    // that one is then kept for the profile as the window's Trust keeps it.
    SessionOptions session;
    session.keepHeaderBlocks = false; // nothing is sorted again after the check
    session.certificatePrompt = [&options](const QString &host, const QList<QSslCertificate> &chain,
                                           const QList<QSslError> &) {
        const QString presented = certificateFingerprint(chain.value(0));
        if (!presented.isEmpty() && presented == options.trustCertificate)
            return CertificateDecision::TrustAlways;
        QString text = QStringLiteral("The certificate of %1 is not trusted. Its SHA-256 fingerprint is %2; if "
                                      "you know it is your server's, run again with --trust-certificate %2.")
                           .arg(ConsoleOutput::plain(host), presented);
        if (!options.trustCertificate.isEmpty())
            text += QStringLiteral(" The fingerprint given, %1, is another certificate's.").arg(options.trustCertificate);
        ConsoleOutput::error(text);
        return CertificateDecision::Refuse;
    };
    session.certificateTrusted = [&settings, &profile, &status](const QString &fingerprint) {
        settings.TrustedCertificate = fingerprint; // the deletion's connection trusts it too
        // Told as a failed save of a renewed sign-in is; the check goes on.
        if (const StoreWriteResult saved = ProfileStore().saveTrustedCertificate(profile, fingerprint); !saved) {
            status.clear();
            ConsoleOutput::error(ConsoleOutput::plain(
                QStringLiteral("The certificate is trusted for this run, but it could not be remembered for the "
                               "profile \"%1\". %2").arg(profile, saved.error)));
        }
    };
    if (settings.usesOAuth2()) {
        session.accessToken = profileAccessTokens(settings, [&profile](const QString &token) {
            const ProfileSecrets::Report report = ProfileStore().saveRefreshToken(profile, token);
            if (report.trouble)
                ConsoleOutput::error(ConsoleOutput::plain(report.text));
        });
        status.setStatusText(QStringLiteral("Renewing Sign-In..."));
        if (const int code = signInReady(profile, session.accessToken); code != ExitCode::Done) {
            status.clear();
            return code;
        }
    }

    std::unique_ptr<Dialer> dialer;
    if (settings.Autodial == QLatin1String("1")) {
        status.setStatusText(QStringLiteral("Dialing Connection..."));
        dialer = createSystemDialer();
        dialer->DialUp(settings, cancel);
        if (dialer->RasResult != 0) {
            const bool cancelled = cancel.isSet();
            dialer->HangUp();
            status.clear();
            if (cancelled)
                return exitCodeFor(MailOutcome::Cancelled, deadline);
            ConsoleOutput::error(QStringLiteral("Dialup Error: ") + RasErrorText(dialer->RasResult));
            return ExitCode::ConnectionFailed;
        }
    }
    struct HangUp {
        Dialer *dialer;
        ~HangUp()
        {
            if (dialer)
                dialer->HangUp();
        }
    } hangUp{dialer.get()};

    MessageFolderModel inbox;
    MessageFolderModel recycle;
    QString listingNote;
    const MailOutcome fetched =
        FetchHeader(status, inbox, recycle, RuleClassifier::lazy(rules), settings, cancel, session, &listingNote);
    if (fetched != MailOutcome::Done) {
        status.clear();
        return exitCodeFor(fetched, deadline);
    }

    CheckReport report = CheckReport::fromFolders(profile, inbox, recycle);
    report.listingNote = listingNote;
    int code = ExitCode::Done;
    if (options.del) {
        // The deletions go into the history before QUIT commits them.
        bool historyFailed = false;
        const DeletionJournal journal = historyJournal(rules, profile, [&](const QString &error) {
            status.clear();
            ConsoleOutput::error(QStringLiteral("The deletion history could not be written: ") + error);
            historyFailed = true;
        });
        DeletionResult deletion;
        if (recycle.count() > 0)
            deletion = EmptyRecycleBin(status, recycle, settings, cancel, session, journal);
        report.applyDeletion(deletion, entries(recycle));

        if (deletion.outcome != MailOutcome::Done)
            code = exitCodeFor(deletion.outcome, deadline);
        else if (historyFailed)
            code = ExitCode::Failure;
        else if (deletion.notDeleted > 0)
            code = ExitCode::PartlyDeleted;
    }
    status.clear();
    result = std::move(report);
    return code;
}

// The profiles to check: all of them (--all), or the one named or used last.
QStringList chooseProfiles(const Options &options)
{
    if (!options.all) {
        const QString profile = chooseProfile(options);
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
        const qsizetype errorsBefore = ConsoleOutput::errorsSoFar().size();
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
        const QStringList errors = ConsoleOutput::errorsSoFar().mid(errorsBefore);
        if (report) {
            summary.addChecked(*report, code, errors.value(0));
            if (options.json && many)
                report->writeJson(json);
            else if (options.json)
                report->writeJson(ConsoleOutput::outPiece);
            else
                for (const QString &line : report->lines(options.quiet))
                    ConsoleOutput::out(line);
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
