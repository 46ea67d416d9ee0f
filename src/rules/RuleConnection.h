#pragma once

#include <QByteArray>
#include <QString>

struct sqlite3;

// One SQLCipher connection to a rule database file: keyed with the
// program's password and with the rule collation registered before any
// statement runs, so that every connection reads the schema alike.
class RuleConnection {
public:
    RuleConnection() = default;
    ~RuleConnection();
    RuleConnection(const RuleConnection &) = delete;
    RuleConnection &operator=(const RuleConnection &) = delete;

    // Opens an existing file (or an empty one, which becomes a new database)
    // and checks that the key reads it. On failure sets *error.
    bool open(const QString &path, QString *error);
    // Closes; false when the engine could not (a statement still open).
    bool close(QString *error = nullptr);
    // Gives up ownership of the handle.
    sqlite3 *release();
    sqlite3 *handle() const { return m_db; }

    bool exec(const QByteArray &sql, QString *error);
    // Creates whichever of the two rule tables and their indexes is missing,
    // and rebuilds the indexes once when an earlier collation ordered them.
    bool createSchema(QString *error);
    // Whether the file holds both rule tables; a file without them is no
    // rule database (an empty file included), whatever the engine makes of it.
    bool hasRuleTables(QString *error);
    // Whether every page of the file reads back sound (a file cut short or
    // with broken pages does not); on failure sets *error.
    bool quickCheck(QString *error);
    // The number of rows of a rule table, or -1 (with *error) when it
    // cannot be read to its end.
    qint64 countRows(const char *table, QString *error);
    QString lastError() const;

    static QByteArray password();

private:
    sqlite3 *m_db = nullptr;
    QString m_path;
};
