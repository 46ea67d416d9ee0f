#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>
#include <stdexcept>

struct sqlite3;
struct sqlite3_stmt;

// The rule database: two tables, "tbfilter" and "tbexempted", of one text
// column "email" compared without regard to case. One instance is opened at
// start-up and stays open for the whole run.
class RuleDatabase {
public:
    static constexpr const char *kFileName = "trelvik.mdb";
    static constexpr const char *kBackupName = "backup.mdb";

    // What a database file holds. A file that exists but cannot be read to
    // its end, or lacks either rule table (an empty file too), is damaged:
    // it is never taken for a new database nor allowed to replace a backup.
    struct FileHealth {
        enum class State { Missing, Sound, Damaged };
        State state = State::Missing;
        QString reason; // why it is damaged
        qint64 filterRules = 0;
        qint64 exemptedRules = 0;
        QDateTime modified;
    };
    static FileHealth inspect(const QString &path);

    // The per-user data folder that holds the database files.
    static QString defaultFolder();

    explicit RuleDatabase(const QString &folder = defaultFolder());
    ~RuleDatabase();
    RuleDatabase(const RuleDatabase &) = delete;
    RuleDatabase &operator=(const RuleDatabase &) = delete;

    QString folder() const { return m_folder; }
    QString databasePath() const;
    QString backupPath() const;

    // Compacts the file into place, keeping the previous state as the backup.
    // On failure shows the "Error" box and returns false; the rules are never lost.
    bool CompactRuleDatabase();
    // The same on a database that is not open, on any thread: on failure
    // returns false with *error for the user, and shows nothing.
    bool compactClosed(QString *error);
    // Opens (creating a first, empty database when there is none, but never
    // while backup.mdb alone holds the rules). The file stays locked for this
    // run. On failure returns false and sets *error to a description for the
    // user. With `health`, an existing file is first inspected as inspect()
    // would, on the connection that then stays open; a damaged one is left
    // as it is (*error gets the reason).
    bool OpenRuleDatabase(QString *error = nullptr, FileHealth *health = nullptr);
    void CloseRuleDatabase();
    bool isOpen() const { return m_db != nullptr; }
    // The open connection, for the tables kept beside the rules (the
    // deletion history); null while closed.
    sqlite3 *connection() const { return m_db; }

    // Puts a copy of backup.mdb in the place of a damaged trelvik.mdb, which
    // is kept beside it as trelvik.mdb.damaged-<stamp> (its path goes to
    // *keptAs). Only while the database is closed. On failure every file is
    // as it was, or the error says where the damaged file is kept.
    bool restoreFromBackup(QString *keptAs, QString *error);

    // The rules the tables of a (damaged) file still give. `complete` when
    // both tables were read to their end; otherwise the rows read before the
    // first failure, and `reason`.
    struct Salvage {
        QStringList filter;
        QStringList exempted;
        bool complete = false;
        QString reason;
    };
    static Salvage salvageRules(const QString &path);
    // Puts a new database holding `rules` (read in full) in the place of a
    // damaged trelvik.mdb, which is kept beside it as restoreFromBackup()
    // keeps it. Its deletion history is the one backup.mdb holds, if any
    // (*historyKept records): the compaction that follows replaces the
    // backup. Only while the database is closed. On failure every file is
    // as it was, or the error says where the damaged file is kept.
    bool rebuildFromRules(const Salvage &rules, QString *keptAs, QString *error, qint64 *historyKept = nullptr);

    // The engine's description of the last failed statement.
    QString lastError() const;

    // Whether `table` holds `value` (case ignored). An empty value is never
    // found. Throws RuleDatabaseError when the lookup itself fails.
    bool IsInList(const QString &value, const QString &table) const;
    // The stored spelling of `value` in `table` (case ignored), or a null
    // QString when it is not there. Throws RuleDatabaseError as IsInList.
    QString StoredRule(const QString &value, const QString &table) const;

    // The statements of the rule lists. They answer false on any failure.
    bool InsertRule(const QString &table, const QString &value); // empty value stores NULL
    // Deletes every case variant of the value; an empty value deletes the
    // rows that hold no value (NULL or empty).
    bool DeleteRule(const QString &table, const QString &value);
    // Many inserts in one transaction: all of them or none.
    bool InsertRules(const QString &table, const QStringList &values);
    // Rules for both tables in one transaction: all of them or none.
    bool InsertRuleSets(const QStringList &filterValues, const QStringList &exemptedValues);
    // Every stored value in the engine's order; a NULL value reads as a null
    // QString. std::nullopt when the query failed.
    std::optional<QStringList> FillRules(const QString &table) const;
    // The UTF-8 bytes of every value a lookup can find (text, not NULL), in
    // the order of the rows: among values that are the same rule, a lookup
    // finds the earliest. std::nullopt when the query failed.
    std::optional<QList<QByteArray>> FillRuleBytes(const QString &table) const;
    // The stored values holding "*", "?" or ":", the only ones that can be
    // read as more than an exact value (patterns, header rules).
    std::optional<QStringList> FillPatternCandidates(const QString &table) const;

    // The two tables the program knows; any other name is refused.
    static bool isRuleTable(const QString &table);

private:
    // A prepared statement kept for the whole run; null when the engine
    // refused it.
    sqlite3_stmt *statement(const QByteArray &sql) const;
    void ensureFolder() const;
    bool createDatabase(QString *error) const;
    std::optional<QStringList> fillFrom(const QByteArray &sql) const;
    bool insertAll(const QString &table, const QStringList &values);

    QString m_folder;
    sqlite3 *m_db = nullptr;
    mutable QHash<QByteArray, sqlite3_stmt *> m_statements;
};

class RuleDatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
