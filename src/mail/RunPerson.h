#pragma once

#include "MailResult.h"
#include "SaslOAuth.h"
#include "SecureChannel.h"

#include <QStringList>
#include <functional>
#include <optional>

class RunStatus;

// What keeps a profile from being run as it stands.
struct ProfileReadiness {
    // The values it lacks, named for the user: "POP server", "port",
    // "user ID", "OAuth2 client ID", "password".
    QStringList missing;
    // What the profile's server is called there: "POP server" or "IMAP server".
    QString server = QStringLiteral("POP server");
    // The stored connection security when it names none we know: no guess
    // at it could be safe, so nothing is sent.
    QString unknownSecurity;
    // Why a stored secret could not be read (a locked keyring); empty else.
    QString secretProblem;
    MailReason secretAdvice = MailReason::None; // beyond entering the secret

    bool ready() const { return missing.isEmpty() && unknownSecurity.isEmpty(); }
    // The password is missing only because the keyring kept it to itself.
    bool passwordUnreadable() const { return missing.contains(QStringLiteral("password")) && !secretProblem.isEmpty(); }
};

// The runs' progress: the window's modal "Please wait..." dialog, or the
// console's status line. LearnFromServer reads folders and changes nothing.
enum class ProgressKind { FetchInbox, EmptyRecycleBin, LearnFromServer };

class ProgressControl {
public:
    virtual ~ProgressControl() = default;
    // Ends the progress display (the run may go on, e.g. to report after it).
    virtual void closeDialog() = 0;
    virtual void repaintNow() = 0;
};

// What a run needs of the person who started it, or of what stands in for
// one: the window asks with dialogs and shows boxes, the command line never
// asks and prints lines.
class RunPerson {
public:
    virtual ~RunPerson() = default;

    virtual RunStatus &status() = 0;
    // Calls `work` while the run's progress shows, and returns when it has
    // ended. The window readies its views for the run first.
    virtual void whileInProgress(ProgressKind kind, const std::function<void(ProgressControl &)> &work) = 0;
    // The password the keyring would not give (`why` says so): none when
    // nobody can be asked, empty when the person declined.
    virtual std::optional<QString> askPassword(const QString &why) = 0;
    // A server certificate that failed verification and is not the
    // profile's trusted one.
    virtual CertificateDecision askCertificate(const QString &host, const QList<QSslCertificate> &chain,
                                               const QList<QSslError> &errors) = 0;
    // Keeps what a run renewed for the profile: a certificate the person
    // chose to trust, a refresh token the provider replaced.
    virtual void keepCertificate(const QString &profile, const QString &fingerprint) = 0;
    virtual void keepRefreshToken(const QString &profile, const QString &refreshToken) = 0;
    // Before an OAuth2 profile connects: false (having said why) when the
    // run should not go on, e.g. because no token can be had without a
    // browser this front end cannot open.
    virtual bool readyToSignIn(AccessTokenSource &tokens)
    {
        Q_UNUSED(tokens);
        return true;
    }
    // The profile cannot be run as it stands.
    virtual void notReady(const ProfileReadiness &why) = 0;
    // A result with a text: a failure, or rows a deletion left behind.
    virtual void report(const MailResult &result) = 0;
    // The deletion history could not be settled (the entries stay pending).
    virtual void historyTrouble(const QString &error) = 0;
};
