#include "RuleDatabase.h"
#include "RuleLists.h"
#include "TestSupport.h"

#include <QIcon>
#include <QStandardItemModel>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QStringList texts(const QStandardItemModel *model)
{
    QStringList list;
    for (int row = 0; row < model->rowCount(); ++row)
        list.append(model->item(row)->text());
    return list;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

} // namespace

class TestRuleLists : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void add_data();
    void add();
    void fillClearsBothAndShowsTable();
    void deleteSelectedRows_data();
    void deleteSelectedRows();
    void deleteWhileOtherListShown();
    void deleteCaseVariantsRemovesOneRow();
    void rowWithoutValue();
    void refusedStatementsLeaveListsAlone();

private:
    QStandardItemModel *model(bool filter) const { return filter ? m_lists->filterModel() : m_lists->exemptedModel(); }

    std::unique_ptr<testsupport::TempHome> m_home;
    std::unique_ptr<RuleDatabase> m_db;
    std::unique_ptr<RuleLists> m_lists;
    QStringList m_iconKeys;
};

void TestRuleLists::init()
{
    m_home = std::make_unique<testsupport::TempHome>();
    m_db = std::make_unique<RuleDatabase>();
    QVERIFY(m_db->OpenRuleDatabase());
    m_lists = std::make_unique<RuleLists>(*m_db);
    m_iconKeys.clear();
    m_lists->setIconLookup([this](const QString &key) {
        m_iconKeys.append(key);
        return QIcon();
    });
}

void TestRuleLists::cleanup()
{
    m_lists.reset();
    m_db.reset();
    m_home.reset();
}

void TestRuleLists::add_data()
{
    QTest::addColumn<bool>("filter");
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("rows");

    for (const bool filter : {true, false}) {
        const char *list = filter ? "filter" : "exempted";
        QTest::addRow("%s: case variants added once", list)
            << filter << QStringList{u"Joe@X.de"_s, u"joe@x.DE"_s, u"JOE@X.DE"_s} << QStringList{u"Joe@X.de"_s};
        QTest::addRow("%s: umlaut variants added once", list)
            << filter << QStringList{u"ÄRGER@x.de"_s, u"ärger@x.de"_s} << QStringList{u"ÄRGER@x.de"_s};
        QTest::addRow("%s: apostrophe as typed", list)
            << filter << QStringList{u"o'neil@x.ie"_s} << QStringList{u"o'neil@x.ie"_s};
        QTest::addRow("%s: inner spaces, bare word, domain", list)
            << filter << QStringList{u"a b@x.de"_s, u"spammer"_s, u"*@x.de"_s}
            << QStringList{u"a b@x.de"_s, u"spammer"_s, u"*@x.de"_s};
        QTest::addRow("%s: domain rule is not the address", list)
            << filter << QStringList{u"*@x.de"_s, u"joe@x.de"_s} << QStringList{u"*@x.de"_s, u"joe@x.de"_s};
    }
}

void TestRuleLists::add()
{
    QFETCH(bool, filter);
    QFETCH(QStringList, added);
    QFETCH(QStringList, rows);
    const QString table = filter ? u"tbfilter"_s : u"tbexempted"_s;
    const QString other = filter ? u"tbexempted"_s : u"tbfilter"_s;
    const QString iconKey = filter ? u"filter"_s : u"exempted"_s;
    for (const QString &value : added) {
        if (filter)
            m_lists->AddFilter(value);
        else
            m_lists->AddExempted(value);
    }
    QCOMPARE(texts(model(filter)), rows);
    QCOMPARE(sorted(m_db->FillRules(table).value_or(QStringList())), sorted(rows));
    QCOMPARE(m_db->FillRules(other), std::optional<QStringList>(QStringList()));
    QCOMPARE(model(!filter)->rowCount(), 0);
    for (int row = 0; row < model(filter)->rowCount(); ++row)
        QCOMPARE(model(filter)->item(row)->data(RuleLists::IconKeyRole).toString(), iconKey);
    QCOMPARE(m_iconKeys, QStringList(rows.size(), iconKey));
}

void TestRuleLists::fillClearsBothAndShowsTable()
{
    QCOMPARE(m_lists->filterModel()->headerData(0, Qt::Horizontal).toString(), u"Email Address"_s);
    QCOMPARE(m_lists->exemptedModel()->headerData(0, Qt::Horizontal).toString(), u"Email Address"_s);
    QVERIFY(m_db->InsertRule(u"tbfilter"_s, u"b@x.de"_s));
    QVERIFY(m_db->InsertRule(u"tbfilter"_s, u"a@x.de"_s));
    m_lists->AddExempted(u"friend@x.de"_s);

    m_lists->fillFilterList();
    QCOMPARE(texts(m_lists->filterModel()), m_db->FillRules(u"tbfilter"_s).value());
    QCOMPARE(m_lists->exemptedModel()->rowCount(), 0);

    m_lists->fillExemptedList();
    QCOMPARE(texts(m_lists->exemptedModel()), QStringList{u"friend@x.de"_s});
    QCOMPARE(m_lists->filterModel()->rowCount(), 0);
    QCOMPARE(m_lists->exemptedModel()->item(0)->data(RuleLists::IconKeyRole).toString(), u"exempted"_s);
}

void TestRuleLists::deleteSelectedRows_data()
{
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("three selected") << QList<int>{0, 2, 4} << QStringList{u"b@x"_s, u"d@x"_s};
    QTest::newRow("none selected") << QList<int>{} << QStringList{u"a@x"_s, u"b@x"_s, u"c@x"_s, u"d@x"_s, u"e@x"_s};
    QTest::newRow("every row") << QList<int>{0, 1, 2, 3, 4} << QStringList{};
}

void TestRuleLists::deleteSelectedRows()
{
    QFETCH(QList<int>, selected);
    QFETCH(QStringList, left);
    for (const QString &value : {u"a@x"_s, u"b@x"_s, u"c@x"_s, u"d@x"_s, u"e@x"_s})
        m_lists->AddFilter(value);
    m_lists->fillFilterList();
    // The list's Delete walks from the last row to the first.
    const int n = m_lists->filterModel()->rowCount();
    for (int row = n - 1; row >= 0; --row) {
        if (selected.contains(row))
            m_lists->DeleteFilter(m_lists->filterModel()->item(row)->text());
    }
    QCOMPARE(sorted(texts(m_lists->filterModel())), left);
    QCOMPARE(sorted(m_db->FillRules(u"tbfilter"_s).value_or(QStringList{u"failed"_s})), left);
}

void TestRuleLists::deleteWhileOtherListShown()
{
    m_lists->AddFilter(u"spam@x.de"_s);
    m_lists->AddExempted(u"friend@x.de"_s);
    m_lists->AddExempted(u"spam@x.de"_s);
    m_lists->fillExemptedList();
    QCOMPARE(m_lists->filterModel()->rowCount(), 0);

    m_lists->DeleteFilter(u"SPAM@x.de"_s);
    QVERIFY(!m_db->IsInList(u"spam@x.de"_s, u"tbfilter"_s));
    QCOMPARE(m_lists->filterModel()->rowCount(), 0);
    // The exempted list and table keep their own rule of that text.
    QCOMPARE(texts(m_lists->exemptedModel()), (QStringList{u"friend@x.de"_s, u"spam@x.de"_s}));
    QVERIFY(m_db->IsInList(u"spam@x.de"_s, u"tbexempted"_s));
}

void TestRuleLists::deleteCaseVariantsRemovesOneRow()
{
    QVERIFY(m_db->InsertRule(u"tbfilter"_s, u"Жук@x.ru"_s));
    QVERIFY(m_db->InsertRule(u"tbfilter"_s, u"ЖУК@x.ru"_s));
    m_lists->fillFilterList();
    QCOMPARE(m_lists->filterModel()->rowCount(), 2);
    m_lists->DeleteFilter(u"жук@X.RU"_s);
    QCOMPARE(m_db->FillRules(u"tbfilter"_s), std::optional<QStringList>(QStringList()));
    QCOMPARE(m_lists->filterModel()->rowCount(), 1);
    // The row left over deletes nothing more and goes.
    m_lists->DeleteFilter(m_lists->filterModel()->item(0)->text());
    QCOMPARE(m_lists->filterModel()->rowCount(), 0);
}

void TestRuleLists::rowWithoutValue()
{
    // Rows as an empty sender left them in an older database.
    QVERIFY(m_db->InsertRule(u"tbexempted"_s, QString()));
    QVERIFY(m_db->InsertRule(u"tbexempted"_s, u"a@x.de"_s));
    QVERIFY(m_db->InsertRule(u"tbexempted"_s, QString()));
    m_lists->fillExemptedList();
    QStandardItemModel *list = m_lists->exemptedModel();
    QCOMPARE(list->rowCount(), 3);
    int emptyRow = -1;
    for (int row = 0; row < list->rowCount(); ++row) {
        if (list->item(row)->text().isEmpty()) {
            emptyRow = row;
            QCOMPARE(list->item(row)->data(RuleLists::IconKeyRole).toString(), u"exempted"_s);
            QVERIFY(!list->item(row)->data(Qt::AccessibleTextRole).toString().isEmpty());
        }
    }
    QVERIFY(emptyRow >= 0);

    m_lists->DeleteExempted(list->item(emptyRow)->text());
    QCOMPARE(m_db->FillRules(u"tbexempted"_s), std::optional<QStringList>(QStringList{u"a@x.de"_s}));
    QCOMPARE(list->rowCount(), 2);
    QVERIFY(texts(list).contains(u"a@x.de"_s));
    m_lists->fillExemptedList();
    QCOMPARE(texts(list), QStringList{u"a@x.de"_s});
}

void TestRuleLists::refusedStatementsLeaveListsAlone()
{
    m_lists->AddFilter(u"kept@x.de"_s);
    m_db->CloseRuleDatabase();
    m_lists->AddFilter(u"new@x.de"_s);
    m_lists->AddExempted(u"new@x.de"_s);
    m_lists->DeleteFilter(u"kept@x.de"_s);
    QCOMPARE(texts(m_lists->filterModel()), QStringList{u"kept@x.de"_s});
    QCOMPARE(m_lists->exemptedModel()->rowCount(), 0);
    // A fill that fails shows an empty list.
    m_lists->fillFilterList();
    QCOMPARE(m_lists->filterModel()->rowCount(), 0);
}

QTEST_GUILESS_MAIN(TestRuleLists)
#include "tst_rulelists.moc"
