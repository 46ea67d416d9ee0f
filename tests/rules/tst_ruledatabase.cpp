#define SQLITE_HAS_CODEC 1
#include "DamagedDatabase.h"
#include "RuleCollation.h"
#include "RuleConnection.h"
#include "RuleDatabase.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <optional>
#include <sqlite3.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {
const QString kFilter = u"tbfilter"_s;
const QString kExempted = u"tbexempted"_s;
const QStringList kRules{u"joe@x.de"_s, u"ÄRGER@x.de"_s, u"o'neil@x.ie"_s, u"*@spam.example"_s};

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

bool writeContents(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

int mode(const QString &path)
{
    struct stat st { };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// A database as the program makes it, written to `path`.
bool writeProgramDatabase(const QString &path, const QStringList &filter, const QStringList &exempted = {})
{
    QTemporaryDir dir;
    RuleDatabase db(dir.path());
    const bool ok = db.OpenRuleDatabase() && db.InsertRules(kFilter, filter) && db.InsertRules(kExempted, exempted);
    db.CloseRuleDatabase();
    return ok && QFile::copy(db.databasePath(), path);
}

// A database of the right shape keyed with another password.
bool writeForeignDatabase(const QString &path)
{
    sqlite3 *db = nullptr;
    const bool ok = sqlite3_open(QFile::encodeName(path).constData(), &db) == SQLITE_OK
        && sqlite3_key(db, "not the password", 16) == SQLITE_OK
        && sqlite3_exec(db, "create table tbfilter (email text); create table tbexempted (email text);", nullptr,
                        nullptr, nullptr)
            == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

// A file keyed with the program's password that lacks the rule tables (or
// one of them), as a sync tool or a failed copy may leave.
bool writeTablelessDatabase(const QString &path, const QByteArray &tables)
{
    RuleConnection connection;
    QString error;
    return writeContents(path, QByteArray()) && connection.open(path, &error) && connection.exec(tables, &error)
        && connection.close(&error);
}

// The kinds of damaged trelvik.mdb the tests lay down.
bool writeDamaged(const QString &path, const QString &kind)
{
    if (kind == u"empty"_s)
        return writeContents(path, QByteArray());
    if (kind == u"garbage"_s)
        return writeContents(path, QByteArray(8192, '\x5a'));
    if (kind == u"no tables"_s)
        return writeTablelessDatabase(path, "create table other (x text)");
    if (kind == u"filter table only"_s)
        return writeTablelessDatabase(path, "create table tbfilter (email text)");
    if (kind == u"cut short"_s) {
        QStringList many;
        for (int i = 0; i < 4000; ++i)
            many << u"sender%1@example.com"_s.arg(i);
        QFile file(path);
        return writeProgramDatabase(path, many) && file.resize(file.size() / 2);
    }
    return writeForeignDatabase(path); // "wrong key"
}

// The rules of a file, read from a copy so that looking changes nothing.
QStringList readRules(const QString &path, const QString &table)
{
    QTemporaryDir dir;
    RuleDatabase db(dir.path());
    if (!QFile::copy(path, db.databasePath()) || !db.OpenRuleDatabase())
        return {u"unreadable"_s};
    return sorted(db.FillRules(table).value_or(QStringList{u"query failed"_s}));
}
} // namespace

class TestRuleDatabase : public QObject {
    Q_OBJECT
    struct Fixture {
        testsupport::TempHome home;
        testsupport::MessageBoxRecorder boxes;
        RuleDatabase db; // in the private home
    };
    std::optional<Fixture> m_f;

    QString folder() const { return m_f->home.appDataFolder(); }
    QString path(const QString &name) const { return folder() + u'/' + name; }
    QStringList files() const { return QDir(folder()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot); }

private Q_SLOTS:
    void init() { m_f.emplace(); }
    void cleanup() { m_f.reset(); }

    void lookup_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("probe");
        QTest::addColumn<bool>("found");
        QTest::newRow("ASCII case") << u"Joe@Example.COM"_s << u"joe@example.com"_s << true;
        QTest::newRow("German umlaut") << u"ÄRGER@x.de"_s << u"ärger@x.de"_s << true;
        QTest::newRow("Kelvin sign folds to k") << u"\u212Aarl@x.de"_s << u"karl@x.de"_s << true;
        QTest::newRow("apostrophe") << u"o'neil@x.ie"_s << u"O'NEIL@x.ie"_s << true;
        QTest::newRow("accent is not case") << u"e@x.de"_s << u"é@x.de"_s << false;
        QTest::newRow("longer probe") << u"joe@x.de"_s << u"joe@x.de.evil"_s << false;
        QTest::newRow("domain rule is not a pattern") << u"*@x.de"_s << u"joe@x.de"_s << false;
        QTest::newRow("SQL in the probe") << u"a@x.de"_s << u"x' or '1'='1"_s << false;
    }
    void lookup()
    {
        QFETCH(QString, stored);
        QFETCH(QString, probe);
        QFETCH(bool, found);
        QVERIFY(m_f->db.OpenRuleDatabase());
        QVERIFY(m_f->db.InsertRule(kFilter, stored));
        QCOMPARE(m_f->db.IsInList(probe, kFilter), found);
        QVERIFY(m_f->db.IsInList(stored, kFilter));
        QVERIFY(!m_f->db.IsInList(stored, kExempted));
    }

    void deleteAndEmptyValue()
    {
        QVERIFY(m_f->db.OpenRuleDatabase());
        const QStringList stored{u"ÄRGER@x.de"_s, u"ärger@x.de"_s, u"arger@x.de"_s, u"O'Neil@x.ie"_s, u"ЖУК@x.ru"_s};
        QVERIFY(m_f->db.InsertRules(kFilter, stored)
                && m_f->db.InsertRules(kExempted, stored + QStringList{QString(), u""_s}));
        QVERIFY(!m_f->db.IsInList(u""_s, kExempted)); // an empty value is stored as NULL and never found
        QStringList rules = m_f->db.FillRules(kExempted).value_or(QStringList());
        QCOMPARE(std::count_if(rules.cbegin(), rules.cend(), [](const QString &v) { return v.isNull(); }), 2);
        // Every case variant goes; the empty value takes the NULL rows.
        for (const QString &deleted : {u"Ärger@X.DE"_s, u"o'neil@X.IE"_s, u"жук@x.ru"_s, u""_s})
            QVERIFY(m_f->db.DeleteRule(kExempted, deleted));
        QCOMPARE(m_f->db.FillRules(kExempted), std::optional<QStringList>(QStringList{u"arger@x.de"_s}));
        QCOMPARE(m_f->db.FillRules(kFilter).value_or(QStringList()).size(), stored.size());
    }

    // The index relies on one consistent total order that keeps case
    // variants together, whatever bytes a text holds.
    void collationIsConsistentOrder()
    {
        // Last three: bytes no encoder makes.
        const QList<QByteArray> samples{"",
                                        "a",
                                        "A",
                                        "aB@x",
                                        "\u212A",
                                        "ärger",
                                        "ÄRGER",
                                        "arger",
                                        "Ω",
                                        "_u",
                                        "ΣΑΣ",
                                        "σας",
                                        "a\U0001F600",
                                        "a\xC3",
                                        "a\x80"
                                        "b",
                                        "\xFF"};
        const auto cmp = [](const QByteArray &a, const QByteArray &b) {
            const int r = RuleCollation::compareUtf8(a.constData(), int(a.size()), b.constData(), int(b.size()));
            return (r > 0) - (r < 0);
        };
        for (const QByteArray &a : samples)
            for (const QByteArray &b : samples)
                for (const QByteArray &c : samples)
                    QVERIFY2(cmp(a, b) == -cmp(b, a) && (cmp(a, b) > 0 || cmp(b, c) > 0 || cmp(a, c) <= 0),
                             (a + ' ' + b + ' ' + c).constData());
        QVERIFY(RuleCollation::sameRule(u"ΣΑΣ"_s, u"σας"_s)); // final sigma is a small sigma
    }

    void compaction_data()
    {
        QTest::addColumn<QString>("state");
        QTest::newRow("first start") << u"none"_s;
        QTest::newRow("no backup yet") << u"database"_s;
        QTest::newRow("earlier backup replaced") << u"database and backup"_s;
        QTest::newRow("half-done compaction: backup alone") << u"backup"_s;
        QTest::newRow("journal of a run that ended without closing") << u"journal"_s;
        QTest::newRow("journal of a crash inside a change") << u"crash"_s;
    }
    void compaction()
    {
        QFETCH(QString, state);
        const QString database = path(u"trelvik.mdb"_s), backup = path(u"backup.mdb"_s);
        QStringList rules = state == u"none"_s ? QStringList() : kRules;
        if (state != u"none"_s)
            QVERIFY(QDir().mkpath(folder()));
        if (state.startsWith(u"database"_s))
            QVERIFY(writeProgramDatabase(database, rules, {QString()}));
        if (state == u"database and backup"_s)
            QVERIFY(writeProgramDatabase(backup, {u"old@x.de"_s}));
        if (state == u"backup"_s) {
            QVERIFY(writeProgramDatabase(backup, rules, {QString()}));
            QVERIFY(writeContents(database + u".compact"_s, "half a file"));
            QVERIFY(!m_f->db.OpenRuleDatabase()); // never a fresh database over the only copy
            QVERIFY(!QFile::exists(database));
        }
        if (state == u"journal"_s || state == u"crash"_s) {
            QTemporaryDir elsewhere;
            const QString original = elsewhere.filePath(u"trelvik.mdb"_s);
            for (int i = 0; i < 3000; ++i)
                rules.append(u"bulk%1@x.de"_s.arg(i));
            QVERIFY(writeProgramDatabase(original, rules, {QString()}));
            RuleDatabase running(elsewhere.path());
            QVERIFY(running.OpenRuleDatabase() && running.InsertRule(kFilter, u"committed@x.de"_s));
            rules.append(u"committed@x.de"_s);
            RuleConnection writer;
            QString error;
            if (state == u"crash"_s) {
                running.CloseRuleDatabase();
                // With a tiny cache the change overwrites pages before it
                // commits, their old contents saved in the journal.
                QVERIFY(writer.open(original, &error));
                QVERIFY(writer.exec("pragma cache_size = 1; begin; update tbfilter set email = upper(email);", &error));
            }
            // Copy the files as a run that ends here leaves them.
            QVERIFY(QFile::copy(original, database));
            QVERIFY(QFile::copy(original + u"-journal"_s, database + u"-journal"_s));
        }
        const QByteArray before = contents(state == u"backup"_s ? backup : database);

        QVERIFY(m_f->db.CompactRuleDatabase());
        VERIFY_BOXES(m_f->boxes);
        QCOMPARE(readRules(database, kFilter), sorted(rules));
        if (!rules.isEmpty()) {
            QCOMPARE(readRules(database, kExempted), QStringList{QString()});
            QCOMPARE(readRules(backup, kFilter), sorted(rules));
            if (state != u"journal"_s && state != u"crash"_s)
                QCOMPARE(contents(backup), before); // the backup is the database as it was
        }
        QCOMPARE(files(),
                 rules.isEmpty() ? QStringList{u"trelvik.mdb"_s} : QStringList({u"backup.mdb"_s, u"trelvik.mdb"_s}));
        if (state == u"none"_s)
            QCOMPARE(mode(folder()), 0700);
        QCOMPARE(mode(database), 0600);
        QVERIFY(m_f->db.OpenRuleDatabase());
        QCOMPARE(m_f->db.IsInList(u"JOE@x.de"_s, kFilter), !rules.isEmpty());
        QVERIFY(m_f->db.InsertRule(kFilter, u"secret@x.de"_s));
        m_f->db.CloseRuleDatabase();
        // Encrypted: neither the plain header nor the stored text shows.
        QVERIFY(!contents(database).startsWith("SQLite format 3"));
        QVERIFY(!contents(database).contains("secret@x.de"));
    }

    void failedCompactionKeepsFiles_data()
    {
        QTest::addColumn<QString>("database"); // what trelvik.mdb is
        QTest::addColumn<bool>("withBackup");
        QTest::addColumn<QString>("blocked"); // a folder in a file's place makes that step fail
        QTest::newRow("garbage with backup") << u"garbage"_s << true << QString();
        QTest::newRow("empty file with backup") << u"empty"_s << true << QString();
        QTest::newRow("no rule tables, with backup") << u"no tables"_s << true << QString();
        QTest::newRow("one rule table, with backup") << u"filter table only"_s << true << QString();
        QTest::newRow("wrong key with backup") << u"wrong key"_s << true << QString();
        QTest::newRow("backup alone, wrong key") << u"missing"_s << false << QString();
        QTest::newRow("temporary file cannot be made") << u"good"_s << true << u"trelvik.mdb.compact"_s;
        QTest::newRow("backup cannot be replaced") << u"good"_s << false << u"backup.mdb"_s;
    }
    void failedCompactionKeepsFiles()
    {
        QFETCH(QString, database);
        QFETCH(bool, withBackup);
        QFETCH(QString, blocked);
        QVERIFY(QDir().mkpath(blocked.isEmpty() ? folder() : path(blocked) + u"/occupied"_s));
        if (database == u"garbage"_s || database == u"empty"_s || database.contains(u"table"_s))
            QVERIFY(writeDamaged(path(u"trelvik.mdb"_s), database));
        else if (database == u"good"_s)
            QVERIFY(writeProgramDatabase(path(u"trelvik.mdb"_s), kRules));
        else
            QVERIFY(writeForeignDatabase(path(database == u"missing"_s ? u"backup.mdb"_s : u"trelvik.mdb"_s)));
        if (withBackup)
            QVERIFY(writeProgramDatabase(path(u"backup.mdb"_s), kRules));
        const QStringList before = files();
        const QByteArray dbBytes = contents(path(u"trelvik.mdb"_s)), backupBytes = contents(path(u"backup.mdb"_s));

        QVERIFY(!m_f->db.CompactRuleDatabase());
        QCOMPARE(m_f->boxes.shown().size(), 1);
        QCOMPARE(m_f->boxes.shown().first().title, u"Error"_s);
        QCOMPARE(m_f->boxes.shown().first().icon, MessageBox::Icon::Critical);
        // Nothing is lost: every file is as it was.
        QCOMPARE(files(), before);
        QCOMPARE(contents(path(u"trelvik.mdb"_s)), dbBytes);
        QCOMPARE(contents(path(u"backup.mdb"_s)), backupBytes);
        QString error;
        QCOMPARE(m_f->db.OpenRuleDatabase(&error), database == u"good"_s);
        QCOMPARE(error.isEmpty(), database == u"good"_s);
        QCOMPARE(contents(path(u"trelvik.mdb"_s)), dbBytes);
        if (database == u"good"_s)
            QVERIFY(m_f->db.IsInList(u"JOE@x.de"_s, kFilter));
    }

    // A damaged database is told apart from a missing one, and the backup
    // takes its place while the damaged file stays beside it.
    void restoreFromBackup_data()
    {
        QTest::addColumn<QString>("damage");
        for (const char *kind : {"empty", "garbage", "no tables", "filter table only", "wrong key", "cut short"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }
    void restoreFromBackup()
    {
        QFETCH(QString, damage);
        using State = RuleDatabase::FileHealth::State;
        QCOMPARE(RuleDatabase::inspect(path(u"trelvik.mdb"_s)).state, State::Missing);
        QVERIFY(QDir().mkpath(folder()));
        QVERIFY(writeDamaged(path(u"trelvik.mdb"_s), damage));
        QVERIFY(writeContents(path(u"trelvik.mdb-journal"_s), "stale"));
        QVERIFY(writeProgramDatabase(path(u"backup.mdb"_s), kRules, {u"boss@work.example"_s}));
        const QByteArray damagedBytes = contents(path(u"trelvik.mdb"_s));
        const QByteArray backupBytes = contents(path(u"backup.mdb"_s));

        const RuleDatabase::FileHealth health = RuleDatabase::inspect(path(u"trelvik.mdb"_s));
        QCOMPARE(health.state, State::Damaged);
        QVERIFY(!health.reason.isEmpty());
        const RuleDatabase::FileHealth backup = RuleDatabase::inspect(path(u"backup.mdb"_s));
        QCOMPARE(backup.state, State::Sound);
        QCOMPARE(backup.filterRules, qint64(kRules.size()));
        QCOMPARE(backup.exemptedRules, qint64(1));

        QString keptAs, error;
        QVERIFY2(m_f->db.restoreFromBackup(&keptAs, &error), qPrintable(error));
        QCOMPARE(contents(keptAs), damagedBytes);
        QVERIFY(QFileInfo(keptAs).fileName().startsWith(u"trelvik.mdb.damaged-"_s));
        QVERIFY(!QFile::exists(path(u"trelvik.mdb-journal"_s))); // never rolled into the copy
        QCOMPARE(contents(path(u"trelvik.mdb"_s)), backupBytes);
        QCOMPARE(contents(path(u"backup.mdb"_s)), backupBytes);
        QCOMPARE(mode(path(u"trelvik.mdb"_s)), 0600);
        QVERIFY(m_f->db.CompactRuleDatabase() && m_f->db.OpenRuleDatabase());
        QVERIFY(m_f->db.IsInList(u"JOE@x.de"_s, kFilter) && m_f->db.IsInList(u"boss@work.example"_s, kExempted));
        QCOMPARE(contents(keptAs), damagedBytes);
        VERIFY_BOXES(m_f->boxes);
    }

    void rebuildKeepsTheHistoryOfTheBackup()
    {
        // Only the damaged file's history is unreadable; the backup's must
        // not go when the start-up compaction replaces the backup next.
        QVERIFY(testsupport::makeRuleDatabase(folder(), kRules, {u"boss@work.example"_s}));
        QVERIFY(QFile::copy(path(u"trelvik.mdb"_s), path(u"backup.mdb"_s)));
        QVERIFY(testsupport::damageTable(folder(), "tbdeleted"));
        const RuleDatabase::Salvage salvage = RuleDatabase::salvageRules(path(u"trelvik.mdb"_s));
        QVERIFY2(salvage.complete, qPrintable(salvage.reason));
        QString keptAs, error;
        qint64 kept = -1;
        QVERIFY2(m_f->db.rebuildFromRules(salvage, &keptAs, &error, &kept), qPrintable(error));
        QCOMPARE(kept, 1);
        QVERIFY(m_f->db.CompactRuleDatabase() && m_f->db.OpenRuleDatabase());
        const auto records = DeletionHistory(m_f->db).read(&error);
        QVERIFY2(records, qPrintable(error));
        QCOMPARE(records->size(), 1);
        QCOMPARE(records->constFirst().sender, u"old@spam.example"_s);
        QCOMPARE(readRules(path(u"backup.mdb"_s), kFilter), sorted(kRules));
        VERIFY_BOXES(m_f->boxes);
    }
};

QTEST_GUILESS_MAIN(TestRuleDatabase)
#include "tst_ruledatabase.moc"
