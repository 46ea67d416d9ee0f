#pragma once

#include "MailResult.h"
#include "SieveScript.h"
#include "SieveSession.h"

#include <QList>
#include <QString>
#include <QStringList>

struct ProfileSettingsRecord;

// What Trelvik does with its script on a ManageSieve server, over a session
// that is logged in. The user's own filters are never lost: Trelvik's
// script has a name of its own, a script on the server under that name is
// replaced only while it is still what Trelvik wrote, and another active
// script is changed only when asked, after the server checked the change,
// with a copy of it kept beside it.
namespace SieveUpload {

enum class State {
    NoSieve, // the server's Sieve cannot run Trelvik's script (no fileinto)
    NotUploaded,
    UpToDate,
    OutOfDate,
    Edited, // a script of that name that is not, or no longer, Trelvik's
};
// "no Sieve", "not uploaded", "up to date", "out of date", "edited on the server"
QString stateText(State state);

struct Status {
    State state = State::NotUploaded;
    QList<SieveScriptEntry> scripts;
    QString active; // the active script's name; empty when none is
    bool included = false; // the active script includes Trelvik's with its lines
    bool running() const; // Trelvik's script runs on delivery
};

// Why an upload or a removal did not go ahead (besides the connection).
enum class Refusal { None, OtherActive, Edited, TooLarge, Rejected, NothingThere };

struct Outcome {
    MailResult result;
    Refusal refusal = Refusal::None;
    QStringList steps; // what was done on the server, for the user
    Status status; // as it is afterwards, when the outcome is done
};

// How the profile's script is made: spam filed into the profile's own Junk
// folder where it names one (else the usual name), with the extensions the
// server announced.
SieveScript::Options scriptOptions(const ProfileSettingsRecord &settings, const QStringList &extensions);

// The copy kept of a script Trelvik changed.
QString backupName(const QString &script);

MailResult status(SieveSession &session, const SieveScript::Script &script, Status *out);

struct Request {
    // Another script is active: add the include to it (else refuse).
    bool includeInActive = false;
};
Outcome upload(SieveSession &session, const SieveScript::Script &script, const Request &request);
// Deactivates and deletes Trelvik's script, and takes its lines out of the
// active script.
Outcome remove(SieveSession &session);

} // namespace SieveUpload
