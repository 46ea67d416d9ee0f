#pragma once

#include "MailResult.h"
#include "SecureChannel.h"

#include <QString>
#include <functional>

class CancelFlag;
class Dialer;
class RuleDatabase;
class RunHost;
struct ProfileSettingsRecord;

// The two long runs behind the main window's buttons, as the window runs
// them: sorting off on both lists, the modal progress dialog, boxes for what
// went wrong, sorting on again. The runs themselves are MailRun's.
namespace Runs {

// How the window asks about a certificate that failed verification and keeps
// one the user chose to trust (for the given profile). Without a prompt such
// a certificate is refused; without a keeper the trust lasts for this run of
// the program only.
struct CertificateHooks {
    CertificatePrompt prompt;
    std::function<void(const QString &profile, const QString &fingerprint)> keep;
    // Stores a refresh token the OAuth2 provider replaced during a run.
    std::function<void(const QString &profile, const QString &refreshToken)> keepRefreshToken = {};
    // Asks for the email password the keyring did not give (the reason is
    // shown); empty when the user declined. Without it the run stops.
    std::function<QString(const QString &why)> askPassword = {};
};

// The profile a run works on, by name, and the flag its Cancel raises. A
// password asked for and a certificate trusted during the run land in the
// record, so that the next run has them too. `learning` is the learned pool
// whose verdicts a fetch shows and which an Empty teaches.
struct RunProfile {
    ProfileSettingsRecord &settings;
    QString name;
    CancelFlag &cancel;
    QString learning;
};

// The fetch's outcome: Done when every listed message was read and the
// session ended well.
MailOutcome cmdFetch_Click(RunHost &host, RuleDatabase &rules, Dialer &dialer, const RunProfile &profile,
                           const CertificateHooks &hooks = {});
// Deletions are recorded in the deletion history of `rules`. An empty
// Recycle Bin leaves the server, and the learning, alone.
void cmdConfirm_Click(RunHost &host, RuleDatabase &rules, Dialer &dialer, const RunProfile &profile,
                      const CertificateHooks &hooks = {});

// Learn From Server Folders: lessons for an IMAP profile from the mail its
// user already sorted on the server (the Junk folder as spam, INBOX and an
// archive folder as good), read-only, under the progress dialog. The lists
// stay as they are. Returns what to tell the user: how many new lessons
// were taken, or why none could be; empty after a Cancel with none taken.
QString mnuLearnFromServer_Click(RunHost &host, RuleDatabase &rules, Dialer &dialer, const RunProfile &profile,
                                 const CertificateHooks &hooks = {});

} // namespace Runs
