// The rule lists, the message lists' rule commands and the add dialog.
#include "MessageFolderModel.h"
#include "RuleCommands.h"
#include "RuleDatabase.h"
#include "RuleLists.h"
#include "TestSupport.h"
#include "frmRuleAdd.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTest>

using namespace Qt::StringLiterals;
using RuleCommands::Value;
using Kind = frmRuleAdd::Kind;

Q_DECLARE_METATYPE(RuleCommands::Value)
Q_DECLARE_METATYPE(frmRuleAdd::Kind)

namespace {
QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

QStringList texts(const QStandardItemModel *model)
{
    QStringList list;
    for (int row = 0; row < model->rowCount(); ++row)
        list.append(model->item(row)->text());
    return sorted(list);
}

void fill(MessageFolderModel &model, const QStringList &senders, int firstNumber = 1)
{
    for (const QString &sender : senders) {
        MessageEntry entry;
        entry.sender = sender;
        entry.number = firstNumber++;
        model.append(entry);
    }
}
} // namespace

class TestRuleLists : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::TempHome> m_home;
    std::unique_ptr<RuleDatabase> m_db;
    std::unique_ptr<RuleLists> m_lists;
    MessageFolderModel m_inbox, m_recycle;

    QStringList rules(const QString &table) const
    {
        return sorted(m_db->FillRules(table).value_or(QStringList{u"query failed"_s}));
    }

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<testsupport::TempHome>();
        m_db = std::make_unique<RuleDatabase>();
        QVERIFY(m_db->OpenRuleDatabase());
        m_lists = std::make_unique<RuleLists>(*m_db);
        m_inbox.clear();
        m_recycle.clear();
    }
    void cleanup()
    {
        m_lists.reset();
        m_db.reset();
        m_home.reset();
    }

    void deleteSelectedRows_data()
    {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("three selected") << QList<int>{0, 2, 4} << QStringList{u"b@x"_s, u"d@x"_s};
        QTest::newRow("none selected") << QList<int>{} << QStringList{u"a@x"_s, u"b@x"_s, u"c@x"_s, u"d@x"_s, u"e@x"_s};
    }
    void deleteSelectedRows()
    {
        QFETCH(QList<int>, selected);
        QFETCH(QStringList, left);
        for (const QString &value : {u"a@x"_s, u"b@x"_s, u"c@x"_s, u"d@x"_s, u"e@x"_s})
            m_lists->AddFilter(value);
        m_lists->fillFilterList();
        // The list's Delete walks from the last row to the first.
        for (int row = m_lists->filterModel()->rowCount() - 1; row >= 0; --row) {
            if (selected.contains(row))
                m_lists->DeleteFilter(m_lists->filterModel()->item(row)->text());
        }
        QCOMPARE(texts(m_lists->filterModel()), left);
        QCOMPARE(rules(u"tbfilter"_s), left);
    }

    void deleteWhileOtherListShown()
    {
        m_lists->AddFilter(u"spam@x.de"_s);
        m_lists->AddExempted(u"friend@x.de"_s);
        m_lists->AddExempted(u"spam@x.de"_s);
        m_lists->fillExemptedList();
        QCOMPARE(m_lists->filterModel()->rowCount(), 0);
        m_lists->DeleteFilter(u"SPAM@x.de"_s);
        QCOMPARE(rules(u"tbfilter"_s), QStringList());
        QCOMPARE(m_lists->filterModel()->rowCount(), 0);
        // The exempted list and table keep their own rule of that text.
        QCOMPARE(texts(m_lists->exemptedModel()), (QStringList{u"friend@x.de"_s, u"spam@x.de"_s}));
        QCOMPARE(rules(u"tbexempted"_s), (QStringList{u"friend@x.de"_s, u"spam@x.de"_s}));
    }

    void rowWithoutValue()
    {
        // Rows as an empty sender left them in an older database.
        QVERIFY(m_db->InsertRules(u"tbexempted"_s, {QString(), u"a@x.de"_s, QString()}));
        m_lists->fillExemptedList();
        QStandardItemModel *list = m_lists->exemptedModel();
        QCOMPARE(texts(list), (QStringList{QString(), QString(), u"a@x.de"_s}));
        const int row = list->item(0)->text().isEmpty() ? 0 : 1;
        QVERIFY(!list->item(row)->data(Qt::AccessibleTextRole).toString().isEmpty());
        m_lists->DeleteExempted(list->item(row)->text());
        QCOMPARE(rules(u"tbexempted"_s), QStringList{u"a@x.de"_s});
        QCOMPARE(list->rowCount(), 2);
        m_lists->fillExemptedList();
        QCOMPARE(texts(list), QStringList{u"a@x.de"_s});
    }

    void inboxAddToFilterRechecks_data()
    {
        QTest::addColumn<QStringList>("senders");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<Value>("value");
        QTest::addColumn<QStringList>("before");   // filter rule, exempted rule
        QTest::addColumn<QString>("added");
        QTest::addColumn<QList<int>>("moved");     // message numbers, last row first
        const QStringList none{QString(), QString()};
        QTest::newRow("three selected of one sender, one not, rows out of range")
            << QStringList{u"a@x.de"_s, u"b@y.de"_s, u"a@x.de"_s, u"A@X.DE"_s, u"a@x.de"_s}
            << QList<int>{0, 2, 4, 4, -1, 99} << Value::Sender << none << u"a@x.de"_s << QList<int>{5, 4, 3, 1};
        QTest::newRow("display name: the whole text is the rule")
            << QStringList{u"Joe <joe@x.de>"_s, u"joe@x.de"_s, u"JOE <joe@x.de>"_s} << QList<int>{0} << Value::Sender
            << none << u"Joe <joe@x.de>"_s << QList<int>{3, 1};
        QTest::newRow("encoded display name stored as sent")
            << QStringList{u"=?UTF-8?B?SsO2cmc=?= <j@x.de>"_s, u"Jörg <j@x.de>"_s} << QList<int>{0} << Value::Sender
            << none << u"=?UTF-8?B?SsO2cmc=?= <j@x.de>"_s << QList<int>{1};
        QTest::newRow("domain of a display-name sender")
            << QStringList{u"Joe <joe@x.de>"_s, u"ann@x.de"_s, u"bob@y.de"_s} << QList<int>{0} << Value::Domain
            << none << u"*@x.de"_s << QList<int>{2, 1};
        QTest::newRow("domain already in the filter list also moves")
            << QStringList{u"a@new.example"_s, u"b@old.example"_s, u"c@other.example"_s} << QList<int>{0}
            << Value::Domain << QStringList{u"*@old.example"_s, QString()} << u"*@new.example"_s << QList<int>{2, 1};
        QTest::newRow("exempted sender moves all the same")
            << QStringList{u"a@x.de"_s, u"b@x.de"_s} << QList<int>{0} << Value::Domain
            << QStringList{QString(), u"b@x.de"_s} << u"*@x.de"_s << QList<int>{2, 1};
        QTest::newRow("no @: every sender without one moves")
            << QStringList{u"nobody"_s, u""_s, u"c@x.de"_s, u"MAILER-DAEMON"_s} << QList<int>{0} << Value::Domain
            << none << u"*@"_s << QList<int>{4, 2, 1};
        QTest::newRow("two @: the text between them")
            << QStringList{u"a@b.com@c"_s, u"z@B.COM"_s, u"y@c"_s} << QList<int>{0} << Value::Domain << none
            << u"*@b.com"_s << QList<int>{2, 1};
    }
    void inboxAddToFilterRechecks()
    {
        QFETCH(QStringList, senders);
        QFETCH(QList<int>, selected);
        QFETCH(Value, value);
        QFETCH(QStringList, before);
        QFETCH(QString, added);
        QFETCH(QList<int>, moved);
        QVERIFY(before[0].isNull() || m_db->InsertRule(u"tbfilter"_s, before[0]));
        QVERIFY(before[1].isNull() || m_db->InsertRule(u"tbexempted"_s, before[1]));
        fill(m_inbox, senders);

        RuleCommands::addToFilter(m_inbox, selected, value, *m_lists);
        QCOMPARE(texts(m_lists->filterModel()), QStringList{added});
        QCOMPARE(rules(u"tbfilter"_s), sorted(QStringList{added, before[0]}.filter(u"@"_s)));
        QCOMPARE(rules(u"tbexempted"_s), QStringList{before[1]}.filter(u"@"_s));
        // The window moves the rows found, in the order given, to the Recycle Bin.
        QList<int> found;
        for (const int row : RuleCommands::rowsInFilterList(m_inbox, value, *m_db))
            found.append(m_inbox.takeAt(row).number);
        QCOMPARE(found, moved);
    }

    void recycleBinCommandsChangeOnlyRules_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<Value>("value");
        QTest::addColumn<QStringList>("filterAfter");
        QTest::addColumn<QStringList>("exemptedAfter");
        // Both senders selected; the filter list holds "ann@y.de" and "*@x.de".
        QTest::newRow("add domain to filter list")
            << u"add"_s << Value::Domain << QStringList{u"*@x.de"_s, u"*@y.de"_s, u"ann@y.de"_s} << QStringList{};
        QTest::newRow("remove sender from filter list")
            << u"remove"_s << Value::Sender << QStringList{u"*@x.de"_s} << QStringList{};
        QTest::newRow("remove domain from filter list")
            << u"remove"_s << Value::Domain << QStringList{u"ann@y.de"_s} << QStringList{};
        QTest::newRow("exempt sender") << u"exempt"_s << Value::Sender << QStringList{u"*@x.de"_s, u"ann@y.de"_s}
                                       << QStringList{u"Joe <joe@x.de>"_s, u"ann@y.de"_s};
    }
    void recycleBinCommandsChangeOnlyRules()
    {
        QFETCH(QString, command);
        QFETCH(Value, value);
        QFETCH(QStringList, filterAfter);
        QFETCH(QStringList, exemptedAfter);
        m_lists->AddFilter(u"ann@y.de"_s);
        m_lists->AddFilter(u"*@x.de"_s);
        fill(m_recycle, {u"Joe <joe@x.de>"_s, u"ann@y.de"_s});
        fill(m_inbox, {u"bob@x.de"_s}, 3);
        if (command == u"add"_s)
            RuleCommands::addToFilter(m_recycle, {0, 1}, value, *m_lists);
        else if (command == u"remove"_s)
            RuleCommands::removeFromFilter(m_recycle, {1, 0}, value, *m_lists);
        else
            RuleCommands::addToExempted(m_recycle, {0, 1}, *m_lists);
        QCOMPARE(rules(u"tbfilter"_s), filterAfter);
        QCOMPARE(rules(u"tbexempted"_s), exemptedAfter);
        QCOMPARE(texts(m_lists->filterModel()), filterAfter);
        QCOMPARE(m_recycle.count(), 2);
        QCOMPARE(m_inbox.count(), 1);
    }

    void emptySenderIsSkipped()
    {
        fill(m_inbox, {u""_s, u"a@x.de"_s, QString()});
        for (int attempt = 0; attempt < 2; ++attempt) {
            RuleCommands::addToFilter(m_inbox, {0, 1, 2}, Value::Sender, *m_lists);
            RuleCommands::addToExempted(m_inbox, {0, 1, 2}, *m_lists);
        }
        QCOMPARE(rules(u"tbfilter"_s), QStringList{u"a@x.de"_s});
        QCOMPARE(rules(u"tbexempted"_s), QStringList{u"a@x.de"_s});
        QCOMPARE(RuleCommands::rowsInFilterList(m_inbox, Value::Sender, *m_db), QList<int>{1});
        // A rule without a value from before goes with the empty sender's removal.
        QVERIFY(m_db->InsertRule(u"tbfilter"_s, QString()));
        RuleCommands::removeFromFilter(m_inbox, {0}, Value::Sender, *m_lists);
        QCOMPARE(rules(u"tbfilter"_s), QStringList{u"a@x.de"_s});
    }

    void addDialog_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QStringList>("typed");   // each followed by Add, or by Enter when it ends in "\n"
        QTest::addColumn<QStringList>("stored");
        QTest::newRow("filter: spaces trimmed, inner spaces kept") << Kind::Filter
            << QStringList{u"   joe@x.de  "_s, u" a  b@x.de "_s} << QStringList{u"a  b@x.de"_s, u"joe@x.de"_s};
        QTest::newRow("exempted: Enter adds, apostrophe as typed")
            << Kind::Exempted << QStringList{u"o'neil@x.ie\n"_s} << QStringList{u"o'neil@x.ie"_s};
        QTest::newRow("filter: case variants added once") << Kind::Filter
            << QStringList{u"Joe@X.de"_s, u"joe@x.DE"_s, u"ärger@x.de"_s, u"ÄRGER@x.de "_s}
            << QStringList{u"Joe@X.de"_s, u"ärger@x.de"_s};
        QTest::newRow("exempted: at most 320 characters")
            << Kind::Exempted << QStringList{QString(400, u'a')} << QStringList{QString(320, u'a')};
        QTest::newRow("exempted: only spaces refused") << Kind::Exempted << QStringList{u"     "_s} << QStringList{};
        QTest::newRow("filter: nothing refused by Enter") << Kind::Filter << QStringList{u"\n"_s} << QStringList{};
    }
    void addDialog()
    {
        QFETCH(Kind, kind);
        QFETCH(QStringList, typed);
        QFETCH(QStringList, stored);
        const bool filter = kind == Kind::Filter;
        testsupport::MessageBoxRecorder boxes;
        if (stored.isEmpty())
            boxes.expect(u"Invalid Entry"_s, u"Warning"_s, MessageBox::Icon::Exclamation);
        frmRuleAdd dialog(kind, *m_lists);
        dialog.show();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QCOMPARE(dialog.windowTitle(), filter ? u"Add Filter"_s : u"Add Exempted"_s);
        QCOMPARE(dialog.objectName(), filter ? u"frmFilterAdd"_s : u"frmExemptedAdd"_s);
        auto *txtEmail = dialog.findChild<QLineEdit *>(u"txtEmail"_s);
        QTRY_VERIFY(txtEmail->hasFocus());
        for (const QString &text : typed) {
            txtEmail->setText(text.endsWith(u'\n') ? text.chopped(1) : text);
            if (text.endsWith(u'\n'))
                QTest::keyClick(txtEmail, Qt::Key_Return);
            else
                QTest::mouseClick(dialog.findChild<QPushButton *>(u"cmdAdd"_s), Qt::LeftButton);
            // A value already there is not refused: the box is emptied all the same.
            QVERIFY(txtEmail->text().isEmpty());
        }
        VERIFY_BOXES(boxes);
        QCOMPARE(rules(filter ? u"tbfilter"_s : u"tbexempted"_s), stored);
        QCOMPARE(rules(filter ? u"tbexempted"_s : u"tbfilter"_s), QStringList());
        QCOMPARE(texts(filter ? m_lists->filterModel() : m_lists->exemptedModel()), stored);
        // The dialog stays open until Done or Escape; what is still typed is not added.
        txtEmail->setText(u"typed@x.de"_s);
        if (filter)
            QTest::mouseClick(dialog.findChild<QPushButton *>(u"cmdDone"_s), Qt::LeftButton);
        else
            QTest::keyClick(txtEmail, Qt::Key_Escape);
        QTRY_VERIFY(!dialog.isVisible());
        QCOMPARE(rules(filter ? u"tbfilter"_s : u"tbexempted"_s), stored);
    }
};

QTEST_MAIN(TestRuleLists)
#include "tst_rulelists.moc"
