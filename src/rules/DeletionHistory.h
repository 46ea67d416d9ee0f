#pragma once

#include "MessageEntry.h"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <optional>

class RuleDatabase;
struct sqlite3;

// One message the server removed at the user's (or the timer's) request.
struct DeletionRecord {
    QDateTime time; // when the server confirmed it (UTC)
    QString profile;
    QString sender; // the header values as sent
    QString subject;
    QString date;
    QString size; // "12K"
    QString uid; // the server's unique id, empty when it gave none
    QString rule; // what put it in the Recycle Bin ("Moved by hand", a rule)
    // Written before the server was asked to carry the deletion out, and
    // never settled: the run ended without learning whether it did.
    bool unconfirmed = false;
    qint64 bytes = -1; // the size the server listed; -1 when not known (or recorded before sizes were kept)
    // What was done with it when not a deletion: "moved to Junk" (to the
    // folder named). Empty for a deletion, and for records older than this.
    QString action = {};

    static DeletionRecord from(const QString &profile, const MessageEntry &entry, const QDateTime &time);
};

// The record of every message deleted on a server, kept in the rule
// database (table tbdeleted) so that it is as private as the rules and is
// compacted with them. Holds the newest kLimit records; older ones go,
// except the newest kLearnedMovesKept moves a learned verdict made (several
// profiles' worth of what the learning reads of a Junk folder, 2,000 each).
class DeletionHistory {
public:
    static constexpr int kLimit = 10000;
    static constexpr int kLearnedMovesKept = 10000;

    explicit DeletionHistory(RuleDatabase &database);

    // The records one recordPending() wrote.
    struct Batch {
        qint64 first = 0;
        qint64 last = -1;
    };

    // Adds the records in one transaction (all or none) and drops the
    // oldest beyond the limit. False with *error when it could not.
    bool record(const QList<DeletionRecord> &records, QString *error);
    // The same, marked pending: for deletions the server has yet to commit.
    std::optional<Batch> recordPending(const QList<DeletionRecord> &records, QString *error);
    // Settles pending records: kept as plain deletions when the server
    // carried them out, removed when it certainly did not.
    bool settle(const Batch &batch, bool carriedOut, QString *error);
    // Settles each record of the batch on its own, in the order they were
    // written: true carried out, false certainly not; a record without an
    // outcome stays pending. All or none.
    bool settleEach(const Batch &batch, const QList<std::optional<bool>> &carriedOut, QString *error);
    // Settles the pending records of `profile` that an earlier run left
    // (it ended before the server confirmed them) by what a later, complete
    // listing of that mailbox shows: `uidsOnServer` holds the unique id of
    // every message there now. A record whose message is gone is confirmed;
    // one whose message is still there was never deleted and is removed, so
    // that a later deletion of it is its own record. Records without a
    // unique id, and moves to a folder, cannot be told by a listing and stay
    // as they are. In one transaction; nullopt with *error when it failed.
    struct Settled {
        int confirmed = 0;
        int withdrawn = 0;
    };
    std::optional<Settled> settleByListing(const QString &profile, const QSet<QString> &uidsOnServer, QString *error);
    // Every record, newest first.
    std::optional<QList<DeletionRecord>> read(QString *error) const;

    // Copies every record of the history in the database attached to `db`
    // as `schema` into the main database's (made when missing), in their
    // order, in one statement. How many; 0 when that database has no
    // history; nullopt with *error when it could not be read.
    static std::optional<qint64> copyAttached(sqlite3 *db, const QByteArray &schema, QString *error);

private:
    bool ensureTable(QString *error) const;
    std::optional<Batch> insert(const QList<DeletionRecord> &records, bool pending, QString *error);

    RuleDatabase &m_database;
};
