#pragma once

// Rule databases with one damaged table, for the tests of what survives
// such damage. Header only: a test that includes it links trelvik_rules
// and SQLCipher.
#include "DeletionHistory.h"
#include "RuleDatabase.h"

#include <QFile>
#include <QStringList>
#include <sqlite3.h>

namespace testsupport {

// Makes `folder`'s trelvik.mdb with these rules and a deletion history of
// one record, and closes it.
inline bool makeRuleDatabase(const QString &folder, const QStringList &filter, const QStringList &exempted)
{
    RuleDatabase db(folder);
    QString error;
    DeletionRecord record;
    record.time = QDateTime::currentDateTimeUtc();
    record.profile = QStringLiteral("Home");
    record.sender = QStringLiteral("old@spam.example");
    record.rule = QStringLiteral("Moved by hand");
    return db.OpenRuleDatabase(&error) && db.InsertRuleSets(filter, exempted)
        && DeletionHistory(db).record({record}, &error);
}

// Overwrites the middle of the first page of `table` (a table or index of
// the closed database in `folder`), so that reading that page fails while
// every other page still reads.
inline bool damageTable(const QString &folder, const char *table)
{
    qint64 page = 0;
    qint64 pageSize = 0;
    {
        RuleDatabase db(folder);
        if (!db.OpenRuleDatabase())
            return false;
        const auto number = [&db](const QByteArray &sql) {
            sqlite3_stmt *query = nullptr;
            qint64 value = 0;
            if (sqlite3_prepare_v2(db.connection(), sql.constData(), -1, &query, nullptr) == SQLITE_OK
                && sqlite3_step(query) == SQLITE_ROW)
                value = sqlite3_column_int64(query, 0);
            sqlite3_finalize(query);
            return value;
        };
        page = number(QByteArray("select rootpage from sqlite_master where name = '") + table + "'");
        pageSize = number("pragma page_size");
    }
    QFile file(folder + QStringLiteral("/trelvik.mdb"));
    if (page < 2 || pageSize < 512 || !file.open(QIODevice::ReadWrite)
        || !file.seek((page - 1) * pageSize + pageSize / 2))
        return false;
    return file.write(QByteArray(64, '\x5a')) == 64;
}

} // namespace testsupport
