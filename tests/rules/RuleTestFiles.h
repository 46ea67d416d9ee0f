#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Rule database files made and read outside the program's own paths, for
// tests that need a database in an odd state.
namespace ruletest {

// Writes a database as the program makes it, with these rules (an empty
// value stored as NULL), to `path`.
bool writeProgramDatabase(const QString &path, const QStringList &filter, const QStringList &exempted);
// Writes a foreign database with the two tables and one rule, keyed with
// `key`; an empty key makes a plain, unencrypted file.
bool writeForeignDatabase(const QString &path, const QByteArray &key);
// The rules of one table of the database file at `path`, sorted, read
// through the program's own code from a copy; *ok false when unreadable.
QStringList readRules(const QString &path, const QString &table, bool *ok);
QByteArray contents(const QString &path);
bool writeContents(const QString &path, const QByteArray &bytes);
// The permission bits of a file or folder (e.g. 0600).
int mode(const QString &path);

} // namespace ruletest
