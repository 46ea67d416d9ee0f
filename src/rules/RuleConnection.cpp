#define SQLITE_HAS_CODEC 1
#include "RuleConnection.h"

#include "RuleCollation.h"

#include <QFile>
#include <sqlite3.h>

namespace {

constexpr char kPassword[] = "q7wm2c5x8r1t4n6p9z0k";

int collate(void *, int aLength, const void *a, int bLength, const void *b)
{
    return RuleCollation::compareUtf8(static_cast<const char *>(a), aLength, static_cast<const char *>(b), bLength);
}

} // namespace

RuleConnection::~RuleConnection()
{
    close();
}

QByteArray RuleConnection::password()
{
    return QByteArray(kPassword);
}

QString RuleConnection::lastError() const
{
    const QString text = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("out of memory");
    return QStringLiteral("%1 (%2)").arg(text, m_path);
}

bool RuleConnection::open(const QString &path, QString *error)
{
    close();
    m_path = path;
    if (error)
        error->clear();
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        if (error)
            *error = lastError();
        close();
        return false;
    }
    if (sqlite3_key(m_db, kPassword, int(sizeof kPassword - 1)) != SQLITE_OK
        || sqlite3_create_collation_v2(m_db, RuleCollation::kName, SQLITE_UTF8, nullptr, collate, nullptr) != SQLITE_OK
        // A wrong key or a file that is no database shows at the first read.
        || !exec("select count(*) from sqlite_master", error)) {
        if (error && error->isEmpty())
            *error = lastError();
        close();
        return false;
    }
    return true;
}

bool RuleConnection::close(QString *error)
{
    if (!m_db)
        return true;
    if (sqlite3_close(m_db) != SQLITE_OK) {
        if (error)
            *error = lastError();
        return false;
    }
    m_db = nullptr;
    return true;
}

sqlite3 *RuleConnection::release()
{
    sqlite3 *db = m_db;
    m_db = nullptr;
    return db;
}

bool RuleConnection::exec(const QByteArray &sql, QString *error)
{
    if (sqlite3_exec(m_db, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    if (error)
        *error = lastError();
    return false;
}

namespace {
// The collation's version, kept in the database's user_version: 1 is full
// case folding.
constexpr int kCollationVersion = 1;
} // namespace

bool RuleConnection::createSchema(QString *error)
{
    QByteArray sql;
    for (const char *table : {"tbfilter", "tbexempted"}) {
        sql += QByteArray("create table if not exists ") + table + " (email text collate " + RuleCollation::kName
            + ");";
        // The index takes the column's collation, so lookups by value use it.
        sql += QByteArray("create index if not exists ") + table + "_email on " + table + " (email);";
    }
    if (!exec(sql, error))
        return false;
    // An index ordered by the collation of an earlier version (simple case
    // folding) is rebuilt once, so that lookups find what the rules hold.
    sqlite3_stmt *query = nullptr;
    const QByteArray version = "pragma user_version";
    int stamped = -1;
    if (sqlite3_prepare_v2(m_db, version.constData(), int(version.size()), &query, nullptr) == SQLITE_OK
        && sqlite3_step(query) == SQLITE_ROW)
        stamped = sqlite3_column_int(query, 0);
    sqlite3_finalize(query);
    if (stamped < 0) {
        if (error)
            *error = lastError();
        return false;
    }
    if (stamped >= kCollationVersion)
        return true;
    return exec(QByteArray("reindex ") + RuleCollation::kName
                    + "; pragma user_version = " + QByteArray::number(kCollationVersion) + ";",
                error);
}

bool RuleConnection::hasRuleTables(QString *error)
{
    sqlite3_stmt *query = nullptr;
    const QByteArray sql =
        "select count(*) from sqlite_master where type = 'table' and name in ('tbfilter', 'tbexempted')";
    bool ok = sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()), &query, nullptr) == SQLITE_OK
        && sqlite3_step(query) == SQLITE_ROW;
    const bool both = ok && sqlite3_column_int(query, 0) == 2;
    if (!ok && error)
        *error = lastError();
    else if (!both && error)
        *error = QStringLiteral("it does not hold the two rule tables (%1)").arg(m_path);
    sqlite3_finalize(query);
    return both;
}

qint64 RuleConnection::countRows(const char *table, QString *error)
{
    sqlite3_stmt *query = nullptr;
    const QByteArray sql = QByteArray("select count(*) from ") + table;
    qint64 rows = -1;
    if (sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()), &query, nullptr) == SQLITE_OK
        && sqlite3_step(query) == SQLITE_ROW)
        rows = sqlite3_column_int64(query, 0);
    else if (error)
        *error = lastError();
    sqlite3_finalize(query);
    return rows;
}

bool RuleConnection::quickCheck(QString *error)
{
    sqlite3_stmt *query = nullptr;
    const QByteArray sql = "pragma quick_check(1)";
    QString verdict;
    if (sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()), &query, nullptr) == SQLITE_OK
        && sqlite3_step(query) == SQLITE_ROW)
        verdict = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(query, 0)));
    const bool ok = verdict == QLatin1String("ok");
    if (!ok && error)
        *error = verdict.isEmpty() ? lastError() : QStringLiteral("%1 (%2)").arg(verdict, m_path);
    sqlite3_finalize(query);
    return ok;
}
