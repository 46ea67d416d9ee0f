#include "Runs.h"

#include "Dialer.h"
#include "CancelFlag.h"
#include "ProfileRecord.h"
#include "MailOperations.h"
#include "MessageBox.h"
#include "MessageFolderModel.h"
#include "OAuthTokens.h"
#include "ProgressDialog.h"
#include "RuleDatabase.h"
#include "RunHost.h"

namespace Runs {

namespace {

bool profileConfigured(ProfileSettingsRecord &s, const CertificateHooks &hooks)
{
    // A password the keyring kept to itself is asked for, never taken as
    // empty; what the user types serves this session of the program.
    if (!s.usesOAuth2() && s.EmailPassword.isEmpty() && !s.SecretProblem.isEmpty()) {
        if (!hooks.askPassword) {
            MessageBox::show(s.SecretProblem + QStringLiteral("\r\nEnter the password in the settings."),
                             QStringLiteral("Error"), MessageBox::Icon::Critical);
            return false;
        }
        s.EmailPassword = hooks.askPassword(s.SecretProblem);
        if (s.EmailPassword.isEmpty())
            return false;
    }
    // Refused before dialling: no guess at a security the profile does not name.
    if (s.isConfigured() && connectionSecurity(s) == ConnectionSecurity::Unknown) {
        MessageBox::show(QStringLiteral("Email Setting not configured\r\n") + unknownSecurityText(s.EmailSecurity),
                         QStringLiteral("Error"), MessageBox::Icon::Critical);
        return false;
    }
    if (s.isConfigured())
        return true;
    MessageBox::show(QStringLiteral("Email Setting not configured\r\nPress the Setting button beside the profile box and fill in the POP server, user ID and password."), QStringLiteral("Error"),
                     MessageBox::Icon::Critical);
    return false;
}

void setSorting(RunHost &host, bool enabled)
{
    host.inboxModel().setSortingEnabled(enabled);
    host.recycleModel().setSortingEnabled(enabled);
}

bool autodial(const RunProfile &profile)
{
    return profile.settings.Autodial == QLatin1String("1");
}

// Dials when the profile asks for it. False when dialling failed: the dialog
// is then closed and the failure shown.
bool dialBefore(RunHost &host, Dialer &dialer, const RunProfile &profile, ProgressControl &dialog)
{
    if (!autodial(profile))
        return true;
    host.setStatusText(QStringLiteral("Dialing Connection..."));
    dialer.DialUp(profile.settings, profile.cancel);
    if (dialer.RasResult == 0)
        return true;
    if (profile.cancel.isSet()) {
        // The user stopped the dial: nothing failed, nothing to report.
        dialer.HangUp();
        dialog.closeDialog();
        host.setStatusText(QString());
        return false;
    }
    const QString message = RasErrorText(dialer.RasResult);
    dialer.HangUp();
    dialog.closeDialog();
    host.setStatusText(message);
    MessageBox::show(message, QStringLiteral("Dialup Error"), MessageBox::Icon::Critical);
    host.setStatusText(QString());
    return false;
}

SessionOptions sessionOptions(const RunProfile &profile, const CertificateHooks &hooks)
{
    SessionOptions options;
    options.certificatePrompt = hooks.prompt;
    options.certificateTrusted = [keep = hooks.keep, &profile](const QString &fingerprint) {
        // The next fetch or deletion trusts it too, saved or not.
        profile.settings.TrustedCertificate = fingerprint;
        if (keep)
            keep(profile.name, fingerprint);
    };
    options.accessToken = profileAccessTokens(profile.settings, [keep = hooks.keepRefreshToken, name = profile.name](const QString &token) {
        if (keep)
            keep(name, token);
    });
    return options;
}

void hangUpAfter(RunHost &host, Dialer &dialer, const RunProfile &profile)
{
    if (!autodial(profile))
        return;
    dialer.HangUp();
    host.setStatusText(QString());
}

} // namespace

MailOutcome cmdFetch_Click(RunHost &host, RuleDatabase &rules, Dialer &dialer, const RunProfile &profile,
                           const CertificateHooks &hooks)
{
    if (!profileConfigured(profile.settings, hooks))
        return MailOutcome::NotConfigured;
    MailOutcome outcome = MailOutcome::Cancelled;
    setSorting(host, false);
    runProgressDialog(ProgressKind::FetchInbox, host.dialogParent(), [&](ProgressControl &dialog) {
        host.selectFolderNode(QStringLiteral("Inbox"));
        host.inboxModel().clear();
        host.recycleModel().clear();
        host.setStatusText(QString());
        host.setProgressValue(0);
        host.ShowInbox();
        host.repaintNow();
        if (!dialBefore(host, dialer, profile, dialog))
            return;
        if (!profile.cancel.isSet())
            outcome = FetchHeader(host, host.inboxModel(), host.recycleModel(), RuleClassifier::lazy(rules),
                                  profile.settings, profile.cancel, sessionOptions(profile, hooks));
        hangUpAfter(host, dialer, profile);
        dialog.closeDialog();
    });
    setSorting(host, true);
    return outcome;
}

void cmdConfirm_Click(RunHost &host, Dialer &dialer, const RunProfile &profile, const CertificateHooks &hooks)
{
    if (host.recycleModel().count() == 0)
        return;
    if (!profileConfigured(profile.settings, hooks))
        return;
    setSorting(host, false);
    runProgressDialog(ProgressKind::EmptyRecycleBin, host.dialogParent(), [&](ProgressControl &dialog) {
        host.selectFolderNode(QStringLiteral("Recycle Bin"));
        host.ShowRecycleBin();
        dialog.repaintNow();
        host.repaintNow();
        if (!dialBefore(host, dialer, profile, dialog))
            return;
        if (!profile.cancel.isSet()) {
            EmptyRecycleBin(host, host.recycleModel(), profile.settings, profile.cancel,
                            sessionOptions(profile, hooks), host.deletionJournal());
        }
        hangUpAfter(host, dialer, profile);
        dialog.closeDialog();
    });
    setSorting(host, true);
}

} // namespace Runs
