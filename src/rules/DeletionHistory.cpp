#include "DeletionHistory.h"

#include "RuleDatabase.h"

#include <QStringList>

#include <utility>

#include <sqlite3.h>

namespace {

// The table is made on first use, so a database from before the history
// keeps working; the start-up compaction copies it with the rules. A table
// from before pending records, byte sizes or actions gets those columns (0,
// NULL and NULL, a deletion, for what it holds).
constexpr char kCreate[] = "create table if not exists tbdeleted (id integer primary key, deleted_at text not null, "
                           "profile text, sender text, subject text, date text, size text, uid text, rule text, "
                           "pending integer not null default 0, bytes integer, action text)";
struct AddedColumn {
    const char16_t *name;
    const char *sql;
};
constexpr AddedColumn kAddedColumns[] = {
    {u"pending", "alter table tbdeleted add column pending integer not null default 0"},
    {u"bytes", "alter table tbdeleted add column bytes integer"},
    {u"action", "alter table tbdeleted add column action text"},
};

QString errorOf(sqlite3 *db)
{
    return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("The rule database is not open.");
}

// Finalizes a statement however the use ends.
struct Statement {
    sqlite3_stmt *handle = nullptr;
    ~Statement() { sqlite3_finalize(handle); }
    bool prepare(sqlite3 *db, const char *sql)
    {
        return sqlite3_prepare_v2(db, sql, -1, &handle, nullptr) == SQLITE_OK;
    }
};

QString columnText(sqlite3_stmt *statement, int column)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(statement, column)) : QString();
}

} // namespace

DeletionRecord DeletionRecord::from(const QString &profile, const MessageEntry &entry, const QDateTime &time)
{
    DeletionRecord record{time.toUTC(),         profile,   entry.sender,           entry.subject, entry.date,
                          entry.size.trimmed(), entry.uid, entry.sortReason.text()};
    record.bytes = entry.bytes;
    return record;
}

DeletionHistory::DeletionHistory(RuleDatabase &database)
    : m_database(database)
{
}

namespace {

// Makes the main database's table, or gives an older one its new columns.
bool ensureTableOn(sqlite3 *db, QString *error)
{
    if (db && sqlite3_exec(db, kCreate, nullptr, nullptr, nullptr) == SQLITE_OK) {
        QStringList present;
        Statement columns;
        if (columns.prepare(db, "pragma table_info(tbdeleted)")) {
            while (sqlite3_step(columns.handle) == SQLITE_ROW)
                present << columnText(columns.handle, 1).toLower();
            bool complete = true;
            for (const AddedColumn &column : kAddedColumns) {
                if (complete && !present.contains(QStringView(column.name)))
                    complete = sqlite3_exec(db, column.sql, nullptr, nullptr, nullptr) == SQLITE_OK;
            }
            if (complete)
                return true;
        }
    }
    if (error)
        *error = errorOf(db);
    return false;
}

} // namespace

bool DeletionHistory::ensureTable(QString *error) const
{
    return ensureTableOn(m_database.connection(), error);
}

std::optional<qint64> DeletionHistory::copyAttached(sqlite3 *db, const QByteArray &schema, QString *error)
{
    if (!ensureTableOn(db, error))
        return std::nullopt;
    auto fail = [&]() -> std::optional<qint64> {
        if (error)
            *error = errorOf(db);
        return std::nullopt;
    };
    // The columns both tables have: an older history lacks the newer ones.
    static const QList<QByteArray> known = {"id",   "deleted_at", "profile", "sender",  "subject", "date",
                                            "size", "uid",        "rule",    "pending", "bytes",   "action"};
    QList<QByteArray> shared;
    {
        Statement columns;
        if (!columns.prepare(db, QByteArray("pragma " + schema + ".table_info(tbdeleted)").constData()))
            return fail();
        int rc;
        while ((rc = sqlite3_step(columns.handle)) == SQLITE_ROW) {
            const QByteArray name = columnText(columns.handle, 1).toLower().toUtf8();
            if (known.contains(name))
                shared.append(name);
        }
        if (rc != SQLITE_DONE)
            return fail();
    }
    if (shared.isEmpty())
        return 0; // no history there
    const QByteArray list = shared.join(", ");
    const QByteArray copy = "insert into main.tbdeleted (" + list + ") select " + list + " from " + schema
        + ".tbdeleted order by id";
    if (sqlite3_exec(db, copy.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail();
    return sqlite3_changes(db);
}

bool DeletionHistory::record(const QList<DeletionRecord> &records, QString *error)
{
    return records.isEmpty() || insert(records, false, error).has_value();
}

std::optional<DeletionHistory::Batch> DeletionHistory::recordPending(const QList<DeletionRecord> &records,
                                                                     QString *error)
{
    if (records.isEmpty())
        return Batch{};
    return insert(records, true, error);
}

bool DeletionHistory::settle(const Batch &batch, bool carriedOut, QString *error)
{
    if (batch.last < batch.first)
        return true;
    if (!ensureTable(error))
        return false;
    sqlite3 *db = m_database.connection();
    Statement change;
    if (!change.prepare(db,
                        carriedOut ? "update tbdeleted set pending = 0 where id between ?1 and ?2"
                                   : "delete from tbdeleted where pending <> 0 and id between ?1 and ?2")
        || sqlite3_bind_int64(change.handle, 1, batch.first) != SQLITE_OK
        || sqlite3_bind_int64(change.handle, 2, batch.last) != SQLITE_OK
        || sqlite3_step(change.handle) != SQLITE_DONE) {
        if (error)
            *error = errorOf(db);
        return false;
    }
    return true;
}

bool DeletionHistory::settleEach(const Batch &batch, const QList<std::optional<bool>> &carriedOut, QString *error)
{
    if (batch.last < batch.first)
        return true;
    if (!ensureTable(error))
        return false;
    sqlite3 *db = m_database.connection();
    auto fail = [&] {
        if (error)
            *error = errorOf(db);
        sqlite3_exec(db, "rollback", nullptr, nullptr, nullptr);
        return false;
    };
    if (sqlite3_exec(db, "begin", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail();
    {
        Statement confirm;
        Statement withdraw;
        if (!confirm.prepare(db, "update tbdeleted set pending = 0 where id = ?1")
            || !withdraw.prepare(db, "delete from tbdeleted where pending <> 0 and id = ?1"))
            return fail();
        // One transaction wrote the batch: its records have consecutive ids.
        for (qsizetype i = 0; i < carriedOut.size() && batch.first + i <= batch.last; ++i) {
            if (!carriedOut.at(i))
                continue;
            Statement &change = *carriedOut.at(i) ? confirm : withdraw;
            if (sqlite3_bind_int64(change.handle, 1, batch.first + i) != SQLITE_OK
                || sqlite3_step(change.handle) != SQLITE_DONE)
                return fail();
            sqlite3_reset(change.handle);
        }
    }
    if (sqlite3_exec(db, "commit", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail();
    return true;
}

std::optional<DeletionHistory::Settled>
DeletionHistory::settleByListing(const QString &profile, const QSet<QString> &uidsOnServer, QString *error)
{
    if (!ensureTable(error))
        return std::nullopt;
    sqlite3 *db = m_database.connection();
    auto fail = [&]() -> std::optional<Settled> {
        if (error)
            *error = errorOf(db);
        sqlite3_exec(db, "rollback", nullptr, nullptr, nullptr);
        return std::nullopt;
    };
    if (sqlite3_exec(db, "begin", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail();
    QList<qint64> gone, there;
    {
        Statement pending;
        const QByteArray name = profile.toUtf8();
        if (!pending.prepare(db,
                             "select id, uid from tbdeleted where pending <> 0 and profile = ?1 and "
                             "coalesce(uid, '') <> '' and coalesce(action, '') = ''")
            || sqlite3_bind_text(pending.handle, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT) != SQLITE_OK)
            return fail();
        int rc;
        while ((rc = sqlite3_step(pending.handle)) == SQLITE_ROW)
            (uidsOnServer.contains(columnText(pending.handle, 1)) ? there : gone)
                .append(sqlite3_column_int64(pending.handle, 0));
        if (rc != SQLITE_DONE)
            return fail();
    }
    Statement confirm, withdraw;
    if (!confirm.prepare(db, "update tbdeleted set pending = 0 where id = ?1")
        || !withdraw.prepare(db, "delete from tbdeleted where id = ?1"))
        return fail();
    for (const auto &[ids, statement] : {std::pair{&gone, &confirm}, std::pair{&there, &withdraw}}) {
        for (const qint64 id : *ids) {
            if (sqlite3_bind_int64(statement->handle, 1, id) != SQLITE_OK
                || sqlite3_step(statement->handle) != SQLITE_DONE || sqlite3_reset(statement->handle) != SQLITE_OK)
                return fail();
        }
    }
    if (sqlite3_exec(db, "commit", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail();
    return Settled{int(gone.size()), int(there.size())};
}

std::optional<DeletionHistory::Batch> DeletionHistory::insert(const QList<DeletionRecord> &records, bool pending,
                                                              QString *error)
{
    if (!ensureTable(error))
        return std::nullopt;
    sqlite3 *db = m_database.connection();
    auto fail = [&]() -> std::optional<Batch> {
        if (error)
            *error = errorOf(db);
        sqlite3_exec(db, "rollback", nullptr, nullptr, nullptr);
        return std::nullopt;
    };
    if (sqlite3_exec(db, "begin", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail();
    Batch batch;
    {
        Statement insert;
        if (!insert.prepare(db,
                            "insert into tbdeleted (deleted_at, profile, sender, subject, date, size, uid, rule, "
                            "pending, bytes, action) values (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)"))
            return fail();
        for (const DeletionRecord &r : records) {
            const QByteArray values[] = {r.time.toUTC().toString(Qt::ISODate).toUtf8(),
                                         r.profile.toUtf8(),
                                         r.sender.toUtf8(),
                                         r.subject.toUtf8(),
                                         r.date.toUtf8(),
                                         r.size.toUtf8(),
                                         r.uid.toUtf8(),
                                         r.rule.toUtf8()};
            for (int i = 0; i < 8; ++i)
                sqlite3_bind_text(insert.handle, i + 1, values[i].constData(), int(values[i].size()), SQLITE_TRANSIENT);
            sqlite3_bind_int(insert.handle, 9, pending ? 1 : 0);
            if (r.bytes >= 0)
                sqlite3_bind_int64(insert.handle, 10, r.bytes);
            else
                sqlite3_bind_null(insert.handle, 10);
            const QByteArray action = r.action.toUtf8();
            if (r.action.isEmpty())
                sqlite3_bind_null(insert.handle, 11);
            else
                sqlite3_bind_text(insert.handle, 11, action.constData(), int(action.size()), SQLITE_TRANSIENT);
            if (sqlite3_step(insert.handle) != SQLITE_DONE)
                return fail();
            sqlite3_reset(insert.handle);
            batch.last = sqlite3_last_insert_rowid(db);
            if (batch.first == 0)
                batch.first = batch.last;
        }
        // The newest moves a learned verdict made stay past the limit: they
        // are how a lesson from the server's Junk folder knows the learning
        // put a message there itself, and must not teach it.
        Statement prune;
        if (!prune.prepare(db,
                           "delete from tbdeleted where id <= "
                           "(select id from tbdeleted order by id desc limit 1 offset ?1) "
                           "and id not in (select id from tbdeleted where action is not null "
                           "and rule like 'Learned:%' order by id desc limit ?2)")
            || sqlite3_bind_int(prune.handle, 1, kLimit) != SQLITE_OK
            || sqlite3_bind_int(prune.handle, 2, kLearnedMovesKept) != SQLITE_OK
            || sqlite3_step(prune.handle) != SQLITE_DONE)
            return fail();
    }
    if (sqlite3_exec(db, "commit", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail();
    return batch;
}

std::optional<QList<DeletionRecord>> DeletionHistory::read(QString *error) const
{
    if (!ensureTable(error))
        return std::nullopt;
    sqlite3 *db = m_database.connection();
    Statement select;
    if (!select.prepare(db,
                        "select deleted_at, profile, sender, subject, date, size, uid, rule, pending, bytes, action "
                        "from tbdeleted order by id desc")) {
        if (error)
            *error = errorOf(db);
        return std::nullopt;
    }
    QList<DeletionRecord> records;
    int rc;
    while ((rc = sqlite3_step(select.handle)) == SQLITE_ROW) {
        DeletionRecord r;
        r.time = QDateTime::fromString(columnText(select.handle, 0), Qt::ISODate);
        r.profile = columnText(select.handle, 1);
        r.sender = columnText(select.handle, 2);
        r.subject = columnText(select.handle, 3);
        r.date = columnText(select.handle, 4);
        r.size = columnText(select.handle, 5);
        r.uid = columnText(select.handle, 6);
        r.rule = columnText(select.handle, 7);
        r.unconfirmed = sqlite3_column_int(select.handle, 8) != 0;
        if (sqlite3_column_type(select.handle, 9) == SQLITE_INTEGER)
            r.bytes = sqlite3_column_int64(select.handle, 9);
        r.action = columnText(select.handle, 10);
        records.append(r);
    }
    if (rc != SQLITE_DONE) {
        if (error)
            *error = errorOf(db);
        return std::nullopt;
    }
    return records;
}
