#include "RuleDatabase.h"
#include "RuleLists.h"
#include "TestSupport.h"
#include "frmRuleAdd.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTest>
#include <algorithm>

using namespace Qt::StringLiterals;
using Kind = frmRuleAdd::Kind;

Q_DECLARE_METATYPE(frmRuleAdd::Kind)

namespace {
QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}
} // namespace

class TestFrmRuleAdd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void configuration_data();
    void configuration();
    void entries_data();
    void entries();
    void caseVariantsAddedOnce();
    void entryLengthLimited();
    void doneAndEscapeClose_data();
    void doneAndEscapeClose();

private:
    // Opens the dialog as the main window does, shown and active.
    bool open(Kind kind);
    QLineEdit *txtEmail() const { return m_dialog->findChild<QLineEdit *>(u"txtEmail"_s); }
    QPushButton *button(const QString &name) const { return m_dialog->findChild<QPushButton *>(name); }

    std::unique_ptr<testsupport::TempHome> m_home;
    std::unique_ptr<RuleDatabase> m_db;
    std::unique_ptr<RuleLists> m_lists;
    std::unique_ptr<frmRuleAdd> m_dialog;
};

void TestFrmRuleAdd::init()
{
    m_home = std::make_unique<testsupport::TempHome>();
    m_db = std::make_unique<RuleDatabase>();
    QVERIFY(m_db->OpenRuleDatabase());
    m_lists = std::make_unique<RuleLists>(*m_db);
}

void TestFrmRuleAdd::cleanup()
{
    m_dialog.reset();
    m_lists.reset();
    m_db.reset();
    m_home.reset();
}

bool TestFrmRuleAdd::open(Kind kind)
{
    m_dialog = std::make_unique<frmRuleAdd>(kind, *m_lists);
    m_dialog->show();
    m_dialog->activateWindow();
    return QTest::qWaitForWindowActive(m_dialog.get());
}

void TestFrmRuleAdd::configuration_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("name");
    QTest::newRow("filter") << Kind::Filter << u"Add Filter"_s << u"frmFilterAdd"_s;
    QTest::newRow("exempted") << Kind::Exempted << u"Add Exempted"_s << u"frmExemptedAdd"_s;
}

void TestFrmRuleAdd::configuration()
{
    QFETCH(Kind, kind);
    QFETCH(QString, title);
    QFETCH(QString, name);
    QVERIFY(open(kind));
    QCOMPARE(m_dialog->windowTitle(), title);
    QCOMPARE(m_dialog->objectName(), name);
    QVERIFY(m_dialog->isModal());
    QCOMPARE(button(u"cmdAdd"_s)->text(), u"Add"_s);
    QVERIFY(button(u"cmdAdd"_s)->isDefault());
    QCOMPARE(button(u"cmdDone"_s)->text(), u"Done"_s);
    QCOMPARE(txtEmail()->maxLength(), 320);
    QVERIFY(txtEmail()->text().isEmpty());
    QTRY_VERIFY(txtEmail()->hasFocus());

    QStringList hints;
    for (const QLabel *label : m_dialog->findChildren<QLabel *>())
        hints.append(label->text());
    QVERIFY(std::any_of(hints.cbegin(), hints.cend(),
                        [](const QString &t) { return t.startsWith(u"To enter an Email Address type "_s) && t.contains(u'@'); }));
    QVERIFY(std::any_of(hints.cbegin(), hints.cend(),
                        [](const QString &t) { return t.startsWith(u"To enter a Domain type *@"_s); }));
    const QLabel *picture = m_dialog->findChild<QLabel *>(u"picRule"_s);
    QVERIFY(picture);
    QVERIFY(!picture->pixmap().isNull());
    for (const QWidget *control : m_dialog->findChildren<QWidget *>())
        QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(control->objectName()));

    // Tab order: entry box, Add, Done.
    QCOMPARE(txtEmail()->nextInFocusChain(), button(u"cmdAdd"_s));
    QCOMPARE(button(u"cmdAdd"_s)->nextInFocusChain(), button(u"cmdDone"_s));
}

void TestFrmRuleAdd::entries_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("byEnter");
    QTest::addColumn<QString>("stored");   // empty: refused

    for (const Kind kind : {Kind::Filter, Kind::Exempted}) {
        const char *list = kind == Kind::Filter ? "filter" : "exempted";
        QTest::addRow("%s: spaces trimmed", list) << kind << u"   joe@x.de  "_s << false << u"joe@x.de"_s;
        QTest::addRow("%s: Enter adds", list) << kind << u"joe@x.de"_s << true << u"joe@x.de"_s;
        QTest::addRow("%s: inner spaces kept", list) << kind << u" a  b@x.de "_s << false << u"a  b@x.de"_s;
        QTest::addRow("%s: apostrophe as typed", list) << kind << u"o'neil@x.ie"_s << true << u"o'neil@x.ie"_s;
        QTest::addRow("%s: SQL as text", list) << kind << u"x'); drop table tbfilter; --"_s << false
                                              << u"x'); drop table tbfilter; --"_s;
        QTest::addRow("%s: bare word", list) << kind << u"spammer"_s << false << u"spammer"_s;
        QTest::addRow("%s: domain", list) << kind << u"*@x.de"_s << false << u"*@x.de"_s;
        QTest::addRow("%s: only spaces refused", list) << kind << u"     "_s << false << QString();
        QTest::addRow("%s: nothing refused", list) << kind << QString() << true << QString();
    }
}

void TestFrmRuleAdd::entries()
{
    QFETCH(Kind, kind);
    QFETCH(QString, typed);
    QFETCH(bool, byEnter);
    QFETCH(QString, stored);
    const QString table = kind == Kind::Filter ? u"tbfilter"_s : u"tbexempted"_s;
    const QString other = kind == Kind::Filter ? u"tbexempted"_s : u"tbfilter"_s;
    QStandardItemModel *list = kind == Kind::Filter ? m_lists->filterModel() : m_lists->exemptedModel();
    testsupport::MessageBoxRecorder boxes;
    if (stored.isEmpty())
        boxes.expect(u"Invalid Entry"_s, u"Warning"_s, MessageBox::Icon::Exclamation);
    QVERIFY(open(kind));

    txtEmail()->setText(typed);
    if (byEnter) {
        QTRY_VERIFY(txtEmail()->hasFocus());
        QTest::keyClick(txtEmail(), Qt::Key_Return);
    } else {
        QTest::mouseClick(button(u"cmdAdd"_s), Qt::LeftButton);
        if (stored.isEmpty())
            QTRY_VERIFY(txtEmail()->hasFocus());
    }
    VERIFY_BOXES(boxes);
    QVERIFY(m_dialog->isVisible());
    QVERIFY(txtEmail()->text().isEmpty());
    const QStringList expected = stored.isEmpty() ? QStringList{} : QStringList{stored};
    QCOMPARE(m_db->FillRules(table), std::optional<QStringList>(expected));
    QCOMPARE(m_db->FillRules(other), std::optional<QStringList>(QStringList{}));
    QCOMPARE(list->rowCount(), expected.size());
    if (!expected.isEmpty())
        QCOMPARE(list->item(0)->text(), stored);
}

void TestFrmRuleAdd::caseVariantsAddedOnce()
{
    testsupport::MessageBoxRecorder boxes;
    QVERIFY(open(Kind::Filter));
    for (const QString &typed : {u"Joe@X.de"_s, u"joe@x.DE"_s, u"ärger@x.de"_s, u"ÄRGER@x.de "_s}) {
        txtEmail()->setText(typed);
        QTest::mouseClick(button(u"cmdAdd"_s), Qt::LeftButton);
        // A value already there is not refused: the box is emptied all the same.
        QVERIFY(txtEmail()->text().isEmpty());
    }
    VERIFY_BOXES(boxes);
    QCOMPARE(sorted(m_db->FillRules(u"tbfilter"_s).value_or(QStringList())),
             sorted({u"Joe@X.de"_s, u"ärger@x.de"_s}));
    QCOMPARE(m_lists->filterModel()->rowCount(), 2);
}

void TestFrmRuleAdd::entryLengthLimited()
{
    QVERIFY(open(Kind::Exempted));
    QTRY_VERIFY(txtEmail()->hasFocus());
    QTest::keyClicks(txtEmail(), QString(400, u'a'));
    QCOMPARE(txtEmail()->text().size(), 320);
}

void TestFrmRuleAdd::doneAndEscapeClose_data()
{
    QTest::addColumn<bool>("escape");
    QTest::newRow("Done") << false;
    QTest::newRow("Escape") << true;
}

void TestFrmRuleAdd::doneAndEscapeClose()
{
    QFETCH(bool, escape);
    QVERIFY(open(Kind::Filter));
    txtEmail()->setText(u"typed@x.de"_s);
    if (escape)
        QTest::keyClick(txtEmail(), Qt::Key_Escape);
    else
        QTest::mouseClick(button(u"cmdDone"_s), Qt::LeftButton);
    QTRY_VERIFY(!m_dialog->isVisible());
    // What was still typed is not added.
    QCOMPARE(m_db->FillRules(u"tbfilter"_s), std::optional<QStringList>(QStringList{}));
}

QTEST_MAIN(TestFrmRuleAdd)
#include "tst_frmruleadd.moc"
