#include "RuleConnection.h"
#include "RuleDatabase.h"
#include "RuleTestFiles.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
const QString kFilter = u"tbfilter"_s;
const QString kExempted = u"tbexempted"_s;
const QStringList kRules{u"joe@x.de"_s, u"ÄRGER@x.de"_s, u"o'neil@x.ie"_s, u"*@spam.example"_s};
const QStringList kOldRules{u"old@x.de"_s};

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}
} // namespace

class TestRuleCompaction : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void firstStartCreatesEmptyDatabase();
    void compactKeepsRulesAndMakesBackup_data();
    void compactKeepsRulesAndMakesBackup();
    void compactShrinksTheFile();
    void compactWhileOpenReopens();
    void halfDoneCompactionRecoversFromBackup();
    void journalsLeftByEndedRuns_data();
    void journalsLeftByEndedRuns();
    void unreadableDatabaseIsLeftAlone_data();
    void unreadableDatabaseIsLeftAlone();
    void unreadableBackupAloneIsLeftAlone();
    void failedStepKeepsDatabase_data();
    void failedStepKeepsDatabase();

private:
    QString dbPath() const { return m_home->appDataFolder() + u"/trelvik.mdb"_s; }
    QString backupPath() const { return m_home->appDataFolder() + u"/backup.mdb"_s; }
    void verifyRules(const QString &path, const QStringList &filter, const QStringList &exempted);
    void verifyNoLeftovers();

    std::unique_ptr<testsupport::TempHome> m_home;
    std::unique_ptr<testsupport::MessageBoxRecorder> m_boxes;
};

void TestRuleCompaction::init()
{
    m_home = std::make_unique<testsupport::TempHome>();
    QVERIFY(m_home->isValid());
    m_boxes = std::make_unique<testsupport::MessageBoxRecorder>();
}

void TestRuleCompaction::cleanup()
{
    m_boxes.reset();
    m_home.reset();
}

void TestRuleCompaction::verifyRules(const QString &path, const QStringList &filter, const QStringList &exempted)
{
    bool ok = false;
    QCOMPARE(ruletest::readRules(path, kFilter, &ok), sorted(filter));
    QVERIFY2(ok, qPrintable(path));
    QCOMPARE(ruletest::readRules(path, kExempted, &ok), sorted(exempted));
    QVERIFY2(ok, qPrintable(path));
}

void TestRuleCompaction::verifyNoLeftovers()
{
    const QStringList names = QDir(m_home->appDataFolder()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : names)
        QVERIFY2(name == u"trelvik.mdb"_s || name == u"backup.mdb"_s, qPrintable(name));
}

void TestRuleCompaction::firstStartCreatesEmptyDatabase()
{
    RuleDatabase db;
    QVERIFY(db.CompactRuleDatabase());
    VERIFY_BOXES(*m_boxes);
    QCOMPARE(ruletest::mode(m_home->appDataFolder()), 0700);
    QCOMPARE(ruletest::mode(dbPath()), 0600);
    QVERIFY(!QFile::exists(backupPath()));
    verifyNoLeftovers();
    QVERIFY(db.OpenRuleDatabase());
    QCOMPARE(db.FillRules(kFilter), std::optional<QStringList>(QStringList()));
    QCOMPARE(db.FillRules(kExempted), std::optional<QStringList>(QStringList()));
}

void TestRuleCompaction::compactKeepsRulesAndMakesBackup_data()
{
    QTest::addColumn<bool>("oldBackup");
    QTest::newRow("no backup yet") << false;
    QTest::newRow("earlier backup replaced") << true;
}

void TestRuleCompaction::compactKeepsRulesAndMakesBackup()
{
    QFETCH(bool, oldBackup);
    QVERIFY(QDir().mkpath(m_home->appDataFolder()));
    const QStringList exempted{u"ann@x.de"_s, QString()};
    QVERIFY(ruletest::writeProgramDatabase(dbPath(), kRules, exempted));
    if (oldBackup)
        QVERIFY(ruletest::writeProgramDatabase(backupPath(), kOldRules, {}));
    const QByteArray before = ruletest::contents(dbPath());

    RuleDatabase db;
    QVERIFY(db.CompactRuleDatabase());
    VERIFY_BOXES(*m_boxes);
    // The backup is the database exactly as it was before this start.
    QCOMPARE(ruletest::contents(backupPath()), before);
    verifyRules(dbPath(), kRules, exempted);
    QCOMPARE(ruletest::mode(dbPath()), 0600);
    QCOMPARE(ruletest::mode(backupPath()), 0600);
    verifyNoLeftovers();

    QVERIFY(db.OpenRuleDatabase());
    QVERIFY(db.IsInList(u"ärger@X.DE"_s, kFilter));
}

void TestRuleCompaction::compactShrinksTheFile()
{
    QVERIFY(QDir().mkpath(m_home->appDataFolder()));
    {
        RuleDatabase db;
        QVERIFY(db.OpenRuleDatabase());
        const QString padding = u"sender@padding-padding-padding.example"_s;
        QVERIFY(db.InsertRules(kFilter, QStringList(3000, padding)));
        QVERIFY(db.DeleteRule(kFilter, padding.toUpper()));
        QVERIFY(db.InsertRule(kFilter, u"kept@x.de"_s));
    }
    RuleDatabase db;
    QVERIFY(db.CompactRuleDatabase());
    VERIFY_BOXES(*m_boxes);
    QVERIFY2(QFileInfo(dbPath()).size() * 4 < QFileInfo(backupPath()).size(),
             qPrintable(u"%1 vs %2"_s.arg(QFileInfo(dbPath()).size()).arg(QFileInfo(backupPath()).size())));
    verifyRules(dbPath(), {u"kept@x.de"_s}, {});
}

void TestRuleCompaction::compactWhileOpenReopens()
{
    RuleDatabase db;
    QVERIFY(db.OpenRuleDatabase());
    QVERIFY(db.InsertRule(kFilter, u"joe@x.de"_s));
    QVERIFY(db.CompactRuleDatabase());
    QVERIFY(db.isOpen());
    QVERIFY(db.IsInList(u"JOE@x.de"_s, kFilter));
    QVERIFY(db.InsertRule(kFilter, u"ann@x.de"_s));
    db.CloseRuleDatabase();
    verifyRules(dbPath(), {u"joe@x.de"_s, u"ann@x.de"_s}, {});
}

void TestRuleCompaction::halfDoneCompactionRecoversFromBackup()
{
    QVERIFY(QDir().mkpath(m_home->appDataFolder()));
    QVERIFY(ruletest::writeProgramDatabase(backupPath(), kRules, {u"ann@x.de"_s}));
    const QByteArray backup = ruletest::contents(backupPath());
    // An interrupted export leaves its temporary file behind.
    QVERIFY(ruletest::writeContents(dbPath() + u".compact"_s, "half a file"));

    RuleDatabase db;
    QVERIFY(!db.OpenRuleDatabase());   // never a fresh database over the only copy
    QVERIFY(!QFile::exists(dbPath()));
    QVERIFY(db.CompactRuleDatabase());
    VERIFY_BOXES(*m_boxes);
    QCOMPARE(ruletest::contents(backupPath()), backup);
    verifyRules(dbPath(), kRules, {u"ann@x.de"_s});
    QCOMPARE(ruletest::mode(dbPath()), 0600);
    verifyNoLeftovers();
    QVERIFY(db.OpenRuleDatabase());
    QVERIFY(db.IsInList(u"JOE@x.de"_s, kFilter));
}

void TestRuleCompaction::journalsLeftByEndedRuns_data()
{
    QTest::addColumn<bool>("midTransaction");
    QTest::newRow("run ended without closing") << false;
    QTest::newRow("run ended inside a change") << true;
}

void TestRuleCompaction::journalsLeftByEndedRuns()
{
    QFETCH(bool, midTransaction);
    QTemporaryDir elsewhere;
    QVERIFY(QDir().mkpath(m_home->appDataFolder()));
    const QString original = elsewhere.path() + u"/trelvik.mdb"_s;
    QStringList rules = kRules;
    for (int i = 0; i < 3000; ++i)
        rules.append(u"bulk%1@x.de"_s.arg(i));
    QVERIFY(ruletest::writeProgramDatabase(original, rules, {}));
    {
        RuleDatabase running(elsewhere.path());
        QVERIFY(running.OpenRuleDatabase());
        QVERIFY(running.InsertRule(kFilter, u"committed@x.de"_s));
        rules.append(u"committed@x.de"_s);
        RuleConnection writer;
        if (midTransaction) {
            running.CloseRuleDatabase();
            QString error;
            // With a tiny cache the change overwrites pages of the file
            // before it commits, their old contents saved in the journal.
            QVERIFY2(writer.open(original, &error), qPrintable(error));
            QVERIFY(writer.exec("pragma cache_size = 1; begin; update tbfilter set email = upper(email);", &error));
        }
        // Copy the files as a run that ends here leaves them.
        QVERIFY(QFile::exists(original + u"-journal"_s));
        QVERIFY(QFile::copy(original, dbPath()));
        QVERIFY(QFile::copy(original + u"-journal"_s, dbPath() + u"-journal"_s));
    }

    RuleDatabase db;
    QVERIFY(db.CompactRuleDatabase());
    VERIFY_BOXES(*m_boxes);
    verifyNoLeftovers();
    verifyRules(dbPath(), rules, {});
    verifyRules(backupPath(), rules, {});
}

void TestRuleCompaction::unreadableDatabaseIsLeftAlone_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("withBackup");
    for (const bool withBackup : {false, true}) {
        const char *suffix = withBackup ? " with backup" : " without backup";
        QTest::addRow("garbage%s", suffix) << u"garbage"_s << withBackup;
        QTest::addRow("wrong key%s", suffix) << u"wrong key"_s << withBackup;
        QTest::addRow("unencrypted%s", suffix) << u"plain"_s << withBackup;
        QTest::addRow("empty file%s", suffix) << u"empty"_s << withBackup;
    }
}

void TestRuleCompaction::unreadableDatabaseIsLeftAlone()
{
    QFETCH(QString, kind);
    QFETCH(bool, withBackup);
    QVERIFY(QDir().mkpath(m_home->appDataFolder()));
    if (kind == u"garbage"_s)
        QVERIFY(ruletest::writeContents(dbPath(), QByteArray(8192, '\x5a')));
    else if (kind == u"wrong key"_s)
        QVERIFY(ruletest::writeForeignDatabase(dbPath(), "not the password"));
    else if (kind == u"plain"_s)
        QVERIFY(ruletest::writeForeignDatabase(dbPath(), QByteArray()));
    else
        QVERIFY(ruletest::writeContents(dbPath(), QByteArray()));
    if (withBackup)
        QVERIFY(ruletest::writeProgramDatabase(backupPath(), kRules, {}));
    const QByteArray database = ruletest::contents(dbPath());
    const QByteArray backup = ruletest::contents(backupPath());

    RuleDatabase db;
    const bool compacted = db.CompactRuleDatabase();
    if (kind == u"empty"_s) {
        // An empty file is an empty database: compacted like any other.
        QVERIFY(compacted);
        VERIFY_BOXES(*m_boxes);
        verifyRules(dbPath(), {}, {});
        return;
    }
    QVERIFY(!compacted);
    QCOMPARE(m_boxes->shown().size(), 1);
    QCOMPARE(m_boxes->shown().first().title, u"Error"_s);
    QCOMPARE(m_boxes->shown().first().icon, MessageBox::Icon::Critical);
    QVERIFY(!m_boxes->shown().first().text.isEmpty());
    // Nothing is lost: both files are as they were.
    QCOMPARE(ruletest::contents(dbPath()), database);
    QCOMPARE(ruletest::contents(backupPath()), backup);
    QCOMPARE(QFile::exists(backupPath()), withBackup);
    verifyNoLeftovers();

    QString error;
    QVERIFY(!db.OpenRuleDatabase(&error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(ruletest::contents(dbPath()), database);
}

void TestRuleCompaction::unreadableBackupAloneIsLeftAlone()
{
    QVERIFY(QDir().mkpath(m_home->appDataFolder()));
    QVERIFY(ruletest::writeForeignDatabase(backupPath(), "not the password"));
    const QByteArray backup = ruletest::contents(backupPath());
    RuleDatabase db;
    QVERIFY(!db.CompactRuleDatabase());
    QCOMPARE(m_boxes->shown().size(), 1);
    QString error;
    QVERIFY(!db.OpenRuleDatabase(&error));
    QVERIFY(error.contains(u"backup.mdb"_s));
    QCOMPARE(ruletest::contents(backupPath()), backup);
    QVERIFY(!QFile::exists(dbPath()));
}

void TestRuleCompaction::failedStepKeepsDatabase_data()
{
    // A folder in a file's place makes that step fail, even for root.
    QTest::addColumn<QString>("blocked");
    QTest::newRow("temporary file cannot be made") << u"trelvik.mdb.compact"_s;
    QTest::newRow("backup cannot be replaced") << u"backup.mdb"_s;
}

void TestRuleCompaction::failedStepKeepsDatabase()
{
    QFETCH(QString, blocked);
    QVERIFY(QDir().mkpath(m_home->appDataFolder() + u'/' + blocked + u"/occupied"_s));
    QVERIFY(ruletest::writeProgramDatabase(dbPath(), kRules, {}));
    const QByteArray before = ruletest::contents(dbPath());

    RuleDatabase db;
    QVERIFY(!db.CompactRuleDatabase());
    QCOMPARE(m_boxes->shown().size(), 1);
    QCOMPARE(m_boxes->shown().first().title, u"Error"_s);
    QCOMPARE(m_boxes->shown().first().icon, MessageBox::Icon::Critical);
    QCOMPARE(ruletest::contents(dbPath()), before);
    QVERIFY(db.OpenRuleDatabase());
    QVERIFY(db.IsInList(u"joe@x.de"_s, kFilter));
}

QTEST_GUILESS_MAIN(TestRuleCompaction)
#include "tst_rulecompaction.moc"
