#pragma once

#include "FolderLessons.h"
#include "MailOperations.h"
#include "RunPerson.h"

#include <functional>
#include <optional>

class CancelFlag;
class Dialer;
class MessageRows;
class RuleDatabase;
struct ProfileSettingsRecord;

// The runs behind Fetch Inbox, Empty Recycle Bin and the command line's
// check, the same for every front end: is the profile ready (a password the
// keyring kept is asked for), dial when the profile asks, fetch or delete,
// record the deletions, keep renewed tokens and trusted certificates, hang
// up. What needs a person goes through RunPerson.
namespace MailRun {

struct Target {
    // The profile, by name. A password asked for and a certificate trusted
    // during the run land in the record, so that the next run has them too.
    ProfileSettingsRecord &settings;
    QString name;
    CancelFlag &cancel;
    Dialer &dialer;
    RunPerson &person;
};

// Whether the profile can be run; tells the person why not. NotConfigured
// when not (also when the person declined to give the password).
MailOutcome ready(const Target &target);

// The session's options for the profile: certificate questions and
// renewed tokens go to the person, `base` gives the limits.
SessionOptions sessionOptions(const Target &target, SessionOptions base = {});

// Fetch Inbox, into the two (empty) lists. What it has to tell has been
// reported to the person.
MailOutcome fetch(const Target &target, MessageRows &inbox, MessageRows &recycle, const MessageClassifier &classify,
                  SessionOptions options = {}, QString *listingNote = nullptr);

// Empty Recycle Bin, the deletions recorded in the history of `rules`.
// Nothing happens when the list is empty. What it has to tell has been
// reported to the person. `settled` hears what the server did before the
// person is told: what the caller keeps of it is kept, even if the program
// ends while the report is open.
using Settled = std::function<void(const DeletionResult &)>;
DeletionResult emptyRecycleBin(const Target &target, MessageRows &recycle, RuleDatabase &rules,
                               SessionOptions options = {}, const Settled &settled = {});

// The fetch, then (with `andEmpty`, when it ended well) the emptying of the
// Recycle Bin it filled, in the same session: one connection, one login, the
// rows removed by the numbers they were read at. `fetched` sees the lists as
// the fetch left them, before anything is deleted; with removals to make, it
// runs while the server answers them, and must leave the Recycle Bin as it is.
struct CheckResult {
    MailOutcome fetched = MailOutcome::Cancelled;
    std::optional<DeletionResult> deletion; // when the Recycle Bin was emptied
};
CheckResult check(const Target &target, MessageRows &inbox, MessageRows &recycle, const MessageClassifier &classify,
                  RuleDatabase &rules, bool andEmpty, const std::function<void()> &fetched, SessionOptions options = {},
                  QString *listingNote = nullptr);

// Lessons from the mail the user already sorted on the profile's server:
// its headers go to `sink` a batch at a time, and `folders` says what was
// read. Nothing on the server changes. A protocol whose server keeps no
// sorted folders (POP3) has none to learn from: NotConfigured, told to the
// person.
MailOutcome learnFromServer(const Target &target, const LessonSink &sink, QList<LessonFolder> &folders,
                            SessionOptions options = {});

// After a fetch of a POP3 profile that ended well: the "deleted,
// unconfirmed" entries an earlier run left are settled by what the fetch
// listed (gone: confirmed; still there: withdrawn, as it was never deleted).
// Only a listing that gave every message its unique id can tell; otherwise,
// and for IMAP profiles, they stay as they are.
void settleUnconfirmed(const Target &target, RuleDatabase &rules, const MessageRows &inbox, const MessageRows &recycle);

} // namespace MailRun

ProfileReadiness readinessOf(const ProfileSettingsRecord &settings);
