// Start-up compaction of the rule database and the making of a first one.
// The database on disk is replaced only by a complete, flushed file, so a
// failure or a crash at any point leaves the rules readable in trelvik.mdb
// or, between the two renames, in backup.mdb, from which the next start
// recovers them.
#include "RuleDatabase.h"

#include "DeletionHistory.h"
#include "DurableFile.h"
#include "RuleConnection.h"
#include "StringHelpers.h"

#include <MessageBox.h>

#include <QDateTime>
#include <QFile>

#include <sqlite3.h>

namespace {

constexpr char kCompactSuffix[] = ".compact";

bool discardTemporary(const QString &path, QString *error)
{
    return DurableFile::remove(path + QStringLiteral("-journal"), error) && DurableFile::remove(path, error);
}

// Copies every table and index of the open source into a new keyed file.
bool exportInto(RuleConnection &source, const QString &target, QString *error)
{
    if (!discardTemporary(target, error) || !DurableFile::createPrivate(target, error))
        return false;
    sqlite3_stmt *attach = nullptr;
    const QByteArray sql = "attach database ?1 as compacted key ?2";
    if (sqlite3_prepare_v2(source.handle(), sql.constData(), int(sql.size()), &attach, nullptr) != SQLITE_OK) {
        *error = source.lastError();
        sqlite3_finalize(attach);
        return false;
    }
    const QByteArray targetName = target.toUtf8();
    const QByteArray key = RuleConnection::password();
    sqlite3_bind_text(attach, 1, targetName.constData(), int(targetName.size()), SQLITE_STATIC);
    sqlite3_bind_text(attach, 2, key.constData(), int(key.size()), SQLITE_STATIC);
    const bool attached = sqlite3_step(attach) == SQLITE_DONE;
    if (!attached)
        *error = source.lastError();
    sqlite3_finalize(attach);
    if (!attached)
        return false;

    // The copy needs no journal and no flush per step: until it is complete
    // and flushed as a whole it is not the database, and a failed copy is
    // thrown away.
    bool ok = source.exec("pragma compacted.journal_mode = off; pragma compacted.synchronous = off;"
                          "pragma compacted.cache_size = -16384; pragma main.cache_size = -16384;",
                          error)
        && source.exec("select sqlcipher_export('compacted')", error);
    // A copy that lost rows must not replace the database.
    for (const char *table : {"tbfilter", "tbexempted"}) {
        if (!ok)
            break;
        const QByteArray count = QByteArray("select (select count(*) from main.") + table
            + ") = (select count(*) from compacted." + table + ")";
        sqlite3_stmt *check = nullptr;
        ok = sqlite3_prepare_v2(source.handle(), count.constData(), int(count.size()), &check, nullptr) == SQLITE_OK
            && sqlite3_step(check) == SQLITE_ROW && sqlite3_column_int(check, 0) == 1;
        sqlite3_finalize(check);
        if (!ok)
            *error = QStringLiteral("The compacted copy of the rule database is incomplete (%1).").arg(target);
    }
    QString detachError;
    if (!source.exec("detach database compacted", &detachError) && ok) {
        *error = detachError;
        ok = false;
    }
    return ok;
}

} // namespace

bool RuleDatabase::createDatabase(QString *error) const
{
    const QString target = databasePath() + QLatin1String(kCompactSuffix);
    QString why;
    RuleConnection connection;
    bool ok = discardTemporary(target, &why) && DurableFile::createPrivate(target, &why)
        && connection.open(target, &why) && connection.createSchema(&why) && connection.close(&why)
        && DurableFile::sync(target, &why) && DurableFile::replace(target, databasePath(), &why)
        && DurableFile::sync(m_folder, &why);
    if (!ok) {
        connection.close();
        discardTemporary(target, nullptr);
        if (error)
            *error = why;
    }
    return ok;
}

bool RuleDatabase::CompactRuleDatabase()
{
    const bool wasOpen = isOpen();
    CloseRuleDatabase();
    QString error;
    bool ok = compactClosed(&error);
    // Open again as it was: a database that cannot be opened now is no
    // compaction that went well.
    if (QString openError; wasOpen && !OpenRuleDatabase(&openError)) {
        error = ok ? openError : error + QStringLiteral("\r\n") + openError;
        ok = false;
    }
    if (!ok)
        MessageBox::show(error, QStringLiteral("Error"), MessageBox::Icon::Critical);
    return ok;
}

bool RuleDatabase::compactClosed(QString *errorOut)
{
    ensureFolder();
    const QString database = databasePath();
    const QString backup = backupPath();
    const QString target = database + QLatin1String(kCompactSuffix);
    QString error;
    bool ok = true;

    if (!DurableFile::exists(database) && !DurableFile::exists(backup)) {
        // A first start: the rule lists begin empty.
        ok = createDatabase(&error);
    } else {
        // Without trelvik.mdb an earlier compaction stopped between its two
        // renames: backup.mdb then holds the only copy and is the source.
        const bool recovering = !DurableFile::exists(database);
        const QString source = recovering ? backup : database;
        RuleConnection connection;
        // A source without both tables is damaged: a copy of it must never
        // push the backup out.
        ok = connection.open(source, &error) && connection.hasRuleTables(&error) && connection.createSchema(&error)
            && exportInto(connection, target, &error) && connection.close(&error) && DurableFile::sync(target, &error);
        connection.close();
        // Reading the source has rolled back an unfinished change, so a
        // journal still beside it (as a run that ended without closing the
        // database leaves) is spent; it must not stay beside the file that
        // takes the name next.
        if (ok)
            ok = DurableFile::remove(source + QStringLiteral("-journal"), &error);
        if (ok && !recovering) {
            // The old state becomes the backup; the compacted file takes
            // its place. Should the second step fail, the first is undone;
            // should that fail too, backup.mdb alone holds the rules, and the
            // next start takes them from there.
            ok = DurableFile::replace(database, backup, &error);
            if (ok && !DurableFile::replace(target, database, &error)) {
                if (QString undoError; !DurableFile::replace(backup, database, &undoError))
                    error += QStringLiteral("\r\nThe rules are kept in \"%1\" (%2); the next start takes them "
                                            "from there.")
                                 .arg(backup, undoError);
                ok = false;
            }
        } else if (ok) {
            ok = DurableFile::replace(target, database, &error);
        }
        if (ok)
            ok = DurableFile::sync(m_folder, &error);
        discardTemporary(target, nullptr);
    }
    if (errorOut)
        *errorOut = error;
    return ok;
}

namespace {

// Puts the complete, flushed file `replacement` in the place of a damaged
// trelvik.mdb; the damaged file only moves aside, to a name of its own,
// once the replacement can take its place. Its journal goes with it: rolled
// into the replacement it would damage that too. On failure every file is
// as it was.
bool replaceDamaged(const QString &database, const QString &replacement, const QString &folder, QString *keptAs,
                    QString *why)
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString damaged = database + QStringLiteral(".damaged-") + stamp;
    for (int n = 1; DurableFile::exists(damaged) || DurableFile::exists(damaged + QStringLiteral("-journal")); ++n)
        damaged = database + QStringLiteral(".damaged-") + stamp + QLatin1Char('-') + QString::number(n);
    const QString journal = database + QStringLiteral("-journal");
    bool ok = DurableFile::replace(database, damaged, why);
    if (ok && DurableFile::exists(journal)
        && !DurableFile::replace(journal, damaged + QStringLiteral("-journal"), why)) {
        if (QString undoError; !DurableFile::replace(damaged, database, &undoError))
            *why += QStringLiteral("; the damaged file could not be put back (%1) and is kept as \"%2\"")
                        .arg(undoError, damaged);
        ok = false;
    }
    if (ok && !DurableFile::replace(replacement, database, why)) {
        // Put back; where that fails too, the text says where the file is.
        QString undoError;
        if ((DurableFile::exists(damaged + QStringLiteral("-journal"))
             && !DurableFile::replace(damaged + QStringLiteral("-journal"), journal, &undoError))
            || !DurableFile::replace(damaged, database, &undoError))
            *why += QStringLiteral("; the damaged file could not be put back (%1) and is kept as \"%2\"")
                        .arg(undoError, damaged);
        ok = false;
    }
    if (!ok)
        return false;
    DurableFile::sync(folder, nullptr);
    if (keptAs)
        *keptAs = damaged;
    return true;
}

// Every value of `table`, NULL as a null QString, up to the first failure.
bool readValues(RuleConnection &connection, const char *table, QStringList *values, QString *error)
{
    sqlite3_stmt *query = nullptr;
    // From the table itself: its index may be what is damaged.
    const QByteArray sql = QByteArray("select email from ") + table + " not indexed";
    int rc = sqlite3_prepare_v2(connection.handle(), sql.constData(), int(sql.size()), &query, nullptr);
    while (rc == SQLITE_OK && (rc = sqlite3_step(query)) == SQLITE_ROW) {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(query, 0));
        values->append(text ? Utf8Text(QByteArrayView(text, sqlite3_column_bytes(query, 0))) : QString());
        rc = SQLITE_OK;
    }
    const bool ok = rc == SQLITE_DONE;
    if (!ok)
        *error = connection.lastError();
    sqlite3_finalize(query);
    return ok;
}

bool insertValues(RuleConnection &connection, const char *table, const QStringList &values, QString *error)
{
    sqlite3_stmt *insert = nullptr;
    const QByteArray sql = QByteArray("insert into ") + table + " (email) values (?1)";
    bool ok = sqlite3_prepare_v2(connection.handle(), sql.constData(), int(sql.size()), &insert, nullptr) == SQLITE_OK;
    for (qsizetype i = 0; ok && i < values.size(); ++i) {
        const QByteArray utf8 = values.at(i).toUtf8();
        ok = (values.at(i).isNull()
                  ? sqlite3_bind_null(insert, 1)
                  : sqlite3_bind_text(insert, 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT))
                == SQLITE_OK
            && sqlite3_step(insert) == SQLITE_DONE && sqlite3_reset(insert) == SQLITE_OK;
    }
    if (!ok)
        *error = connection.lastError();
    sqlite3_finalize(insert);
    return ok;
}

} // namespace

RuleDatabase::Salvage RuleDatabase::salvageRules(const QString &path)
{
    Salvage salvage;
    RuleConnection connection;
    if (!connection.open(path, &salvage.reason) || !connection.hasRuleTables(&salvage.reason))
        return salvage;
    // Both lists, also when the first fails: the counts tell the user what
    // the damaged file still gives.
    QString exemptedReason;
    const bool filter = readValues(connection, "tbfilter", &salvage.filter, &salvage.reason);
    const bool exempted = readValues(connection, "tbexempted", &salvage.exempted, &exemptedReason);
    if (filter && !exempted)
        salvage.reason = exemptedReason;
    salvage.complete = filter && exempted;
    return salvage;
}

namespace {

// Copies the deletion history of backup.mdb into the open new database: the
// damaged file's own cannot be read, and the start-up compaction is about to
// put the new file in the backup's place. A backup that cannot be read gives
// none (the rebuild goes on); how many records it gave.
qint64 historyOfBackup(RuleConnection &connection, const QString &backup)
{
    if (!DurableFile::exists(backup))
        return 0;
    sqlite3_stmt *attach = nullptr;
    const QByteArray path = backup.toUtf8();
    const QByteArray key = RuleConnection::password();
    bool attached = sqlite3_prepare_v2(connection.handle(), "attach database ?1 as backup key ?2", -1, &attach, nullptr)
            == SQLITE_OK
        && sqlite3_bind_text(attach, 1, path.constData(), int(path.size()), SQLITE_STATIC) == SQLITE_OK
        && sqlite3_bind_text(attach, 2, key.constData(), int(key.size()), SQLITE_STATIC) == SQLITE_OK
        && sqlite3_step(attach) == SQLITE_DONE;
    sqlite3_finalize(attach);
    if (!attached)
        return 0;
    const qint64 copied = DeletionHistory::copyAttached(connection.handle(), "backup", nullptr).value_or(0);
    connection.exec("detach database backup", nullptr);
    return copied;
}

} // namespace

bool RuleDatabase::rebuildFromRules(const Salvage &rules, QString *keptAs, QString *error, qint64 *historyKept)
{
    QString why;
    if (isOpen() || !rules.complete) {
        why = isOpen() ? QStringLiteral("The rule database is open.")
                       : QStringLiteral("The rules of the damaged file could not be read in full.");
        if (error)
            *error = why;
        return false;
    }
    const QString rebuilt = databasePath() + QStringLiteral(".rebuild");
    RuleConnection connection;
    bool ok = discardTemporary(rebuilt, &why) && DurableFile::createPrivate(rebuilt, &why)
        && connection.open(rebuilt, &why) && connection.createSchema(&why) && connection.exec("begin", &why)
        && insertValues(connection, "tbfilter", rules.filter, &why)
        && insertValues(connection, "tbexempted", rules.exempted, &why) && connection.exec("commit", &why);
    const qint64 kept = ok ? historyOfBackup(connection, backupPath()) : 0;
    ok = ok && connection.close(&why) && DurableFile::sync(rebuilt, &why)
        && replaceDamaged(databasePath(), rebuilt, m_folder, keptAs, &why);
    connection.close();
    discardTemporary(rebuilt, nullptr);
    if (!ok && error)
        *error = why;
    if (ok && historyKept)
        *historyKept = kept;
    return ok;
}

bool RuleDatabase::restoreFromBackup(QString *keptAs, QString *error)
{
    QString why;
    if (isOpen()) {
        why = QStringLiteral("The rule database is open.");
        if (error)
            *error = why;
        return false;
    }
    // A complete, flushed copy first.
    const QString database = databasePath();
    const QString copy = database + QStringLiteral(".restore");
    bool ok = discardTemporary(copy, &why);
    if (ok && !QFile::copy(backupPath(), copy)) {
        why = QStringLiteral("Cannot copy \"%1\" to \"%2\"").arg(backupPath(), copy);
        ok = false;
    }
    ok = ok && QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner) && DurableFile::sync(copy, &why);
    ok = ok && replaceDamaged(database, copy, m_folder, keptAs, &why);
    discardTemporary(copy, nullptr);
    if (!ok) {
        if (error)
            *error = why;
        return false;
    }
    return true;
}
