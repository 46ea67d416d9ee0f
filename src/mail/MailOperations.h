#pragma once

#include "Pop3Session.h"
#include "RuleClassifier.h"

#include "MessageEntry.h"

#include <QList>
#include <QString>
#include <functional>

class MessageFolderModel;
class RunStatus;
namespace Global { struct ProfileSettingsRecord; class CancelFlag; }

// How a fetch or a deletion ended. Failures have been reported through
// MessageBox already; the outcome tells a caller without a screen what kind
// of failure it was.
enum class MailOutcome {
    Done,
    NotConfigured,    // a POP3 value of the profile is empty
    ConnectionFailed, // connect, securing, login, or the connection lost
    Cancelled,
    Failed            // anything else (a rule lookup that failed, a bad port)
};

// Reads the header of every message on the profile's server, sorts each into
// the Inbox or the Recycle Bin by the rule lists, and appends it as a row.
// Called with both lists empty and sorting off. `cancel` ends it early.
// Sorting asks `classify` once per message, with the From value and the
// header read (RuleClassifier; tests may give their own). It may throw
// std::exception, which ends the fetch with an "Error" box.
MailOutcome FetchHeader(RunStatus &status, MessageFolderModel &inbox, MessageFolderModel &recycle,
                        const MessageClassifier &classify, const Global::ProfileSettingsRecord &settings,
                        Global::CancelFlag &cancel, SessionOptions options = {});

struct DeletionResult {
    MailOutcome outcome = MailOutcome::Done;
    // The rows the server really removed: it accepted their DELE and then
    // answered QUIT positively. Empty whenever the session did not end so.
    QList<MessageEntry> deleted;
    // Rows already removed by another client since the fetch.
    int gone = 0;
    // Rows left in the list: refused, changed since the fetch, or all of
    // them when the session failed.
    int notDeleted = 0;
};

// Deletes every Recycle Bin message on the profile's server, from the last
// row to the first, removing each row whose deletion the server accepted.
// Messages are identified by their unique id (or, without one, their header)
// so that a mailbox changed since the fetch never loses the wrong message.
DeletionResult EmptyRecycleBin(RunStatus &status, MessageFolderModel &recycle,
                               const Global::ProfileSettingsRecord &settings, Global::CancelFlag &cancel,
                               SessionOptions options = {});
