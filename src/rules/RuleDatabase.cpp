#include "RuleDatabase.h"

#include "DurableFile.h"
#include "RuleConnection.h"
#include "UserPlaces.h"
#include "StringHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sqlite3.h>

namespace {

// The canonical name of a known table, or null: a table name reaches SQL
// only from this list, never from the caller's text.
const char *knownTable(const QString &table)
{
    if (table == QLatin1String("tbfilter"))
        return "tbfilter";
    if (table == QLatin1String("tbexempted"))
        return "tbexempted";
    return nullptr;
}

// Puts a cached statement back to its initial state when a use ends.
class StatementUse {
public:
    explicit StatementUse(sqlite3_stmt *statement)
        : m_statement(statement)
    {
    }
    ~StatementUse()
    {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }
    StatementUse(const StatementUse &) = delete;
    StatementUse &operator=(const StatementUse &) = delete;

private:
    sqlite3_stmt *m_statement;
};

// An empty value is bound as NULL: it is found by no lookup and stored as NULL.
bool bindValue(sqlite3_stmt *statement, const QByteArray &utf8, bool empty)
{
    if (empty)
        return sqlite3_bind_null(statement, 1) == SQLITE_OK;
    return sqlite3_bind_text(statement, 1, utf8.constData(), int(utf8.size()), SQLITE_STATIC) == SQLITE_OK;
}

} // namespace

QString RuleDatabase::defaultFolder()
{
    return UserPlaces::dataHome() + QStringLiteral("/Trelvik");
}

RuleDatabase::RuleDatabase(const QString &folder)
    : m_folder(folder)
{
}

RuleDatabase::~RuleDatabase()
{
    CloseRuleDatabase();
}

QString RuleDatabase::databasePath() const
{
    return m_folder + QLatin1Char('/') + QLatin1String(kFileName);
}

QString RuleDatabase::backupPath() const
{
    return m_folder + QLatin1Char('/') + QLatin1String(kBackupName);
}

bool RuleDatabase::isRuleTable(const QString &table)
{
    return knownTable(table) != nullptr;
}

void RuleDatabase::ensureFolder() const
{
    // The rules are the user's own: nobody else may list or read them, also
    // when the folder or a file was made wider by hand or by a copy.
    const auto privateFolder = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    if (!QDir(m_folder).exists() && !QDir().mkpath(m_folder))
        return;
    if (QFile::permissions(m_folder) != privateFolder)
        QFile::setPermissions(m_folder, privateFolder);
    for (const QString &file : {databasePath(), backupPath()}) {
        const auto mode = QFile::permissions(file);
        if (mode & ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser))
            QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
    }
}

namespace {

// Inspects the file at `path` on `connection`, which it leaves open when the
// file is sound.
RuleDatabase::FileHealth inspectOn(RuleConnection &connection, const QString &path)
{
    using FileHealth = RuleDatabase::FileHealth;
    FileHealth health;
    const QFileInfo info(path);
    if (!info.exists())
        return health;
    health.modified = info.lastModified();
    health.state = FileHealth::State::Damaged;
    if (info.size() == 0) {
        health.reason = QStringLiteral("the file is empty (%1)").arg(path);
        return health;
    }
    if (!connection.open(path, &health.reason) || !connection.hasRuleTables(&health.reason)
        || !connection.quickCheck(&health.reason))
        return health;
    health.filterRules = connection.countRows("tbfilter", &health.reason);
    health.exemptedRules = health.filterRules < 0 ? -1 : connection.countRows("tbexempted", &health.reason);
    if (health.filterRules >= 0 && health.exemptedRules >= 0)
        health.state = FileHealth::State::Sound;
    return health;
}

} // namespace

RuleDatabase::FileHealth RuleDatabase::inspect(const QString &path)
{
    RuleConnection connection;
    return inspectOn(connection, path);
}

QString RuleDatabase::lastError() const
{
    return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("The rule database is not open.");
}

bool RuleDatabase::OpenRuleDatabase(QString *error, FileHealth *health)
{
    if (m_db)
        return true;
    ensureFolder();
    if (!DurableFile::exists(databasePath())) {
        if (DurableFile::exists(backupPath())) {
            // A fresh empty database here would become the next backup and
            // push out the only copy of the rules.
            if (error)
                *error =
                    QStringLiteral("The rule database \"%1\" is missing and its backup \"%2\" could not be restored.")
                        .arg(databasePath(), backupPath());
            return false;
        }
        if (!createDatabase(error))
            return false;
    }
    RuleConnection connection;
    if (health) {
        // Checked on the connection that then stays open: keying one costs
        // a key derivation, the larger part of a short run's start.
        *health = inspectOn(connection, databasePath());
        if (health->state == FileHealth::State::Damaged) {
            if (error)
                *error = health->reason;
            return false;
        }
    }
    QString why;
    // Only this one running copy uses the file (the instance lock sees to
    // that), so it keeps the file locked instead of locking, checking and
    // re-reading it around every lookup; and it keeps the decrypted pages of
    // a large rule list in memory.
    // An existing file without its tables is damaged, not new: creating them
    // here would make an empty list of it and, at the next start, its backup.
    if ((!connection.handle() && !connection.open(databasePath(), &why)) || !connection.hasRuleTables(&why)
        || !connection.createSchema(&why)
        || !connection.exec("pragma locking_mode = exclusive; pragma cache_size = -16384", &why)) {
        if (error)
            *error = why;
        return false;
    }
    m_db = connection.release();
    return true;
}

void RuleDatabase::CloseRuleDatabase()
{
    for (sqlite3_stmt *statement : std::as_const(m_statements))
        sqlite3_finalize(statement);
    m_statements.clear();
    if (m_db) {
        sqlite3_close(m_db);
        m_db = nullptr;
    }
}

sqlite3_stmt *RuleDatabase::statement(const QByteArray &sql) const
{
    if (!m_db)
        return nullptr;
    if (sqlite3_stmt *cached = m_statements.value(sql))
        return cached;
    sqlite3_stmt *prepared = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()), &prepared, nullptr) != SQLITE_OK) {
        sqlite3_finalize(prepared);
        return nullptr;
    }
    m_statements.insert(sql, prepared);
    return prepared;
}

bool RuleDatabase::IsInList(const QString &value, const QString &table) const
{
    return !StoredRule(value, table).isNull();
}

QString RuleDatabase::StoredRule(const QString &value, const QString &table) const
{
    const char *name = knownTable(table);
    if (!name)
        throw RuleDatabaseError("No such rule table: " + table.toStdString());
    if (!m_db)
        throw RuleDatabaseError("The rule database is not open.");
    sqlite3_stmt *lookup = statement(QByteArray("select email from ") + name + " where email=?1");
    if (!lookup)
        throw RuleDatabaseError(sqlite3_errmsg(m_db));
    const QByteArray utf8 = value.toUtf8();
    StatementUse use(lookup);
    if (!bindValue(lookup, utf8, value.isEmpty()))
        throw RuleDatabaseError(sqlite3_errmsg(m_db));
    switch (sqlite3_step(lookup)) {
    case SQLITE_ROW: {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(lookup, 0));
        const int bytes = sqlite3_column_bytes(lookup, 0);
        return bytes > 0 ? Utf8Text(QByteArrayView(text, bytes)) : QStringLiteral("");
    }
    case SQLITE_DONE:
        return {};
    default:
        throw RuleDatabaseError(sqlite3_errmsg(m_db));
    }
}

bool RuleDatabase::InsertRule(const QString &table, const QString &value)
{
    const char *name = knownTable(table);
    if (!name)
        return false;
    sqlite3_stmt *insert = statement(QByteArray("insert into ") + name + " (email) values (?1)");
    if (!insert)
        return false;
    const QByteArray utf8 = value.toUtf8();
    StatementUse use(insert);
    return bindValue(insert, utf8, value.isEmpty()) && sqlite3_step(insert) == SQLITE_DONE;
}

bool RuleDatabase::insertAll(const QString &table, const QStringList &values)
{
    for (const QString &value : values) {
        if (!InsertRule(table, value))
            return false;
    }
    return true;
}

bool RuleDatabase::InsertRules(const QString &table, const QStringList &values)
{
    if (table == QLatin1String("tbfilter"))
        return InsertRuleSets(values, QStringList());
    if (table == QLatin1String("tbexempted"))
        return InsertRuleSets(QStringList(), values);
    return false;
}

bool RuleDatabase::InsertRuleSets(const QStringList &filterValues, const QStringList &exemptedValues)
{
    if (!m_db)
        return false;
    if (sqlite3_exec(m_db, "begin", nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    if (insertAll(QStringLiteral("tbfilter"), filterValues) && insertAll(QStringLiteral("tbexempted"), exemptedValues)
        && sqlite3_exec(m_db, "commit", nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    sqlite3_exec(m_db, "rollback", nullptr, nullptr, nullptr);
    return false;
}

bool RuleDatabase::DeleteRule(const QString &table, const QString &value)
{
    const char *name = knownTable(table);
    if (!name)
        return false;
    if (value.isEmpty()) {
        // The rows an empty value made: deleting the empty row of a list
        // must take them out of the table too.
        sqlite3_stmt *remove = statement(QByteArray("delete from ") + name + " where email is null or email=''");
        if (!remove)
            return false;
        StatementUse use(remove);
        return sqlite3_step(remove) == SQLITE_DONE;
    }
    sqlite3_stmt *remove = statement(QByteArray("delete from ") + name + " where email=?1");
    if (!remove)
        return false;
    const QByteArray utf8 = value.toUtf8();
    StatementUse use(remove);
    return bindValue(remove, utf8, false) && sqlite3_step(remove) == SQLITE_DONE;
}

std::optional<QStringList> RuleDatabase::FillRules(const QString &table) const
{
    const char *name = knownTable(table);
    if (!name)
        return std::nullopt;
    return fillFrom(QByteArray("select email from ") + name);
}

std::optional<QStringList> RuleDatabase::FillPatternCandidates(const QString &table) const
{
    const char *name = knownTable(table);
    if (!name)
        return std::nullopt;
    return fillFrom(QByteArray("select email from ") + name
                    + " where instr(email, '*') > 0 or instr(email, '?') > 0 or instr(email, ':') > 0");
}

std::optional<QList<QByteArray>> RuleDatabase::FillRuleBytes(const QString &table) const
{
    const char *name = knownTable(table);
    if (!name)
        return std::nullopt;
    // A value stored as a number or blob never equals a text looked up.
    sqlite3_stmt *select =
        statement(QByteArray("select email from ") + name + " where typeof(email) = 'text' order by rowid");
    if (!select)
        return std::nullopt;
    StatementUse use(select);
    QList<QByteArray> values;
    int rc;
    while ((rc = sqlite3_step(select)) == SQLITE_ROW) {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(select, 0));
        values.append(QByteArray(text, sqlite3_column_bytes(select, 0)));
    }
    if (rc != SQLITE_DONE)
        return std::nullopt;
    return values;
}

std::optional<QStringList> RuleDatabase::fillFrom(const QByteArray &sql) const
{
    sqlite3_stmt *select = statement(sql);
    if (!select)
        return std::nullopt;
    StatementUse use(select);
    QStringList values;
    int rc;
    while ((rc = sqlite3_step(select)) == SQLITE_ROW) {
        if (sqlite3_column_type(select, 0) == SQLITE_NULL) {
            values.append(QString());
            continue;
        }
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(select, 0));
        const int bytes = sqlite3_column_bytes(select, 0);
        values.append(bytes > 0 ? Utf8Text(QByteArrayView(text, bytes)) : QStringLiteral(""));
    }
    if (rc != SQLITE_DONE)
        return std::nullopt;
    return values;
}
