#define SQLITE_HAS_CODEC 1
#include "RuleTestFiles.h"

#include "RuleDatabase.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <sqlite3.h>
#include <sys/stat.h>

namespace ruletest {

bool writeProgramDatabase(const QString &path, const QStringList &filter, const QStringList &exempted)
{
    QTemporaryDir dir;
    RuleDatabase db(dir.path());
    bool ok = db.OpenRuleDatabase();
    ok = ok && db.InsertRules(QStringLiteral("tbfilter"), filter);
    ok = ok && db.InsertRules(QStringLiteral("tbexempted"), exempted);
    db.CloseRuleDatabase();
    QFile::remove(path);
    return ok && QFile::copy(db.databasePath(), path);
}

bool writeForeignDatabase(const QString &path, const QByteArray &key)
{
    QFile::remove(path);
    sqlite3 *db = nullptr;
    bool ok = sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                              SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK;
    if (ok && !key.isEmpty())
        ok = sqlite3_key(db, key.constData(), int(key.size())) == SQLITE_OK;
    ok = ok && sqlite3_exec(db, "create table tbfilter (email text); create table tbexempted (email text);"
                                "insert into tbfilter values ('kept@x.de');",
                            nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

QStringList readRules(const QString &path, const QString &table, bool *ok)
{
    // Read a copy, so that looking never changes the file under test.
    QTemporaryDir dir;
    const QString copy = dir.path() + QLatin1Char('/') + QLatin1String(RuleDatabase::kFileName);
    *ok = QFile::copy(path, copy);
    if (!*ok)
        return {};
    RuleDatabase db(dir.path());
    *ok = db.OpenRuleDatabase();
    if (!*ok)
        return {};
    const std::optional<QStringList> rules = db.FillRules(table);
    *ok = rules.has_value();
    QStringList sorted = rules.value_or(QStringList());
    sorted.sort();
    return sorted;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeContents(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

int mode(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

} // namespace ruletest
