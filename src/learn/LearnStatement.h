#pragma once

#include <QByteArray>
#include <sqlite3.h>

// One statement of the learned counts' tables, finalized however its use ends.
struct LearnStatement {
    sqlite3_stmt *handle = nullptr;
    LearnStatement() = default;
    LearnStatement(const LearnStatement &) = delete;
    LearnStatement &operator=(const LearnStatement &) = delete;
    ~LearnStatement() { sqlite3_finalize(handle); }
    bool prepare(sqlite3 *db, const char *sql)
    {
        return sqlite3_prepare_v2(db, sql, -1, &handle, nullptr) == SQLITE_OK;
    }
    void bindText(int index, const QByteArray &utf8)
    {
        sqlite3_bind_text(handle, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    // Steps a statement that gives no rows, ready to be bound and run again.
    bool done()
    {
        const bool ok = sqlite3_step(handle) == SQLITE_DONE;
        sqlite3_reset(handle);
        return ok;
    }
};
