#include "Runs.h"

#include "Dialer.h"
#include "Global.h"
#include "MailOperations.h"
#include "MessageBox.h"
#include "MessageFolderModel.h"
#include "OAuthTokens.h"
#include "ProgressDialog.h"
#include "RuleDatabase.h"
#include "RunHost.h"

namespace Runs {

namespace {

bool profileConfigured(const CertificateHooks &hooks)
{
    auto &s = Global::ProfileSettings;
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

bool autodial()
{
    return Global::ProfileSettings.Autodial == QLatin1String("1");
}

// Dials when the profile asks for it. False when dialling failed: the dialog
// is then closed and the failure shown.
bool dialBefore(RunHost &host, Dialer &dialer, ProgressControl &dialog)
{
    if (!autodial())
        return true;
    host.setStatusText(QStringLiteral("Dialing Connection..."));
    dialer.DialUp(Global::ProfileSettings, Global::CancelRequested());
    if (dialer.RasResult == 0)
        return true;
    if (Global::CancelRequested().isSet()) {
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

SessionOptions sessionOptions(const CertificateHooks &hooks)
{
    SessionOptions options;
    options.certificatePrompt = hooks.prompt;
    options.certificateTrusted = [keep = hooks.keep](const QString &fingerprint) {
        // The next fetch or deletion trusts it too, saved or not.
        Global::ProfileSettings.TrustedCertificate = fingerprint;
        if (keep)
            keep(Global::CurrentProfile, fingerprint);
    };
    options.accessToken = profileAccessTokens(Global::ProfileSettings, [keep = hooks.keepRefreshToken](const QString &token) {
        if (keep)
            keep(Global::CurrentProfile, token);
    });
    return options;
}

void hangUpAfter(RunHost &host, Dialer &dialer)
{
    if (!autodial())
        return;
    dialer.HangUp();
    host.setStatusText(QString());
}

} // namespace

MailOutcome cmdFetch_Click(RunHost &host, RuleDatabase &rules, Dialer &dialer, const CertificateHooks &hooks)
{
    if (!profileConfigured(hooks))
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
        if (!dialBefore(host, dialer, dialog))
            return;
        if (!Global::CancelRequested().isSet())
            outcome = FetchHeader(host, host.inboxModel(), host.recycleModel(), RuleClassifier::lazy(rules),
                                  Global::ProfileSettings, Global::CancelRequested(), sessionOptions(hooks));
        hangUpAfter(host, dialer);
        dialog.closeDialog();
    });
    setSorting(host, true);
    return outcome;
}

void cmdConfirm_Click(RunHost &host, Dialer &dialer, const CertificateHooks &hooks)
{
    if (host.recycleModel().count() == 0)
        return;
    if (!profileConfigured(hooks))
        return;
    setSorting(host, false);
    runProgressDialog(ProgressKind::EmptyRecycleBin, host.dialogParent(), [&](ProgressControl &dialog) {
        host.selectFolderNode(QStringLiteral("Recycle Bin"));
        host.ShowRecycleBin();
        dialog.repaintNow();
        host.repaintNow();
        if (!dialBefore(host, dialer, dialog))
            return;
        if (!Global::CancelRequested().isSet()) {
            EmptyRecycleBin(host, host.recycleModel(), Global::ProfileSettings, Global::CancelRequested(),
                            sessionOptions(hooks), host.deletionJournal());
        }
        hangUpAfter(host, dialer);
        dialog.closeDialog();
    });
    setSorting(host, true);
}

} // namespace Runs
