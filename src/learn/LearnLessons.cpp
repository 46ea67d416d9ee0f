// The lessons of a LearnStore: which message taught what, so that a message
// teaches once and can be taken back.
#include "LearnStore.h"

#include "LearnStatement.h"
#include "RuleDatabase.h"

#include <algorithm>
#include <sqlite3.h>

namespace {

bool fail(sqlite3 *db, QString *error)
{
    if (error)
        *error = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("The rule database is not open.");
    return false;
}

// Runs one statement with the profile as ?1 and the digest, if any, as ?2.
bool run(sqlite3 *db, const char *sql, const QString &profile, const QByteArray *digest, QString *error,
         const std::function<void(sqlite3_stmt *)> &bindMore = {})
{
    sqlite3_stmt *statement = nullptr;
    if (!db || sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK)
        return fail(db, error);
    const QByteArray name = profile.toUtf8();
    sqlite3_bind_text(statement, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
    if (digest)
        sqlite3_bind_blob(statement, 2, digest->constData(), int(digest->size()), SQLITE_TRANSIENT);
    if (bindMore)
        bindMore(statement);
    const bool ok = sqlite3_step(statement) == SQLITE_DONE;
    sqlite3_finalize(statement);
    return ok || fail(db, error);
}

} // namespace

std::optional<LearnStore::Lesson> LearnStore::lesson(const QByteArray &digest, QString *error) const
{
    if (!ensureTables(error))
        return std::nullopt;
    sqlite3 *db = m_database.connection();
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, "select spam, step from tblesson where profile = ?1 and digest = ?2", -1, &statement,
                           nullptr)
        != SQLITE_OK) {
        fail(db, error);
        return std::nullopt;
    }
    const QByteArray name = m_profile.toUtf8();
    sqlite3_bind_text(statement, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(statement, 2, digest.constData(), int(digest.size()), SQLITE_TRANSIENT);
    std::optional<Lesson> found;
    const int rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW)
        found = Lesson{sqlite3_column_int(statement, 0) != 0, sqlite3_column_int(statement, 1)};
    else if (rc != SQLITE_DONE)
        fail(db, error); // not "no lesson": the caller would teach the message twice
    sqlite3_finalize(statement);
    return found;
}

bool LearnStore::setLesson(const QByteArray &digest, const Lesson &lesson, qint32 day, QString *error)
{
    if (!ensureTables(error))
        return false;
    sqlite3 *db = m_database.connection();
    return run(db, "insert or replace into tblesson (profile, digest, spam, day, step) values (?1, ?2, ?3, ?4, ?5)",
               m_profile, &digest, error, [&](sqlite3_stmt *s) {
                   sqlite3_bind_int(s, 3, lesson.spam ? 1 : 0);
                   sqlite3_bind_int(s, 4, day);
                   sqlite3_bind_int(s, 5, lesson.step);
               });
}

bool LearnStore::trimLessons(const QSet<QByteArray> &taught, QString *error)
{
    if (!ensureTables(error))
        return false;
    sqlite3 *db = m_database.connection();
    const QByteArray name = m_profile.toUtf8();
    LearnStatement count;
    if (!count.prepare(db, "select count(*) from tblesson where profile = ?1"))
        return fail(db, error);
    count.bindText(1, name);
    if (sqlite3_step(count.handle) != SQLITE_ROW)
        return fail(db, error);
    const qint64 excess = sqlite3_column_int64(count.handle, 0) - m_maxLessons;
    if (excess <= 0)
        return true;
    // The oldest go, the ones just taught last: a teaching never forgets its
    // own lessons unless it alone holds more than the bound.
    LearnStatement oldest;
    if (!oldest.prepare(db, "select digest from tblesson where profile = ?1 order by day limit ?2"))
        return fail(db, error);
    oldest.bindText(1, name);
    sqlite3_bind_int64(oldest.handle, 2, excess + taught.size());
    QList<QByteArray> older;
    QList<QByteArray> fresh;
    int rc;
    while ((rc = sqlite3_step(oldest.handle)) == SQLITE_ROW) {
        const QByteArray digest(static_cast<const char *>(sqlite3_column_blob(oldest.handle, 0)),
                                sqlite3_column_bytes(oldest.handle, 0));
        (taught.contains(digest) ? fresh : older).append(digest);
    }
    if (rc != SQLITE_DONE)
        return fail(db, error);
    older += fresh;
    LearnStatement drop;
    if (!drop.prepare(db, "delete from tblesson where profile = ?1 and digest = ?2"))
        return fail(db, error);
    drop.bindText(1, name);
    for (qsizetype i = 0; i < std::min<qsizetype>(excess, older.size()); ++i) {
        sqlite3_bind_blob(drop.handle, 2, older.at(i).constData(), int(older.at(i).size()), SQLITE_TRANSIENT);
        if (!drop.done())
            return fail(db, error);
    }
    return true;
}

bool LearnStore::removeLesson(const QByteArray &digest, QString *error)
{
    return ensureTables(error)
        && run(m_database.connection(), "delete from tblesson where profile = ?1 and digest = ?2", m_profile, &digest,
               error);
}

bool LearnStore::reset(QString *error)
{
    if (!ensureTables(error))
        return false;
    sqlite3 *db = m_database.connection();
    // All three or none: counts without their lessons would teach a message twice.
    return inTransaction(
        [&] {
            return run(db, "delete from tblearn where profile = ?1", m_profile, nullptr, error)
                && run(db, "delete from tblearntotal where profile = ?1", m_profile, nullptr, error)
                && run(db, "delete from tblesson where profile = ?1", m_profile, nullptr, error);
        },
        error);
}

bool LearnStore::resetAll(RuleDatabase &database, QString *error)
{
    LearnStore store(database, QString());
    sqlite3 *db = database.connection();
    return store.ensureTables(error)
        && store.inTransaction(
            [&] {
                return sqlite3_exec(db, "delete from tblearn; delete from tblearntotal; delete from tblesson", nullptr,
                                    nullptr, nullptr)
                    == SQLITE_OK
                    || fail(db, error);
            },
            error);
}
