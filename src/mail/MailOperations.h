#pragma once

#include "MailResult.h"
#include "MailboxSession.h"
#include "SessionOptions.h"
#include "RuleClassifier.h"

#include "MessageEntry.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class CancelFlag;
class MessageRows;
class RuleDatabase;
class RunStatus;
struct ProfileSettingsRecord;

// The screening, written once over any mailbox: the fetch that sorts every
// waiting message by its header, and the confirmed removal of the Recycle
// Bin. Neither shows anything: each returns what happened, and a result
// with a text is for the front end to show (a box, a line).

// The mailbox of the profile's server, for one session.
std::unique_ptr<MailboxSession> mailboxFor(RunStatus &status, const ProfileSettingsRecord &settings, CancelFlag &cancel,
                                           SessionOptions options = {});

// Reads the header of every message in the mailbox, sorts each into the
// Inbox or the Recycle Bin by the rule lists, and appends it as a row.
// Called with both lists empty and sorting off. `cancel` ends it early.
// Sorting asks `classify` once per message, with the From value, the header
// read and the listed size (RuleClassifier; tests may give their own). It
// may throw std::exception, which ends the fetch as Failed, titled "Error".
// Rows keep their header block and its digest only with `keepHeaderBlocks`
// (the window sorts again by the block when rules change, and removes in a
// later session, which confirms each message by the digest). When the server's listings
// disagree, every message any of them names is read, and *listingNote (when
// given) says how they disagree. With LeaveOpen a fetch that ended well
// leaves the session open, its message numbers valid for removals in it
// (EmptyRecycleBinInSession); the caller then commits or closes it.
enum class SessionEnd { Commit, LeaveOpen };
MailResult FetchHeader(RunStatus &status, MessageRows &inbox, MessageRows &recycle, const MessageClassifier &classify,
                       MailboxSession &mailbox, CancelFlag &cancel, bool keepHeaderBlocks = true,
                       QString *listingNote = nullptr, SessionEnd end = SessionEnd::Commit);
// The same over the profile's mailbox, refused (nothing sent) when the
// profile lacks a value it needs.
MailResult FetchHeader(RunStatus &status, MessageRows &inbox, MessageRows &recycle, const MessageClassifier &classify,
                       const ProfileSettingsRecord &settings, CancelFlag &cancel, SessionOptions options = {},
                       QString *listingNote = nullptr);

struct DeletionResult {
    // How it ended; a text (also when it ended well: rows that could not be
    // deleted) is for the front end to show.
    MailResult result;
    // The rows the server really removed: it accepted their removal and then
    // confirmed the session's end. Empty whenever the session did not end so.
    QList<MessageEntry> deleted;
    // Rows whose message could not be confirmed on the server (its id or
    // header no longer agrees, or is missing); they stay in the list.
    int changed = 0;
    // Rows left in the list: refused, changed since the fetch, or all of
    // them when the session failed.
    int notDeleted = 0;
    // What was done with the deleted rows' messages ("moved to Junk");
    // empty when they were deleted.
    QString action;

    MailOutcome outcome() const { return result.kind; }
};

// Where a deletion records what it asks the server to carry out. Committing
// the session carries the deletions out, so they are written before it
// (marked pending) and settled after it: a run that ends in between still
// leaves them in the history, as deleted but unconfirmed.
struct DeletionJournal {
    // The rows whose removal the server accepted, before the commit. False
    // (with the reason) when they could not be written: the session then
    // ends without committing, so the server carries out nothing.
    std::function<bool(const QList<MessageEntry> &rows, QString *error)> pending;
    // After the commit: true when the server confirmed, false when it
    // certainly carried out nothing. Not called when that is unknown: the
    // entries then stay pending.
    std::function<void(bool carriedOut)> settle;
    // For a mailbox whose removals act at once, pending() is written before
    // they go out, and this settles each of its rows, in pending()'s order:
    // true carried out, false certainly not, none: unknown (stays pending).
    std::function<void(const QList<std::optional<bool>> &carriedOut)> settleEach = {};
    // Before pending(): what the removal does with the messages ("moved to
    // Junk"; empty: deletes them), for the records.
    std::function<void(const QString &action)> describe = {};
};

// Deletes every Recycle Bin message on the server, from the last row to the
// first, removing each row whose deletion the server accepted. Before any
// removal the mailbox finds each row's message again and confirms it by the
// row's identity (POP3: its unique id and header digest; IMAP: UIDVALIDITY
// and UID), so that a mailbox changed since the fetch, or a server whose
// listing cannot be trusted, never loses the wrong message. Rows that fail
// the check stay. When the session fails before the server confirmed, every
// row is put back, except those a mailbox that removes at once has removed.
DeletionResult EmptyRecycleBin(RunStatus &status, MessageRows &recycle, MailboxSession &mailbox, CancelFlag &cancel,
                               const DeletionJournal &journal = {});
DeletionResult EmptyRecycleBin(RunStatus &status, MessageRows &recycle, const ProfileSettingsRecord &settings,
                               CancelFlag &cancel, SessionOptions options = {}, const DeletionJournal &journal = {});
// The same in the session that fetched the rows, left open by the fetch:
// each row carries that session's key, which the mailbox confirms as it
// would confirm a row of another session (POP3 numbers hold within a
// session; IMAP confirms UIDVALIDITY and that each UID is still there). `meanwhile`, when
// given, runs once while the server answers the removals (or, failing a wait,
// before the list first changes), with the list still as it was.
DeletionResult EmptyRecycleBinInSession(RunStatus &status, MessageRows &recycle, MailboxSession &mailbox,
                                        CancelFlag &cancel, const DeletionJournal &journal = {},
                                        std::function<void()> meanwhile = {});

// A journal into the deletion history of `rules`, under `profile`. A
// failure to settle the entries (they stay pending) goes to `trouble`.
DeletionJournal historyJournal(RuleDatabase &rules, const QString &profile,
                               std::function<void(const QString &error)> trouble);
