#pragma once

#include "MailRun.h"
#include "SieveEndpoint.h"
#include "SieveScript.h"
#include "SieveUpload.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class MailConnection;

// One conversation with the profile's ManageSieve server for the window:
// connect, sign in, make the script for what the server's engine offers,
// then look, upload or remove, and sign out. The waits are the session's
// own (event loops with deadlines), so the window stays live meanwhile.
namespace ServerRules {

enum class Action {
    Status,
    Upload, // never changes another active script
    UploadWithInclude, // adds Trelvik's include to another active script
    Remove,
};

// What a test puts in place of the network and the clock.
struct Seams {
    std::function<std::unique_ptr<MailConnection>()> connection; // a socket when empty
    SieveSrvLookup srv; // the system resolver when empty
    QDateTime made; // the script's stamp; now when not valid
};

struct Report {
    MailResult result;
    bool reached = false; // signed in: the script and the status below are the server's
    QString server; // "host:port"
    QStringList extensions; // the server's SIEVE capability
    SieveScript::Script script; // as it is (or would be) uploaded
    SieveUpload::Outcome outcome; // its status is the server's state afterwards
    // The other active script's text, when Trelvik's rules are not in it.
    QString activeText;
};

// As the command line makes it (SieveUpload::scriptOptions), at `made`.
SieveScript::Options scriptOptions(const ProfileSettingsRecord &settings, const QStringList &extensions,
                                   const QDateTime &made = {});

// The filter and exempted lists, then the conversation. The profile must be
// ready (MailRun::ready).
Report run(Action action, const MailRun::Target &target, const QStringList &filter, const QStringList &exempted,
           const Seams &seams = {});

// The lines the include adds to `script`, each marked "+", with the line
// before them for orientation: what the user agrees to.
QString includeChange(const QString &script);

} // namespace ServerRules
