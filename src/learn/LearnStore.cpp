#include "LearnStore.h"

#include "LearnStatement.h"
#include "RuleDatabase.h"

#include <algorithm>
#include <functional>
#include <sqlite3.h>

namespace {

constexpr const char *kCreate[] = {
    "create table if not exists tblearn (profile text not null, token integer not null, spam integer not null, "
    "ham integer not null, day integer not null, weight integer not null default 0, "
    "primary key (profile, token)) without rowid",
    "create table if not exists tblearntotal (profile text primary key, spam integer not null, "
    "ham integer not null)",
    "create table if not exists tblesson (profile text not null, digest blob not null, spam integer not null, "
    "day integer not null, step integer not null default 0, primary key (profile, digest)) without rowid",
    // The oldest lesson records, found without reading them all.
    "create index if not exists tblesson_day on tblesson (profile, day)",
};

// Columns later versions added, each with the statement that adds it to a
// file made before: there its tokens have no weight yet, and its lessons
// gave the weights no step to take back.
struct AddedColumn {
    const char *probe;
    const char *add;
};
constexpr AddedColumn kAdded[] = {
    {"select weight from tblearn limit 0", "alter table tblearn add column weight integer not null default 0"},
    {"select step from tblesson limit 0", "alter table tblesson add column step integer not null default 0"},
};


bool failWith(sqlite3 *db, QString *error)
{
    if (error)
        *error = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("The rule database is not open.");
    return false;
}

} // namespace

bool LearnStore::inTransaction(const std::function<bool()> &work, QString *error)
{
    // A savepoint, so that a caller's own transaction may hold this one.
    sqlite3 *db = m_database.connection();
    if (!db || sqlite3_exec(db, "savepoint learn", nullptr, nullptr, nullptr) != SQLITE_OK)
        return failWith(db, error);
    if (!work() || sqlite3_exec(db, "release learn", nullptr, nullptr, nullptr) != SQLITE_OK) {
        if (error && error->isEmpty())
            failWith(db, error);
        sqlite3_exec(db, "rollback to learn", nullptr, nullptr, nullptr);
        sqlite3_exec(db, "release learn", nullptr, nullptr, nullptr);
        return false;
    }
    return true;
}

LearnStore::LearnStore(RuleDatabase &database, const QString &profile)
    : m_database(database)
    , m_profile(profile)
{
}

void LearnStore::setBounds(qsizetype maxTokens, qsizetype pruneTo, qsizetype maxLessons)
{
    m_maxTokens = maxTokens;
    m_pruneTo = pruneTo;
    m_maxLessons = maxLessons;
}

bool LearnStore::ensureTables(QString *error) const
{
    sqlite3 *db = m_database.connection();
    for (const char *sql : kCreate) {
        if (!db || sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            return failWith(db, error);
    }
    for (const AddedColumn &column : kAdded) {
        LearnStatement probe;
        if (!probe.prepare(db, column.probe) && sqlite3_exec(db, column.add, nullptr, nullptr, nullptr) != SQLITE_OK)
            return failWith(db, error);
    }
    return true;
}

std::optional<LearnModel> LearnStore::load(QString *error) const
{
    if (!ensureTables(error))
        return std::nullopt;
    sqlite3 *db = m_database.connection();
    const QByteArray profile = m_profile.toUtf8();
    LearnModel model;
    LearnStatement totals;
    if (!totals.prepare(db, "select spam, ham from tblearntotal where profile = ?1"))
        return failWith(db, error), std::nullopt;
    totals.bindText(1, profile);
    const int read = sqlite3_step(totals.handle);
    if (read == SQLITE_ROW)
        model.setTotals(quint32(sqlite3_column_int64(totals.handle, 0)),
                        quint32(sqlite3_column_int64(totals.handle, 1)));
    else if (read != SQLITE_DONE) // totals of 0 would be saved over the stored ones
        return failWith(db, error), std::nullopt;
    LearnStatement rows;
    if (!rows.prepare(db, "select token, spam, ham, day, weight from tblearn where profile = ?1"))
        return failWith(db, error), std::nullopt;
    rows.bindText(1, profile);
    int rc;
    while ((rc = sqlite3_step(rows.handle)) == SQLITE_ROW) {
        model.insert(quint64(sqlite3_column_int64(rows.handle, 0)),
                     {quint32(sqlite3_column_int64(rows.handle, 1)), quint32(sqlite3_column_int64(rows.handle, 2)),
                      sqlite3_column_int(rows.handle, 3), sqlite3_column_int(rows.handle, 4)});
    }
    if (rc != SQLITE_DONE)
        return failWith(db, error), std::nullopt;
    return model;
}

bool LearnStore::writeChanged(LearnModel &model, QString *error)
{
    sqlite3 *db = m_database.connection();
    const QByteArray profile = m_profile.toUtf8();
    LearnStatement put;
    LearnStatement drop;
    LearnStatement totals;
    if (!put.prepare(
            db,
            "insert or replace into tblearn (profile, token, spam, ham, day, weight) values (?1, ?2, ?3, ?4, ?5, ?6)")
        || !drop.prepare(db, "delete from tblearn where profile = ?1 and token = ?2")
        || !totals.prepare(db, "insert or replace into tblearntotal (profile, spam, ham) values (?1, ?2, ?3)"))
        return failWith(db, error);
    put.bindText(1, profile);
    drop.bindText(1, profile);
    for (const quint64 token : model.changed()) {
        const auto it = model.tokens().constFind(token);
        if (it == model.tokens().cend()) {
            sqlite3_bind_int64(drop.handle, 2, qint64(token));
            if (!drop.done())
                return failWith(db, error);
            continue;
        }
        sqlite3_bind_int64(put.handle, 2, qint64(token));
        sqlite3_bind_int64(put.handle, 3, it->spam);
        sqlite3_bind_int64(put.handle, 4, it->ham);
        sqlite3_bind_int(put.handle, 5, it->day);
        sqlite3_bind_int(put.handle, 6, it->weight);
        if (!put.done())
            return failWith(db, error);
    }
    totals.bindText(1, profile);
    sqlite3_bind_int64(totals.handle, 2, model.spamMessages());
    sqlite3_bind_int64(totals.handle, 3, model.hamMessages());
    return totals.done() || failWith(db, error);
}

// The rarest tokens go first, of those the ones not seen for longest.
bool LearnStore::prune(LearnModel &model, QString *error)
{
    if (model.tokenCount() <= m_maxTokens)
        return true;
    struct Victim {
        quint64 seen;
        qint32 day;
        quint64 token;
    };
    QList<Victim> all;
    all.reserve(model.tokenCount());
    for (auto it = model.tokens().cbegin(); it != model.tokens().cend(); ++it)
        all.append({quint64(it->spam) + it->ham, it->day, it.key()});
    const qsizetype excess = all.size() - m_pruneTo;
    std::nth_element(all.begin(), all.begin() + excess, all.end(), [](const Victim &a, const Victim &b) {
        return a.seen != b.seen ? a.seen < b.seen : a.day < b.day;
    });
    for (qsizetype i = 0; i < excess; ++i)
        model.remove(all[i].token);
    sqlite3 *db = m_database.connection();
    LearnStatement drop;
    if (!drop.prepare(db, "delete from tblearn where profile = ?1 and token = ?2"))
        return failWith(db, error);
    drop.bindText(1, m_profile.toUtf8());
    for (qsizetype i = 0; i < excess; ++i) {
        sqlite3_bind_int64(drop.handle, 2, qint64(all[i].token));
        if (!drop.done())
            return failWith(db, error);
    }
    return true;
}

bool LearnStore::save(LearnModel &model, QString *error)
{
    if (!ensureTables(error))
        return false;
    const bool saved = inTransaction([&] { return writeChanged(model, error) && prune(model, error); }, error);
    if (saved)
        model.clearChanged();
    return saved;
}
