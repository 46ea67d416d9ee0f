// The rule lists, the message lists' rule commands and the add dialog.
#include "MessageFolderModel.h"
#include "RuleClassifier.h"
#include "RuleCommands.h"
#include "RuleConnection.h"
#include "RuleDatabase.h"
#include "RuleLists.h"
#include "TestSupport.h"
#include "frmRuleAdd.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTest>
#include <optional>

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

void fill(MessageFolderModel &model, const QStringList &senders)
{
    for (const QString &sender : senders) {
        MessageEntry entry;
        entry.sender = sender;
        entry.number = model.count() + 1;
        model.append(entry);
    }
}
} // namespace

class TestRuleLists : public QObject {
    Q_OBJECT
    struct Fixture {
        testsupport::TempHome home;
        RuleDatabase db; // in the private home
        RuleLists lists{db};
        MessageFolderModel inbox;
    };
    std::optional<Fixture> m_f;

    QStringList rules(const QString &table) const
    {
        return sorted(m_f->db.FillRules(table).value_or(QStringList{u"query failed"_s}));
    }

private Q_SLOTS:
    void init() { QVERIFY(m_f.emplace().db.OpenRuleDatabase()); }
    void cleanup() { m_f.reset(); }

    void deleteRules()
    {
        for (const QString &value : {u"a@x"_s, u"b@x"_s, u"c@x"_s, u"d@x"_s, u"e@x"_s})
            m_f->lists.AddFilter(value);
        // Rows without a value, as an empty sender left them in an older database.
        QVERIFY(m_f->db.InsertRules(u"tbexempted"_s, {QString(), u"C@X"_s, QString()}));
        m_f->lists.fillFilterList();
        // Three rows selected; the list's Delete walks from the last to the first.
        for (const int row : {4, 2, 0})
            m_f->lists.DeleteFilter(m_f->lists.filterModel()->item(row)->text());
        QCOMPARE(texts(m_f->lists.filterModel()), (QStringList{u"b@x"_s, u"d@x"_s}));
        QCOMPARE(rules(u"tbfilter"_s), (QStringList{u"b@x"_s, u"d@x"_s}));
        // While the other list is shown; that list keeps its own rule of the text.
        m_f->lists.fillExemptedList();
        m_f->lists.DeleteFilter(u"B@X"_s);
        QCOMPARE(rules(u"tbfilter"_s), QStringList{u"d@x"_s});
        QCOMPARE(m_f->lists.filterModel()->rowCount(), 0);
        QStandardItemModel *list = m_f->lists.exemptedModel();
        QCOMPARE(texts(list), (QStringList{QString(), QString(), u"C@X"_s}));
        // A row without a value is shown, and deleted with every such rule.
        const int row = list->item(0)->text().isEmpty() ? 0 : 1;
        QVERIFY(!list->item(row)->data(Qt::AccessibleTextRole).toString().isEmpty());
        m_f->lists.DeleteExempted(list->item(row)->text());
        QCOMPARE(rules(u"tbexempted"_s), QStringList{u"C@X"_s});
        QCOMPARE(list->rowCount(), 2);
    }

    void inboxAddToFilterRechecks_data()
    {
        QTest::addColumn<QStringList>("senders");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<Value>("value");
        QTest::addColumn<QString>("added");
        QTest::addColumn<QList<int>>("moved"); // message numbers, last row first
        QTest::newRow("three selected of one sender, one not, rows out of range")
            << QStringList{u"a@x.de"_s, u"b@y.de"_s, u"a@x.de"_s, u"A@X.DE"_s, u"a@x.de"_s}
            << QList<int>{0, 2, 4, 4, -1, 99} << Value::Sender << u"a@x.de"_s << QList<int>{5, 4, 3, 1};
        QTest::newRow("display name: the address is the rule, any name matches")
            << QStringList{u"Joe <joe@x.de>"_s, u"joe@x.de"_s, u"JOE (work) <joe@x.de>"_s} << QList<int>{0}
            << Value::Sender << u"joe@x.de"_s << QList<int>{3, 2, 1};
        QTest::newRow("encoded display name: the address is the rule")
            << QStringList{u"=?UTF-8?B?SsO2cmc=?= <j@x.de>"_s, u"Jörg <j@x.de>"_s} << QList<int>{0} << Value::Sender
            << u"j@x.de"_s << QList<int>{2, 1};
        QTest::newRow("fake address in the display name: the real one is the rule")
            << QStringList{u"\"support@bank.example\" <win@spam.example>"_s, u"support@bank.example"_s} << QList<int>{0}
            << Value::Domain << u"*@spam.example"_s << QList<int>{1};
        QTest::newRow("no address: the whole From value is the rule")
            << QStringList{u"Ines Duarte (Legal)"_s, u"ines@x.de"_s} << QList<int>{0} << Value::Sender
            << u"Ines Duarte (Legal)"_s << QList<int>{1};
        QTest::newRow("domain of a display-name sender")
            << QStringList{u"Joe <joe@x.de>"_s, u"ann@x.de"_s, u"bob@y.de"_s} << QList<int>{0} << Value::Domain
            << u"*@x.de"_s << QList<int>{2, 1};
        QTest::newRow("domain already in the filter list also moves")
            << QStringList{u"a@new.example"_s, u"b@old.example"_s, u"c@other.example"_s} << QList<int>{0}
            << Value::Domain << u"*@new.example"_s << QList<int>{2, 1};
        QTest::newRow("an exempted sender stays") << QStringList{u"a@x.de"_s, u"Bee <b@x.de>"_s} << QList<int>{0}
                                                  << Value::Domain << u"*@x.de"_s << QList<int>{1};
    }
    void inboxAddToFilterRechecks()
    {
        QFETCH(QStringList, senders);
        QFETCH(QList<int>, selected);
        QFETCH(Value, value);
        QFETCH(QString, added);
        QFETCH(QList<int>, moved);
        // A domain already in the filter list, an exempted sender.
        QVERIFY(m_f->db.InsertRule(u"tbfilter"_s, u"*@old.example"_s)
                && m_f->db.InsertRule(u"tbexempted"_s, u"b@x.de"_s));
        fill(m_f->inbox, senders);

        RuleCommands::addToFilter(m_f->inbox, selected, value, m_f->lists);
        QCOMPARE(texts(m_f->lists.filterModel()), QStringList{added});
        QCOMPARE(rules(u"tbfilter"_s), sorted({added, u"*@old.example"_s}));
        QCOMPARE(rules(u"tbexempted"_s), QStringList{u"b@x.de"_s});
        // The window moves the rows found, in the order given, to the Recycle Bin.
        QList<int> found;
        const RuleClassifier classifier = RuleClassifier::fromDatabase(m_f->db);
        for (const auto &[row, reason] : RuleCommands::rowsToRecycleBin(m_f->inbox, classifier)) {
            QCOMPARE(reason.kind, SortReason::Kind::Filter);
            found.append(m_f->inbox.takeAt(row).number);
        }
        QCOMPARE(found, moved);
    }

    // A sender the program cannot read with certainty makes no rule, and
    // the command says why; the other selected rows still make theirs.
    void addCommandsRefuse_data()
    {
        QTest::addColumn<QString>("sender");
        QTest::addColumn<Value>("value");
        QTest::addColumn<bool>("exempt");
        QTest::addColumn<QString>("reason");
        const QString noDomain = u"it holds no address with a domain"_s;
        QTest::newRow("domain of a sender without address") << u"nobody"_s << Value::Domain << false << noDomain;
        QTest::newRow("domain of a name in angle brackets") << u"Info <info>"_s << Value::Domain << false << noDomain;
        const QString twoAts = u"holds more than one \"@\""_s;
        QTest::newRow("domain of two @") << u"a@bank.example@spam.example"_s << Value::Domain << false << twoAts;
        QTest::newRow("sender of two @ in angle brackets")
            << u"Bank <a@bank.example@spam.example>"_s << Value::Sender << false << twoAts;
        QTest::newRow("exempting two @") << u"a@bank.example@spam.example"_s << Value::Sender << true << twoAts;
        QTest::newRow("whole From value over 998 characters")
            << QString(1200, u'x') << Value::Sender << false << u"longer than 998 characters"_s;
    }
    void addCommandsRefuse()
    {
        QFETCH(QString, sender);
        QFETCH(Value, value);
        QFETCH(bool, exempt);
        QFETCH(QString, reason);
        fill(m_f->inbox, {sender, u"ok@x.de"_s});
        testsupport::MessageBoxRecorder boxes;
        if (exempt)
            RuleCommands::addToExempted(m_f->inbox, {0, 1}, m_f->lists);
        else
            RuleCommands::addToFilter(m_f->inbox, {0, 1}, value, m_f->lists);
        const QString made = value == Value::Domain ? u"*@x.de"_s : u"ok@x.de"_s;
        QCOMPARE(rules(exempt ? u"tbexempted"_s : u"tbfilter"_s), QStringList{made});
        QCOMPARE(rules(exempt ? u"tbfilter"_s : u"tbexempted"_s), QStringList{});
        QCOMPARE(boxes.shown().size(), 1);
        const QString text = boxes.shown().front().text;
        QVERIFY2(text.contains(reason) && text.contains(sender.left(200)), qPrintable(text));
    }

    void recycleBinCommandsChangeOnlyRules()
    {
        m_f->lists.AddFilter(u"ann@y.de"_s);
        m_f->lists.AddFilter(u"*@x.de"_s);
        MessageFolderModel bin; // both rows selected at each step
        fill(bin, {u"Joe <joe@x.de>"_s, u"ann@y.de"_s});
        const auto verifyFilter = [&](const QStringList &expected) {
            QCOMPARE(rules(u"tbfilter"_s), expected);
            QCOMPARE(texts(m_f->lists.filterModel()), expected);
        };
        RuleCommands::addToFilter(bin, {0, 1}, Value::Domain, m_f->lists);
        verifyFilter({u"*@x.de"_s, u"*@y.de"_s, u"ann@y.de"_s});
        RuleCommands::removeFromFilter(bin, {1, 0}, Value::Domain, m_f->lists);
        verifyFilter({u"ann@y.de"_s});
        RuleCommands::addToExempted(bin, {0, 1}, m_f->lists);
        QCOMPARE(rules(u"tbexempted"_s), (QStringList{u"ann@y.de"_s, u"joe@x.de"_s}));
        // Removing a sender takes its address and its whole From value, as
        // earlier versions stored it.
        QVERIFY(m_f->db.InsertRule(u"tbfilter"_s, u"JOE <joe@x.de>"_s));
        m_f->lists.AddFilter(u"joe@x.de"_s);
        RuleCommands::removeFromFilter(bin, {0, 1}, Value::Sender, m_f->lists);
        verifyFilter({});
    }

    void emptySenderIsSkipped()
    {
        fill(m_f->inbox, {u""_s, u"a@x.de"_s, QString()});
        for (int attempt = 0; attempt < 2; ++attempt) {
            RuleCommands::addToFilter(m_f->inbox, {0, 1, 2}, Value::Sender, m_f->lists);
            RuleCommands::addToExempted(m_f->inbox, {0, 1, 2}, m_f->lists);
        }
        QCOMPARE(rules(u"tbfilter"_s), QStringList{u"a@x.de"_s});
        QCOMPARE(rules(u"tbexempted"_s), QStringList{u"a@x.de"_s});
        m_f->lists.DeleteExempted(u"a@x.de"_s);
        const auto caught = RuleCommands::rowsToRecycleBin(m_f->inbox, RuleClassifier::fromDatabase(m_f->db));
        QCOMPARE(caught.size(), 1);
        QCOMPARE(caught.front().first, 1);
        // A rule without a value from before goes with the empty sender's removal.
        QVERIFY(m_f->db.InsertRule(u"tbfilter"_s, QString()));
        RuleCommands::removeFromFilter(m_f->inbox, {0}, Value::Sender, m_f->lists);
        QCOMPARE(rules(u"tbfilter"_s), QStringList{u"a@x.de"_s});
    }

    // A rule made where the learning had put a row already takes the row
    // over (it then teaches as the rule's rows do); rows the user or no
    // rule sorted keep what they say.
    void learnedRowsTakeTheRuleThatNamesThem()
    {
        MessageFolderModel bin;
        fill(bin, {u"a@x.de"_s, u"b@x.de"_s, u"c@y.de"_s});
        fill(m_f->inbox, {u"d@x.de"_s, u"e@z.de"_s});
        const SortReason learned = SortReason::learned(SortReason::Verdict::Spam, 99, {});
        for (int row : {0, 2})
            bin.setSortReason(row, learned);
        bin.setSortReason(1, {SortReason::Kind::ByHand, {}});
        m_f->inbox.setSortReason(1, SortReason::learned(SortReason::Verdict::Unsure, 60, {}));
        QVERIFY(m_f->db.InsertRule(u"tbfilter"_s, u"*@x.de"_s) && m_f->db.InsertRule(u"tbexempted"_s, u"e@z.de"_s));
        const RuleClassifier rules = RuleClassifier::fromDatabase(m_f->db);
        const auto ruled = RuleCommands::learnedRowsNowRuled(bin, rules, true);
        QCOMPARE(ruled.size(), 1);
        QCOMPARE(ruled.front().first, 0);
        QCOMPARE(ruled.front().second.kind, SortReason::Kind::Filter);
        QCOMPARE(ruled.front().second.rule, u"*@x.de"_s);
        const auto kept = RuleCommands::learnedRowsNowRuled(m_f->inbox, rules, false);
        QCOMPARE(kept.size(), 1);
        QCOMPARE(kept.front().second.kind, SortReason::Kind::Exempted);
        bin.setSortReason(0, ruled.front().second);
        QCOMPARE(bin.entry(0).sortReason.kind, SortReason::Kind::Filter);
    }

    // The database refuses a change (as a full disk or a file made
    // read-only under the running program would): the user is told, and the
    // list shows what the database holds.
    void refusedRuleWriteShowsBox()
    {
        QVERIFY(m_f->db.InsertRule(u"tbfilter"_s, u"kept@x.de"_s));
        m_f->lists.fillFilterList();
        m_f->db.CloseRuleDatabase();
        {
            RuleConnection connection;
            QString error;
            QVERIFY2(connection.open(m_f->db.databasePath(), &error)
                         && connection.exec("create trigger refuse_insert before insert on tbfilter begin "
                                            "select raise(abort, 'disk is full'); end;"
                                            "create trigger refuse_delete before delete on tbfilter begin "
                                            "select raise(abort, 'disk is full'); end;",
                                            &error),
                     qPrintable(error));
        }
        QVERIFY(m_f->db.OpenRuleDatabase());
        testsupport::MessageBoxRecorder boxes;
        m_f->lists.AddFilter(u"new@spam.example"_s);
        m_f->lists.DeleteFilter(u"kept@x.de"_s);
        QCOMPARE(texts(m_f->lists.filterModel()), QStringList{u"kept@x.de"_s});
        QCOMPARE(rules(u"tbfilter"_s), QStringList{u"kept@x.de"_s});
        QCOMPARE(boxes.shown().size(), 2);
        for (const auto &[box, rule] :
             {std::pair{boxes.shown().at(0), u"new@spam.example"_s}, std::pair{boxes.shown().at(1), u"kept@x.de"_s}}) {
            QCOMPARE(box.icon, MessageBox::Icon::Critical);
            QVERIFY2(box.text.contains(rule) && box.text.contains(u"disk is full"_s), qPrintable(box.text));
        }
    }

    void addDialog_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QStringList>("typed"); // each followed by Add, or by Enter when it ends in "\n"
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("box"); // the one refusal box expected, if any
        QTest::newRow("filter: spaces trimmed, inner spaces kept")
            << Kind::Filter << QStringList{u"   joe@x.de  "_s, u" a  b@x.de "_s}
            << QStringList{u"a  b@x.de"_s, u"joe@x.de"_s} << QString();
        QTest::newRow("exempted: Enter adds, apostrophe as typed")
            << Kind::Exempted << QStringList{u"o'neil@x.ie\n"_s} << QStringList{u"o'neil@x.ie"_s} << QString();
        QTest::newRow("filter: case variants added once")
            << Kind::Filter << QStringList{u"Joe@X.de"_s, u"joe@x.DE"_s, u"ärger@x.de"_s, u"ÄRGER@x.de "_s}
            << QStringList{u"Joe@X.de"_s, u"ärger@x.de"_s} << QString();
        QString emoji;
        for (int i = 0; i < 998; ++i)
            emoji += u"\U0001F600"_s;
        QTest::newRow("exempted: 998 characters beyond 16 bits")
            << Kind::Exempted << QStringList{emoji} << QStringList{emoji} << QString();
        QTest::newRow("exempted: 999 characters refused")
            << Kind::Exempted << QStringList{QString(999, u'a')} << QStringList{}
            << u"Invalid Entry\r\nThe entry is longer than 998 characters."_s;
        QTest::newRow("filter: *@ names no domain")
            << Kind::Filter << QStringList{u" *@ "_s} << QStringList{}
            << u"Invalid Entry\r\nIt names no domain: it catches every message whose From holds no address."_s;
        // A rule that would not do what it seems to is refused, saying why;
        // the mended one goes in.
        QTest::newRow("filter: >= is no size comparison")
            << Kind::Filter << QStringList{u"Size: >= 10 MB"_s, u"Size: > 10 MB"_s} << QStringList{u"Size: > 10 MB"_s}
            << u"Invalid Entry\r\nNo size rule (\">=\" is no comparison; only \">\" (more than) and \"<\" (less "
               "than) are): it is compared whole with the From value."_s;
        QTest::newRow("exempted: header rule without the blank")
            << Kind::Exempted << QStringList{u"X-Spam-Flag:YES\n"_s, u"X-Spam-Flag: YES"_s}
            << QStringList{u"X-Spam-Flag: YES"_s}
            << u"Invalid Entry\r\nNo header rule (it needs a blank after the colon: \"X-Spam-Flag: YES\"): it is "
               "compared whole with the From value."_s;
        QTest::newRow("filter: domain with a final dot")
            << Kind::Filter << QStringList{u"*@spam.example."_s} << QStringList{}
            << u"Invalid Entry\r\nIts domain ends in \".\", as no address's domain does: it never matches."_s;
        QTest::newRow("exempted: only spaces refused")
            << Kind::Exempted << QStringList{u"     "_s} << QStringList{} << u"Invalid Entry"_s;
        QTest::newRow("filter: nothing refused by Enter")
            << Kind::Filter << QStringList{u"\n"_s} << QStringList{} << u"Invalid Entry"_s;
    }
    void addDialog()
    {
        QFETCH(Kind, kind);
        QFETCH(QStringList, typed);
        QFETCH(QStringList, stored);
        QFETCH(QString, box);
        const bool filter = kind == Kind::Filter;
        testsupport::MessageBoxRecorder boxes;
        if (!box.isEmpty())
            boxes.expect(box, u"Warning"_s, MessageBox::Icon::Exclamation);
        frmRuleAdd dialog(kind, m_f->lists);
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
            // A value already there is not refused: the box is emptied all
            // the same. A refused one stays, to be mended.
            if (box.isEmpty())
                QVERIFY(txtEmail->text().isEmpty());
        }
        VERIFY_BOXES(boxes);
        QCOMPARE(rules(filter ? u"tbfilter"_s : u"tbexempted"_s), stored);
        QCOMPARE(rules(filter ? u"tbexempted"_s : u"tbfilter"_s), QStringList());
        QCOMPARE(texts(filter ? m_f->lists.filterModel() : m_f->lists.exemptedModel()), stored);
        // The dialog stays open until Done.
        QVERIFY(dialog.isVisible());
        QTest::mouseClick(dialog.findChild<QPushButton *>(u"cmdDone"_s), Qt::LeftButton);
        QTRY_VERIFY(!dialog.isVisible());
    }
};

QTEST_MAIN(TestRuleLists)
#include "tst_rulelists.moc"
