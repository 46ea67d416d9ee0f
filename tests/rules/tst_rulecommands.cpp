#include "MessageFolderModel.h"
#include "RuleCommands.h"
#include "RuleDatabase.h"
#include "RuleLists.h"
#include "TestSupport.h"

#include <QStandardItemModel>
#include <QTest>

using namespace Qt::StringLiterals;
using RuleCommands::Value;

Q_DECLARE_METATYPE(RuleCommands::Value)

namespace {

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

QList<int> numbers(const MessageFolderModel &model)
{
    QList<int> list;
    for (int row = 0; row < model.count(); ++row)
        list.append(model.entry(row).number);
    return list;
}

} // namespace

class TestRuleCommands : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void inboxAddToFilterRechecks_data();
    void inboxAddToFilterRechecks();
    void recycleBinCommandsChangeOnlyRules_data();
    void recycleBinCommandsChangeOnlyRules();
    void emptySenderIsSkipped_data();
    void emptySenderIsSkipped();
    void hostileRowNumbersIgnored();
    void recheckWithClosedDatabaseMovesNothing();

private:
    void fill(MessageFolderModel &model, const QStringList &senders, const QString &iconKey);
    // What the main window does with the rows found: each goes to the
    // Recycle Bin, from the last to the first.
    void moveMatches(Value value);
    QStringList rules(const QString &table) const
    {
        return sorted(m_db->FillRules(table).value_or(QStringList{u"query failed"_s}));
    }

    std::unique_ptr<testsupport::TempHome> m_home;
    std::unique_ptr<RuleDatabase> m_db;
    std::unique_ptr<RuleLists> m_lists;
    std::unique_ptr<MessageFolderModel> m_inbox;
    std::unique_ptr<MessageFolderModel> m_recycle;
};

void TestRuleCommands::init()
{
    m_home = std::make_unique<testsupport::TempHome>();
    m_db = std::make_unique<RuleDatabase>();
    QVERIFY(m_db->OpenRuleDatabase());
    m_lists = std::make_unique<RuleLists>(*m_db);
    m_inbox = std::make_unique<MessageFolderModel>();
    m_recycle = std::make_unique<MessageFolderModel>();
}

void TestRuleCommands::cleanup()
{
    m_recycle.reset();
    m_inbox.reset();
    m_lists.reset();
    m_db.reset();
    m_home.reset();
}

void TestRuleCommands::fill(MessageFolderModel &model, const QStringList &senders, const QString &iconKey)
{
    for (const QString &sender : senders) {
        MessageEntry entry;
        entry.sender = sender;
        entry.subject = u"Subject "_s + sender;
        entry.number = model.count() + 1 + (iconKey == u"recycle"_s ? 100 : 0);
        entry.iconKey = iconKey;
        model.append(entry);
    }
}

void TestRuleCommands::moveMatches(Value value)
{
    for (const int row : RuleCommands::rowsInFilterList(*m_inbox, value, *m_db)) {
        MessageEntry entry = m_inbox->takeAt(row);
        entry.iconKey = u"recycle"_s;
        m_recycle->append(entry);
    }
}

void TestRuleCommands::inboxAddToFilterRechecks_data()
{
    QTest::addColumn<QStringList>("senders");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<Value>("value");
    QTest::addColumn<QStringList>("filterBefore");
    QTest::addColumn<QStringList>("exempted");
    QTest::addColumn<QStringList>("filterAfter");
    QTest::addColumn<QList<int>>("moved");   // message numbers, in the Recycle Bin's order

    QTest::newRow("three selected of one sender, one not selected")
        << QStringList{u"a@x.de"_s, u"b@y.de"_s, u"a@x.de"_s, u"A@X.DE"_s, u"a@x.de"_s} << QList<int>{0, 2, 4}
        << Value::Sender << QStringList{} << QStringList{} << QStringList{u"a@x.de"_s} << QList<int>{5, 4, 3, 1};
    QTest::newRow("display name: the whole text is the rule")
        << QStringList{u"Joe <joe@x.de>"_s, u"joe@x.de"_s, u"JOE <joe@x.de>"_s} << QList<int>{0} << Value::Sender
        << QStringList{} << QStringList{} << QStringList{u"Joe <joe@x.de>"_s} << QList<int>{3, 1};
    QTest::newRow("domain of a display-name sender")
        << QStringList{u"Joe <joe@x.de>"_s, u"ann@x.de"_s, u"bob@y.de"_s} << QList<int>{0} << Value::Domain
        << QStringList{} << QStringList{} << QStringList{u"*@x.de"_s} << QList<int>{2, 1};
    QTest::newRow("domain already in the filter list also moves")
        << QStringList{u"a@new.example"_s, u"b@old.example"_s, u"c@other.example"_s} << QList<int>{0}
        << Value::Domain << QStringList{u"*@old.example"_s} << QStringList{}
        << QStringList{u"*@new.example"_s, u"*@old.example"_s} << QList<int>{2, 1};
    QTest::newRow("exempted sender moves all the same")
        << QStringList{u"a@x.de"_s, u"b@x.de"_s} << QList<int>{0} << Value::Domain << QStringList{}
        << QStringList{u"b@x.de"_s} << QStringList{u"*@x.de"_s} << QList<int>{2, 1};
    QTest::newRow("no @: every sender without one moves")
        << QStringList{u"nobody"_s, u""_s, u"c@x.de"_s, u"MAILER-DAEMON"_s} << QList<int>{0} << Value::Domain
        << QStringList{} << QStringList{} << QStringList{u"*@"_s} << QList<int>{4, 2, 1};
    QTest::newRow("two @: the text between them")
        << QStringList{u"a@b.com@c"_s, u"z@B.COM"_s, u"y@c"_s} << QList<int>{0} << Value::Domain << QStringList{}
        << QStringList{} << QStringList{u"*@b.com"_s} << QList<int>{2, 1};
    QTest::newRow("two selected of one domain add one rule")
        << QStringList{u"a@x.de"_s, u"b@x.de"_s} << QList<int>{0, 1} << Value::Domain << QStringList{}
        << QStringList{} << QStringList{u"*@x.de"_s} << QList<int>{2, 1};
    QTest::newRow("nothing selected")
        << QStringList{u"a@x.de"_s} << QList<int>{} << Value::Sender << QStringList{} << QStringList{}
        << QStringList{} << QList<int>{};
    QTest::newRow("non-ASCII case")
        << QStringList{u"ärger@x.de"_s, u"ÄRGER@X.DE"_s, u"arger@x.de"_s} << QList<int>{0} << Value::Sender
        << QStringList{} << QStringList{} << QStringList{u"ärger@x.de"_s} << QList<int>{2, 1};
}

void TestRuleCommands::inboxAddToFilterRechecks()
{
    QFETCH(QStringList, senders);
    QFETCH(QList<int>, selected);
    QFETCH(Value, value);
    QFETCH(QStringList, filterBefore);
    QFETCH(QStringList, exempted);
    QFETCH(QStringList, filterAfter);
    QFETCH(QList<int>, moved);
    for (const QString &rule : filterBefore)
        QVERIFY(m_db->InsertRule(u"tbfilter"_s, rule));
    for (const QString &rule : exempted)
        QVERIFY(m_db->InsertRule(u"tbexempted"_s, rule));
    fill(*m_inbox, senders, u"inbox"_s);

    RuleCommands::addToFilter(*m_inbox, selected, value, *m_lists);
    QCOMPARE(rules(u"tbfilter"_s), sorted(filterAfter));
    moveMatches(value);

    QCOMPARE(numbers(*m_recycle), moved);
    QList<int> kept;
    for (int n = 1; n <= senders.size(); ++n) {
        if (!moved.contains(n))
            kept.append(n);
    }
    QCOMPARE(numbers(*m_inbox), kept);
    for (int row = 0; row < m_recycle->count(); ++row)
        QCOMPARE(m_recycle->entry(row).sender, senders.at(m_recycle->entry(row).number - 1));
    // Nothing else of the rules changes.
    QCOMPARE(rules(u"tbexempted"_s), sorted(exempted));
}

void TestRuleCommands::recycleBinCommandsChangeOnlyRules_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<Value>("value");
    QTest::addColumn<QStringList>("filterAfter");
    QTest::addColumn<QStringList>("exemptedAfter");

    // Recycle Bin senders: "Joe <joe@x.de>", "ann@y.de"; both selected.
    // Filter list before: "ann@y.de", "*@x.de".
    QTest::newRow("add sender to filter list")
        << u"addToFilter"_s << Value::Sender
        << QStringList{u"*@x.de"_s, u"Joe <joe@x.de>"_s, u"ann@y.de"_s} << QStringList{};
    QTest::newRow("add domain to filter list")
        << u"addToFilter"_s << Value::Domain << QStringList{u"*@x.de"_s, u"*@y.de"_s, u"ann@y.de"_s}
        << QStringList{};
    QTest::newRow("remove sender from filter list")
        << u"removeFromFilter"_s << Value::Sender << QStringList{u"*@x.de"_s} << QStringList{};
    QTest::newRow("remove domain from filter list")
        << u"removeFromFilter"_s << Value::Domain << QStringList{u"ann@y.de"_s} << QStringList{};
    QTest::newRow("exempt sender")
        << u"addToExempted"_s << Value::Sender << QStringList{u"*@x.de"_s, u"ann@y.de"_s}
        << QStringList{u"Joe <joe@x.de>"_s, u"ann@y.de"_s};
}

void TestRuleCommands::recycleBinCommandsChangeOnlyRules()
{
    QFETCH(QString, command);
    QFETCH(Value, value);
    QFETCH(QStringList, filterAfter);
    QFETCH(QStringList, exemptedAfter);
    m_lists->AddFilter(u"ann@y.de"_s);
    m_lists->AddFilter(u"*@x.de"_s);
    fill(*m_recycle, {u"Joe <joe@x.de>"_s, u"ann@y.de"_s}, u"recycle"_s);
    fill(*m_inbox, {u"bob@x.de"_s}, u"inbox"_s);
    const QList<int> inboxBefore = numbers(*m_inbox);
    const QList<int> recycleBefore = numbers(*m_recycle);

    if (command == u"addToFilter"_s)
        RuleCommands::addToFilter(*m_recycle, {0, 1}, value, *m_lists);
    else if (command == u"removeFromFilter"_s)
        RuleCommands::removeFromFilter(*m_recycle, {1, 0}, value, *m_lists);
    else
        RuleCommands::addToExempted(*m_recycle, {0, 1}, *m_lists);

    QCOMPARE(rules(u"tbfilter"_s), sorted(filterAfter));
    QCOMPARE(rules(u"tbexempted"_s), sorted(exemptedAfter));
    // The lists shown follow their tables.
    QStringList shown;
    for (int row = 0; row < m_lists->filterModel()->rowCount(); ++row)
        shown.append(m_lists->filterModel()->item(row)->text());
    QCOMPARE(sorted(shown), sorted(filterAfter));
    QCOMPARE(numbers(*m_inbox), inboxBefore);
    QCOMPARE(numbers(*m_recycle), recycleBefore);
}

void TestRuleCommands::emptySenderIsSkipped_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("add sender to filter list") << u"addToFilter"_s;
    QTest::newRow("exempt sender") << u"addToExempted"_s;
}

void TestRuleCommands::emptySenderIsSkipped()
{
    QFETCH(QString, command);
    fill(*m_inbox, {u""_s, u"a@x.de"_s, QString()}, u"inbox"_s);
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (command == u"addToFilter"_s)
            RuleCommands::addToFilter(*m_inbox, {0, 1, 2}, Value::Sender, *m_lists);
        else
            RuleCommands::addToExempted(*m_inbox, {0, 1, 2}, *m_lists);
    }
    const QString table = command == u"addToFilter"_s ? u"tbfilter"_s : u"tbexempted"_s;
    QCOMPARE(rules(table), QStringList{u"a@x.de"_s});
    moveMatches(Value::Sender);
    QCOMPARE(numbers(*m_recycle), command == u"addToFilter"_s ? QList<int>{2} : QList<int>{});

    // A rule without a value from before goes with the empty sender's removal.
    QVERIFY(m_db->InsertRule(u"tbfilter"_s, QString()));
    fill(*m_recycle, {QString()}, u"recycle"_s);
    RuleCommands::removeFromFilter(*m_recycle, {m_recycle->count() - 1}, Value::Sender, *m_lists);
    QVERIFY(!rules(u"tbfilter"_s).contains(QString()));
}

void TestRuleCommands::hostileRowNumbersIgnored()
{
    fill(*m_inbox, {u"a@x.de"_s, u"b@x.de"_s}, u"inbox"_s);
    RuleCommands::addToFilter(*m_inbox, {-1, 2, 99, 1, 1}, Value::Sender, *m_lists);
    RuleCommands::addToExempted(*m_inbox, {-5, 7}, *m_lists);
    QCOMPARE(rules(u"tbfilter"_s), QStringList{u"b@x.de"_s});
    QCOMPARE(rules(u"tbexempted"_s), QStringList{});
    QCOMPARE(m_lists->filterModel()->rowCount(), 1);
}

void TestRuleCommands::recheckWithClosedDatabaseMovesNothing()
{
    fill(*m_inbox, {u"a@x.de"_s}, u"inbox"_s);
    m_lists->AddFilter(u"a@x.de"_s);
    m_db->CloseRuleDatabase();
    QCOMPARE(RuleCommands::rowsInFilterList(*m_inbox, Value::Sender, *m_db), QList<int>{});
}

QTEST_GUILESS_MAIN(TestRuleCommands)
#include "tst_rulecommands.moc"
