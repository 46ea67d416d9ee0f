#pragma once

#include "MailResult.h"
#include "Pop3Session.h"
#include "RuleClassifier.h"

#include "MessageEntry.h"

#include <QList>
#include <QString>
#include <functional>

class MessageFolderModel;
class RuleDatabase;
class RunStatus;
struct ProfileSettingsRecord;
class CancelFlag;


// Reads the header of every message on the profile's server, sorts each into
// the Inbox or the Recycle Bin by the rule lists, and appends it as a row.
// Called with both lists empty and sorting off. `cancel` ends it early.
// Sorting asks `classify` once per message, with the From value and the
// header read (RuleClassifier; tests may give their own). It may throw
// std::exception, which ends the fetch with an "Error" box. When the
// server's listings (STAT, LIST, UIDL) disagree, every message any of them
// names is read, and *listingNote (when given) says how they disagree.
MailOutcome FetchHeader(RunStatus &status, MessageFolderModel &inbox, MessageFolderModel &recycle,
                        const MessageClassifier &classify, const ProfileSettingsRecord &settings,
                        CancelFlag &cancel, SessionOptions options = {}, QString *listingNote = nullptr);

struct DeletionResult {
    MailOutcome outcome = MailOutcome::Done;
    // The rows the server really removed: it accepted their DELE and then
    // answered QUIT positively. Empty whenever the session did not end so.
    QList<MessageEntry> deleted;
    // Rows whose message could not be confirmed on the server (its id or
    // header no longer agrees, or is missing); they stay in the list.
    int changed = 0;
    // Rows left in the list: refused, changed since the fetch, or all of
    // them when the session failed.
    int notDeleted = 0;
};

// Where a deletion records what it asks the server to carry out. QUIT
// commits a POP3 session's deletions, so they are written before it (marked
// pending) and settled after it: a run that ends in between still leaves
// them in the history, as deleted but unconfirmed.
struct DeletionJournal {
    // The rows whose DELE the server accepted, before QUIT. False (with the
    // reason) when they could not be written: the session then ends without
    // QUIT, so the server carries out nothing.
    std::function<bool(const QList<MessageEntry> &rows, QString *error)> pending;
    // After QUIT: true when the server confirmed, false when it certainly
    // carried out nothing. Not called when that is unknown (no answer to
    // QUIT, or a refusal): the entries then stay pending.
    std::function<void(bool carriedOut)> settle;
};

// Deletes every Recycle Bin message on the profile's server, from the last
// row to the first, removing each row whose deletion the server accepted.
// Before any DELE the message at the number a row now resolves to (by its
// unique id, else its number in the fetch) is confirmed to be the row's:
// its id, when it has one, and its header digest must both agree, so that a
// mailbox changed since the fetch, or a server whose listing cannot be
// trusted, never loses the wrong message. Rows that fail the check stay.
DeletionResult EmptyRecycleBin(RunStatus &status, MessageFolderModel &recycle,
                               const ProfileSettingsRecord &settings, CancelFlag &cancel,
                               SessionOptions options = {}, const DeletionJournal &journal = {});

// A journal into the deletion history of `rules`, under `profile`. A
// failure to settle the entries (they stay pending) goes to `trouble`.
DeletionJournal historyJournal(RuleDatabase &rules, const QString &profile,
                               std::function<void(const QString &error)> trouble);
