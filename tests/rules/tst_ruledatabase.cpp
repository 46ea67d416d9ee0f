#include "RuleCollation.h"
#include "RuleDatabase.h"
#include "RuleTestFiles.h"
#include "TestSupport.h"

#include <QFile>
#include <QTest>
#include <algorithm>

using namespace Qt::StringLiterals;

class TestRuleDatabase : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void lookup_data();
    void lookup();
    void deleteRemovesEveryCaseVariant_data();
    void deleteRemovesEveryCaseVariant();
    void emptyValueIsNull();
    void valuesStoredAsTyped();
    void unknownTableRefused_data();
    void unknownTableRefused();
    void lookupOnClosedDatabaseThrows();
    void firstOpenCreatesPrivateKeyedFile();
    void rulesSurviveReopen();
    void collationIsConsistentOrder();

private:
    std::unique_ptr<testsupport::TempHome> m_home;
    std::unique_ptr<RuleDatabase> m_db;
};

void TestRuleDatabase::init()
{
    m_home = std::make_unique<testsupport::TempHome>();
    QVERIFY(m_home->isValid());
    m_db = std::make_unique<RuleDatabase>();
    QString error;
    QVERIFY2(m_db->OpenRuleDatabase(&error), qPrintable(error));
}

void TestRuleDatabase::cleanup()
{
    m_db.reset();
    m_home.reset();
}

void TestRuleDatabase::lookup_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("probe");
    QTest::addColumn<bool>("found");

    QTest::newRow("same text") << u"joe@example.com"_s << u"joe@example.com"_s << true;
    QTest::newRow("ASCII case") << u"Joe@Example.COM"_s << u"joe@example.com"_s << true;
    QTest::newRow("German umlaut") << u"ÄRGER@x.de"_s << u"ärger@x.de"_s << true;
    QTest::newRow("Greek") << u"ΑΘΗΝΑ@x.gr"_s << u"αθηνα@X.GR"_s << true;
    QTest::newRow("Cyrillic") << u"ПРИВЕТ@x.ru"_s << u"привет@x.ru"_s << true;
    QTest::newRow("mixed scripts after ASCII") << u"mail-ΣΟΦΙΑ@x"_s << u"MAIL-σοφια@x"_s << true;
    QTest::newRow("Kelvin sign folds to k") << u"\u212Aarl@x.de"_s << u"karl@x.de"_s << true;
    QTest::newRow("apostrophe") << u"o'neil@x.ie"_s << u"O'NEIL@x.ie"_s << true;
    QTest::newRow("accent is not case") << u"e@x.de"_s << u"é@x.de"_s << false;
    QTest::newRow("different letter") << u"ann@x.de"_s << u"anne@x.de"_s << false;
    QTest::newRow("longer probe") << u"joe@x.de"_s << u"joe@x.de.evil"_s << false;
    QTest::newRow("domain rule is not a pattern") << u"*@x.de"_s << u"joe@x.de"_s << false;
    QTest::newRow("display name is part of the value") << u"Joe <joe@x.de>"_s << u"joe@x.de"_s << false;
    QTest::newRow("SQL in the probe") << u"a@x.de"_s << u"x' or '1'='1"_s << false;
    QTest::newRow("wildcard in the probe") << u"a@x.de"_s << u"%"_s << false;
    QTest::newRow("empty probe") << u"a@x.de"_s << QString() << false;
}

void TestRuleDatabase::lookup()
{
    QFETCH(QString, stored);
    QFETCH(QString, probe);
    QFETCH(bool, found);
    QVERIFY(m_db->InsertRule(u"tbfilter"_s, stored));
    QCOMPARE(m_db->IsInList(probe, u"tbfilter"_s), found);
    QVERIFY(m_db->IsInList(stored, u"tbfilter"_s));
    // The two lists are apart.
    QVERIFY(!m_db->IsInList(stored, u"tbexempted"_s));
}

void TestRuleDatabase::deleteRemovesEveryCaseVariant_data()
{
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QString>("deleted");
    QTest::addColumn<QStringList>("left");

    QTest::newRow("ASCII") << QStringList{u"Joe@X.de"_s, u"joe@x.de"_s, u"JOE@X.DE"_s, u"ann@x.de"_s}
                           << u"jOe@x.De"_s << QStringList{u"ann@x.de"_s};
    QTest::newRow("German") << QStringList{u"ÄRGER@x.de"_s, u"ärger@x.de"_s, u"arger@x.de"_s}
                            << u"Ärger@X.DE"_s << QStringList{u"arger@x.de"_s};
    QTest::newRow("Cyrillic and Greek") << QStringList{u"ЖУК@x.ru"_s, u"жук@x.ru"_s, u"ΩΜΕΓΑ@x.gr"_s}
                                        << u"Жук@x.ru"_s << QStringList{u"ΩΜΕΓΑ@x.gr"_s};
    QTest::newRow("nothing stored matches") << QStringList{u"ann@x.de"_s} << u"bob@x.de"_s
                                            << QStringList{u"ann@x.de"_s};
    QTest::newRow("apostrophe") << QStringList{u"o'neil@x.ie"_s, u"oneil@x.ie"_s} << u"O'Neil@x.ie"_s
                                << QStringList{u"oneil@x.ie"_s};
}

void TestRuleDatabase::deleteRemovesEveryCaseVariant()
{
    QFETCH(QStringList, stored);
    QFETCH(QString, deleted);
    QFETCH(QStringList, left);
    for (const QString &value : stored) {
        QVERIFY(m_db->InsertRule(u"tbexempted"_s, value));
        QVERIFY(m_db->InsertRule(u"tbfilter"_s, value));
    }
    QVERIFY(m_db->DeleteRule(u"tbexempted"_s, deleted));
    QStringList rules = m_db->FillRules(u"tbexempted"_s).value_or(QStringList{u"query failed"_s});
    rules.sort();
    left.sort();
    QCOMPARE(rules, left);
    QVERIFY(!m_db->IsInList(deleted, u"tbexempted"_s));
    // The other table is untouched.
    QCOMPARE(m_db->FillRules(u"tbfilter"_s).value_or(QStringList()).size(), stored.size());
}

void TestRuleDatabase::emptyValueIsNull()
{
    QVERIFY(m_db->InsertRule(u"tbfilter"_s, u"a@x.de"_s));
    QVERIFY(m_db->InsertRule(u"tbfilter"_s, QString()));
    QVERIFY(m_db->InsertRule(u"tbfilter"_s, u""_s));

    QVERIFY(!m_db->IsInList(QString(), u"tbfilter"_s));
    QVERIFY(!m_db->IsInList(u""_s, u"tbfilter"_s));

    const std::optional<QStringList> rules = m_db->FillRules(u"tbfilter"_s);
    QVERIFY(rules.has_value());
    QCOMPARE(rules->size(), 3);
    QCOMPARE(std::count_if(rules->cbegin(), rules->cend(), [](const QString &v) { return v.isNull(); }), 2);

    // Deleting the empty value takes the NULL rows and nothing else.
    QVERIFY(m_db->DeleteRule(u"tbfilter"_s, QString()));
    QCOMPARE(m_db->FillRules(u"tbfilter"_s), std::optional<QStringList>(QStringList{u"a@x.de"_s}));
}

void TestRuleDatabase::valuesStoredAsTyped()
{
    const QStringList values{u"O'Neil@x.ie"_s, u"it''s@x"_s, u"semi;colon drop table tbfilter"_s,
                             u"  inner  spaces  "_s, u"bare"_s, u"*@"_s, u"ÄRGER@x.de"_s};
    for (const QString &value : values)
        QVERIFY(m_db->InsertRule(u"tbfilter"_s, value));
    QStringList rules = m_db->FillRules(u"tbfilter"_s).value_or(QStringList());
    QStringList expected = values;
    rules.sort();
    expected.sort();
    QCOMPARE(rules, expected);
}

void TestRuleDatabase::unknownTableRefused_data()
{
    QTest::addColumn<QString>("table");
    QTest::newRow("other table") << u"sqlite_master"_s;
    QTest::newRow("SQL after the name") << u"tbfilter where 1=1 --"_s;
    QTest::newRow("empty") << QString();
}

void TestRuleDatabase::unknownTableRefused()
{
    QFETCH(QString, table);
    QVERIFY_THROWS_EXCEPTION(RuleDatabaseError, m_db->IsInList(u"a@x.de"_s, table));
    QVERIFY(!m_db->InsertRule(table, u"a@x.de"_s));
    QVERIFY(!m_db->DeleteRule(table, u"a@x.de"_s));
    QVERIFY(!m_db->FillRules(table).has_value());
    QCOMPARE(m_db->FillRules(u"tbfilter"_s), std::optional<QStringList>(QStringList()));
}

void TestRuleDatabase::lookupOnClosedDatabaseThrows()
{
    m_db->CloseRuleDatabase();
    QVERIFY(!m_db->isOpen());
    QVERIFY_THROWS_EXCEPTION(RuleDatabaseError, m_db->IsInList(u"a@x.de"_s, u"tbfilter"_s));
    QVERIFY(!m_db->InsertRule(u"tbfilter"_s, u"a@x.de"_s));
    QVERIFY(!m_db->FillRules(u"tbfilter"_s).has_value());
}

void TestRuleDatabase::firstOpenCreatesPrivateKeyedFile()
{
    QCOMPARE(m_db->folder(), m_home->appDataFolder());
    QCOMPARE(ruletest::mode(m_home->appDataFolder()), 0700);
    QCOMPARE(ruletest::mode(m_db->databasePath()), 0600);
    QVERIFY(!QFile::exists(m_db->backupPath()));
    QCOMPARE(m_db->FillRules(u"tbfilter"_s), std::optional<QStringList>(QStringList()));
    QCOMPARE(m_db->FillRules(u"tbexempted"_s), std::optional<QStringList>(QStringList()));
    QVERIFY(m_db->InsertRule(u"tbfilter"_s, u"secret@x.de"_s));
    m_db->CloseRuleDatabase();
    // Encrypted: neither the plain header nor the stored text shows.
    const QByteArray bytes = ruletest::contents(m_db->databasePath());
    QVERIFY(!bytes.isEmpty());
    QVERIFY(!bytes.startsWith("SQLite format 3"));
    QVERIFY(!bytes.contains("secret@x.de"));
}

void TestRuleDatabase::rulesSurviveReopen()
{
    QVERIFY(m_db->InsertRule(u"tbfilter"_s, u"Joe@X.de"_s));
    QVERIFY(m_db->InsertRule(u"tbexempted"_s, u"ann@x.de"_s));
    m_db->CloseRuleDatabase();
    RuleDatabase again;
    QVERIFY(again.OpenRuleDatabase());
    QVERIFY(again.IsInList(u"joe@x.de"_s, u"tbfilter"_s));
    QVERIFY(again.IsInList(u"ANN@x.de"_s, u"tbexempted"_s));
}

// The index relies on the collation being one consistent total order that
// puts case variants together, whatever bytes a text holds.
void TestRuleDatabase::collationIsConsistentOrder()
{
    QList<QByteArray> samples;
    for (const QString &text : {u""_s, u"a"_s, u"A"_s, u"ab"_s, u"aB@x"_s, u"k"_s, u"\u212A"_s, u"K1"_s,
                                u"ärger"_s, u"ÄRGER"_s, u"arger"_s, u"zz"_s, u"Ω"_s, u"ω"_s, u"a\u00E9"_s,
                                u"aé!"_s, u"a~"_s, u"a\U0001F600"_s, u"a\uFFFD"_s, u"[x]"_s, u"_u"_s,
                                u"^c"_s, u"Zeta"_s, u"жук"_s, u"ЖУК"_s, u"ΣΑΣ"_s, u"σας"_s})
        samples.append(text.toUtf8());
    // Bytes no encoder makes: a cut sequence, a stray continuation byte.
    samples.append(QByteArray("a\xC3"));
    samples.append(QByteArray("a\x80" "b"));
    samples.append(QByteArray("\xFF"));

    const auto cmp = [](const QByteArray &a, const QByteArray &b) {
        const int r = RuleCollation::compareUtf8(a.constData(), int(a.size()), b.constData(), int(b.size()));
        return (r > 0) - (r < 0);
    };
    for (const QByteArray &a : samples) {
        QCOMPARE(cmp(a, a), 0);
        for (const QByteArray &b : samples) {
            QCOMPARE(cmp(a, b), -cmp(b, a));
            for (const QByteArray &c : samples) {
                if (cmp(a, b) <= 0 && cmp(b, c) <= 0)
                    QVERIFY2(cmp(a, c) <= 0, (a + " " + b + " " + c).constData());
            }
        }
    }
    const auto same = [](const QString &a, const QString &b) { return RuleCollation::sameRule(a, b); };
    QVERIFY(same(u"ÄRGER@x.de"_s, u"ärger@X.DE"_s));
    QVERIFY(same(u"ΣΑΣ"_s, u"σας"_s));   // final sigma is a small sigma
    QVERIFY(same(u"\u212A"_s, u"k"_s));
    QVERIFY(!same(u"a"_s, u"ab"_s));
    QVERIFY(!same(u"arger"_s, u"ärger"_s));
    QVERIFY(same(QString(), u""_s));
}

QTEST_GUILESS_MAIN(TestRuleDatabase)
#include "tst_ruledatabase.moc"
