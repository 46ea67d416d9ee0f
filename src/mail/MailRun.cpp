#include "MailRun.h"

#include "MailProtocols.h"
#include "CancelFlag.h"
#include "DeletionHistory.h"
#include "Dialer.h"
#include "MessageRows.h"
#include "OAuthTokens.h"
#include "ProfileRecord.h"
#include "RunStatus.h"

ProfileReadiness readinessOf(const ProfileSettingsRecord &settings)
{
    ProfileReadiness why;
    why.server = MailProtocols::builtIn().of(settings).serverWords;
    if (settings.EmailHost.isEmpty())
        why.missing << why.server;
    if (settings.EmailPort.isEmpty())
        why.missing << QStringLiteral("port");
    if (settings.EmailUserid.isEmpty())
        why.missing << QStringLiteral("user ID");
    if (settings.usesOAuth2()) {
        if (settings.OAuthClientId.isEmpty())
            why.missing << QStringLiteral("OAuth2 client ID");
    } else if (settings.EmailPassword.isEmpty()) {
        why.missing << QStringLiteral("password");
    }
    if (connectionSecurity(settings) == ConnectionSecurity::Unknown)
        why.unknownSecurity = settings.EmailSecurity;
    why.secretProblem = settings.SecretProblem;
    why.secretAdvice = settings.SecretAdvice;
    return why;
}

namespace MailRun {

namespace {

bool autodial(const Target &target)
{
    return target.settings.Autodial == QLatin1String("1");
}

// Dials when the profile asks for it: Done when connected (or no dial is
// needed), else how it ended, told already.
MailOutcome dialBefore(const Target &target, ProgressControl &progress)
{
    if (!autodial(target))
        return MailOutcome::Done;
    RunStatus &status = target.person.status();
    status.setStatusText(QStringLiteral("Dialing Connection..."));
    target.dialer.DialUp(target.settings, target.cancel);
    if (target.dialer.RasResult == 0)
        return MailOutcome::Done;
    if (target.cancel.isSet()) {
        // The user stopped the dial: nothing failed, nothing to report.
        target.dialer.HangUp();
        progress.closeDialog();
        status.setStatusText(QString());
        return MailOutcome::Cancelled;
    }
    const QString message = RasErrorText(target.dialer.RasResult);
    target.dialer.HangUp();
    progress.closeDialog();
    status.setStatusText(message);
    target.person.report(MailResult::failure(MailOutcome::ConnectionFailed, QStringLiteral("Dialup Error"), message));
    status.setStatusText(QString());
    return MailOutcome::ConnectionFailed;
}

void hangUpAfter(const Target &target)
{
    if (!autodial(target))
        return;
    target.dialer.HangUp();
    target.person.status().setStatusText(QString());
}

MailOutcome reported(const MailResult &result, RunPerson &person)
{
    if (result.hasMessage())
        person.report(result);
    return result.kind;
}

DeletionJournal journalOf(const Target &target, RuleDatabase &rules)
{
    RunPerson &person = target.person;
    return historyJournal(rules, target.name, [&person](const QString &error) { person.historyTrouble(error); });
}

DeletionResult emptyIn(const Target &target, MessageRows &recycle, RuleDatabase &rules, const SessionOptions &options,
                       const Settled &settled = {})
{
    DeletionResult result = EmptyRecycleBin(target.person.status(), recycle, target.settings, target.cancel, options,
                                            journalOf(target, rules));
    if (settled)
        settled(result);
    reported(result.result, target.person);
    return result;
}

// Ends a session a fetch left open with nothing to remove in it, as the
// fetch would have ended it: a commit that fails fails the fetch.
MailResult committed(MailboxSession &mailbox)
{
    MailResult result = mailbox.commit();
    mailbox.close();
    return result.ok() || result.kind == MailOutcome::Cancelled ? MailResult::done() : result;
}

// Ready, signed in where that is needed first, and then `work` inside the
// run's progress between dialling and hanging up.
template <typename Work>
MailOutcome connected(const Target &target, ProgressKind kind, SessionOptions &options, Work work)
{
    if (ready(target) != MailOutcome::Done)
        return MailOutcome::NotConfigured;
    options = sessionOptions(target, std::move(options));
    if (target.settings.usesOAuth2() && !target.person.readyToSignIn(options.accessToken))
        return MailOutcome::ConnectionFailed;
    MailOutcome outcome = MailOutcome::Cancelled;
    target.person.whileInProgress(kind, [&](ProgressControl &progress) {
        outcome = dialBefore(target, progress);
        if (outcome == MailOutcome::Done) {
            outcome = target.cancel.isSet() ? MailOutcome::Cancelled : work();
            hangUpAfter(target);
        }
        progress.closeDialog();
    });
    return outcome;
}

} // namespace

MailOutcome ready(const Target &target)
{
    ProfileSettingsRecord &settings = target.settings;
    ProfileReadiness why = readinessOf(settings);
    // A password the keyring kept to itself is asked for, never taken as
    // empty; what the person types serves this session of the program.
    if (!settings.usesOAuth2() && why.passwordUnreadable()) {
        if (const std::optional<QString> typed = target.person.askPassword(why.secretProblem)) {
            if (typed->isEmpty())
                return MailOutcome::NotConfigured;
            settings.EmailPassword = *typed;
            why = readinessOf(settings);
        }
    }
    if (why.ready())
        return MailOutcome::Done;
    target.person.notReady(why);
    return MailOutcome::NotConfigured;
}

SessionOptions sessionOptions(const Target &target, SessionOptions base)
{
    RunPerson &person = target.person;
    base.certificatePrompt = [&person](const QString &host, const QList<QSslCertificate> &chain,
                                       const QList<QSslError> &errors) {
        return person.askCertificate(host, chain, errors);
    };
    base.certificateTrusted = [&target](const QString &fingerprint) {
        // The next fetch or deletion trusts it too, kept or not.
        target.settings.TrustedCertificate = fingerprint;
        target.person.keepCertificate(target.name, fingerprint);
    };
    if (target.settings.usesOAuth2() && !base.accessToken)
        base.accessToken = profileAccessTokens(target.settings, [&person, name = target.name](const QString &token) {
            person.keepRefreshToken(name, token);
        });
    return base;
}

MailOutcome fetch(const Target &target, MessageRows &inbox, MessageRows &recycle, const MessageClassifier &classify,
                  SessionOptions options, QString *listingNote)
{
    return connected(target, ProgressKind::FetchInbox, options, [&] {
        return reported(FetchHeader(target.person.status(), inbox, recycle, classify, target.settings, target.cancel,
                                    options, listingNote),
                        target.person);
    });
}

DeletionResult emptyRecycleBin(const Target &target, MessageRows &recycle, RuleDatabase &rules, SessionOptions options,
                               const Settled &settled)
{
    DeletionResult result;
    if (recycle.count() == 0)
        return result;
    result.notDeleted = recycle.count();
    result.result.kind = connected(target, ProgressKind::EmptyRecycleBin, options, [&] {
        result = emptyIn(target, recycle, rules, options, settled);
        return result.outcome();
    });
    return result;
}

MailOutcome learnFromServer(const Target &target, const LessonSink &sink, QList<LessonFolder> &folders,
                            SessionOptions options)
{
    folders.clear();
    const ReadFolderLessons read = protocolsOf(options).of(target.settings).folderLessons;
    if (!read)
        return reported(MailResult::failure(MailOutcome::NotConfigured, QStringLiteral("Error"),
                                            QStringLiteral("Only an IMAP profile can learn from the server's "
                                                           "folders: a POP3 server keeps no Junk folder.")),
                        target.person);
    return connected(target, ProgressKind::LearnFromServer, options, [&] {
        return reported(read(target.person.status(), target.settings, target.cancel, options, sink, folders),
                        target.person);
    });
}

void settleUnconfirmed(const Target &target, RuleDatabase &rules, const MessageRows &inbox, const MessageRows &recycle)
{
    if (!MailProtocols::builtIn().of(target.settings).settlesByListing)
        return;
    QSet<QString> uids;
    for (const MessageRows *folder : {&inbox, &recycle}) {
        for (int row = 0; row < folder->count(); ++row) {
            const QString &uid = folder->entry(row).uid;
            if (uid.isEmpty())
                return; // this message could be one an entry names
            uids.insert(uid);
        }
    }
    QString error;
    if (!DeletionHistory(rules).settleByListing(target.name, uids, &error))
        target.person.historyTrouble(error);
}

CheckResult check(const Target &target, MessageRows &inbox, MessageRows &recycle, const MessageClassifier &classify,
                  RuleDatabase &rules, bool andEmpty, const std::function<void()> &fetched, SessionOptions options,
                  QString *listingNote)
{
    CheckResult result;
    result.fetched = connected(target, ProgressKind::FetchInbox, options, [&] {
        RunStatus &status = target.person.status();
        if (!andEmpty) {
            const MailOutcome outcome = reported(FetchHeader(status, inbox, recycle, classify, target.settings,
                                                             target.cancel, options, listingNote),
                                                 target.person);
            if (outcome == MailOutcome::Done)
                settleUnconfirmed(target, rules, inbox, recycle);
            if (outcome == MailOutcome::Done && fetched)
                fetched();
            return outcome;
        }
        // Message numbers hold within a session: the Recycle Bin is emptied
        // in the session that filled it, by the numbers it read them at.
        const auto mailbox = mailboxFor(status, target.settings, target.cancel, options);
        MailResult read = FetchHeader(status, inbox, recycle, classify, *mailbox, target.cancel,
                                      options.keepHeaderBlocks, listingNote, SessionEnd::LeaveOpen);
        // Before this run records deletions of its own.
        if (read.ok())
            settleUnconfirmed(target, rules, inbox, recycle);
        if (read.ok() && recycle.count() == 0)
            read = committed(*mailbox);
        const MailOutcome outcome = reported(read, target.person);
        if (outcome != MailOutcome::Done)
            return outcome;
        if (recycle.count() == 0) {
            if (fetched)
                fetched();
            return outcome;
        }
        // What waits for the lists as read is done while the server answers
        // the removals, instead of before they go out.
        result.deletion = EmptyRecycleBinInSession(status, recycle, *mailbox, target.cancel, journalOf(target, rules),
                                                   fetched);
        reported(result.deletion->result, target.person);
        return outcome;
    });
    return result;
}

} // namespace MailRun
