#include "ProfileBarWidget.h"
#include "ProfileTestHelpers.h"
#include "frmFindSettings.h"
#include "frmNewProfile.h"
#include "frmSetting.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QWheelEvent>

#include <memory>

using namespace profiletest;
using MessageBox::Icon;
using MessageBox::Result;

namespace {

QString switchQuestion(const QString &from)
{
    return u"Items in Recycle Bin for profile '%1' is not removed from the server.\r\nConfirm change profile?"_qs.arg(
        from);
}

} // namespace

class TestProfileBar : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { m_env = std::make_unique<Env>(); }
    void cleanup() { m_bar.reset(), m_env.reset(); }
    void switchAsksAndNoKeeps();
    void newProfile_data();
    void newProfile();
    void newProfileAsksFirst();
    void newProfileFromAddress();
    void wheelNeverSwitches();
    void failedWritesAreTold();
    void deleteProfile_data();
    void deleteProfile();
    void deleteLastProfile();
    void chooseShownEntry();

private:
    void startBar(const QStringList &profiles, const QString &last);
    QComboBox *box() const { return m_bar->profileBox(); }
    // Opens New Profile, types `name` and presses `button`.
    frmNewProfile *openNewProfile(const QString &name, const QString &button = u"cmdOK"_qs);
    // Drops the box's list down and presses Return on the entry shown.
    void chooseShown();

    std::unique_ptr<Env> m_env;
    std::unique_ptr<ProfileBarWidget> m_bar;
};

void TestProfileBar::startBar(const QStringList &profiles, const QString &last)
{
    for (const QString &name : profiles)
        seedProfile(name);
    writeValue(kTrelvikKey, u"LastProfile"_qs, last);
    m_bar = std::make_unique<ProfileBarWidget>(m_env->host, m_env->profile);
    m_bar->fillFromStore();
    m_env->host.clears = 0; // count from here on
}

frmNewProfile *TestProfileBar::openNewProfile(const QString &name, const QString &button)
{
    click(m_bar.get(), "cmdNewProfile");
    auto *dialog = shownDialog<frmNewProfile>(m_env->host.window);
    if (dialog) {
        child<QLineEdit>(dialog, "txtProfile")->setText(name);
        click(dialog, button);
    }
    return dialog;
}

void TestProfileBar::chooseShown()
{
    QTest::keyClick(box(), Qt::Key_F4);
    QTRY_VERIFY(box()->view()->isVisible());
    QTest::keyClick(box()->view(), Qt::Key_Return);
    QVERIFY(!box()->view()->isVisible());
}

void TestProfileBar::switchAsksAndNoKeeps()
{
    startBar({"Alpha", "Beta", "Gamma"}, "Alpha");
    m_env->host.recycleRows = 3;
    m_env->host.inboxRows = 5;
    m_env->boxes.expect(switchQuestion("Alpha"), "Trelvik", Icon::Question, Result::No);
    box()->setCurrentIndex(2);
    Q_EMIT box()->activated(2);
    VERIFY_BOXES(m_env->boxes);
    QCOMPARE(box()->currentText(), u"Alpha"_qs);
    QCOMPARE(m_env->profile.name(), u"Alpha"_qs);
    QCOMPARE(m_env->profile.settings().EmailHost, u"pop.alpha"_qs);
    QCOMPARE(lastProfile(), u"Alpha"_qs);
    QCOMPARE(m_env->host.recycleRows + m_env->host.inboxRows, 8);
}

void TestProfileBar::newProfile_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QString>("title");
    QTest::newRow("blank") << "   "
                           << "Profile Name cannot be blank"
                           << "Warning";
    QTest::newRow("existing but for case") << "bETA"
                                           << "This profile already exists"
                                           << "New Profile";
    QTest::newRow("key separator") << "home\\work"
                                   << "Profile Name cannot contain \\"
                                   << "Warning";
}

// Each refusal leaves New Profile open for another name, which is then saved.
void TestProfileBar::newProfile()
{
    QFETCH(QString, typed);
    QFETCH(QString, warning);
    QFETCH(QString, title);
    startBar({"Alpha", "Beta"}, "Beta");
    FakeHost &host = m_env->host;
    host.recycleRows = 4;
    host.inboxRows = 7;
    m_env->boxes.expect(switchQuestion("Beta"), "Trelvik", Icon::Question, Result::Yes);
    m_env->boxes.expect(warning, title, Icon::Exclamation);
    frmNewProfile *dialog = openNewProfile(typed);
    QVERIFY(dialog);
    VERIFY_BOXES(m_env->boxes);
    QVERIFY(dialog->isVisible() && !shownDialog<frmSetting>(host.window));
    QCOMPARE(m_env->profile.name(), u"Beta"_qs);

    child<QLineEdit>(dialog, "txtProfile")->setText("  Delta ");
    click(dialog, "cmdOK");
    QCOMPARE(m_env->profile.name(), u"Delta"_qs);
    auto *setting = shownDialog<frmSetting>(host.window);
    QVERIFY(setting);
    child<QLineEdit>(setting, "txtEmailHost")->setText("pop.delta");
    child<QLineEdit>(setting, "txtEmailUserId")->setText("dee");
    child<QLineEdit>(setting, "txtEmailPassword")->setText("pw");
    click(setting, "cmdOK");
    VERIFY_BOXES(m_env->boxes);
    QVERIFY(!setting->isVisible());
    QCOMPARE(box()->currentText(), u"Delta"_qs);
    QCOMPARE(storedProfiles(), (QStringList{"Alpha", "Beta", "Delta"}));
    // The previous profile's messages do not stay under the new one, and the
    // new profile is the one loaded at the next start.
    QCOMPARE(host.clears, 1);
    QCOMPARE(host.recycleRows + host.inboxRows, 0);
    QCOMPARE(lastProfile(), u"Delta"_qs);
}

// The address typed with the name is searched for (a shipped provider's,
// so nothing leaves the machine) and the choice taken fills the settings.
void TestProfileBar::newProfileFromAddress()
{
    startBar({"Alpha"}, "Alpha");
    click(m_bar.get(), "cmdNewProfile");
    auto *dialog = shownDialog<frmNewProfile>(m_env->host.window);
    QVERIFY(dialog);
    child<QLineEdit>(dialog, "txtProfile")->setText("Delta");
    child<QLineEdit>(dialog, "txtAddress")->setText("dee@me.com");
    click(dialog, "cmdOK");
    auto *find = dialog->findChild<frmFindSettings *>();
    QVERIFY(find && find->isVisible());
    QTRY_VERIFY(child<QPushButton>(find, "cmdOK")->isEnabled());
    click(find, "cmdOK");
    auto *setting = shownDialog<frmSetting>(m_env->host.window);
    QVERIFY(setting);
    QCOMPARE(child<QLineEdit>(setting, "txtEmailHost")->text(), u"imap.mail.me.com"_qs);
    QCOMPARE(child<QLineEdit>(setting, "txtEmailPort")->text(), u"993"_qs);
    QCOMPARE(child<QLineEdit>(setting, "txtEmailUserId")->text(), u"dee"_qs);
    child<QLineEdit>(setting, "txtEmailPassword")->setText("app-pw");
    click(setting, "cmdOK");
    VERIFY_BOXES(m_env->boxes);
    QCOMPARE(m_env->profile.name(), u"Delta"_qs);
    QCOMPARE(m_env->profile.settings().EmailHost, u"imap.mail.me.com"_qs);
    QCOMPARE(m_env->profile.settings().EmailUserid, u"dee"_qs);
    QVERIFY(m_env->profile.settings().protocol() == MailProtocolKind::Imap); // iCloud offers no POP3
}

// With messages in the Recycle Bin, New asks first; No leaves everything as
// it was, and so does a Yes followed by Cancel.
void TestProfileBar::newProfileAsksFirst()
{
    startBar({"Alpha", "Beta"}, "Beta");
    m_env->host.recycleRows = 1;
    m_env->profile.settings().EmailHost = u"not from the store"_qs;
    m_env->boxes.expect(switchQuestion("Beta"), "Trelvik", Icon::Question, Result::No);
    QVERIFY(!openNewProfile("Delta"));
    VERIFY_BOXES(m_env->boxes);
    QCOMPARE(m_env->profile.settings().EmailHost, u"not from the store"_qs);
    m_env->boxes.expect(switchQuestion("Beta"), "Trelvik", Icon::Question, Result::Yes);
    QVERIFY(openNewProfile("Delta", "cmdCancel"));
    VERIFY_BOXES(m_env->boxes);
    QVERIFY(!shownDialog<frmNewProfile>(m_env->host.window) && !shownDialog<frmSetting>(m_env->host.window));
    QCOMPARE(m_env->profile.name(), u"Beta"_qs);
    QCOMPARE(m_env->profile.settings().EmailHost, u"pop.beta"_qs);
    QCOMPARE(storedProfiles().size(), 2);
    QCOMPARE(m_env->host.recycleRows, 1);
    // Setting now edits Beta, not a new profile.
    click(m_bar.get(), "cmdSetting");
    auto *setting = shownDialog<frmSetting>(m_env->host.window);
    QVERIFY(setting);
    QCOMPARE(setting->windowTitle(), u"Profile Setting - Beta"_qs);
    QCOMPARE(child<QLineEdit>(setting, "txtEmailHost")->text(), u"pop.beta"_qs);
    setting->close();
}

void TestProfileBar::deleteProfile_data()
{
    QTest::addColumn<QString>("last");
    QTest::addColumn<QString>("next"); // the entry selected afterwards
    QTest::newRow("first entry: the new first is selected") << "Alpha"
                                                            << "Beta";
    QTest::newRow("fourth entry: the third is selected") << "Omega"
                                                         << "Gamma";
}

void TestProfileBar::deleteProfile()
{
    QFETCH(QString, last);
    QFETCH(QString, next);
    QStringList profiles{"Alpha", "Beta", "Gamma", "Omega"};
    startBar(profiles, last);
    m_env->boxes.expect(u"Confirm Delete '%1'"_qs.arg(last), "Delete Profile", Icon::None, Result::Yes);
    click(m_bar.get(), "cmdDeleteProfile");
    VERIFY_BOXES(m_env->boxes);
    profiles.removeOne(last);
    QCOMPARE(storedProfiles(), profiles);
    QCOMPARE(box()->count(), 3);
    QCOMPARE(box()->currentText(), next);
    QCOMPARE(lastProfile(), next);
    QCOMPARE(m_env->profile.name(), next);
    QCOMPARE(m_env->profile.settings().EmailHost, u"pop."_qs + next.toLower());
}
// The last profile gone, its messages go too and no profile is current: a
// move made now counts for none.
void TestProfileBar::deleteLastProfile()
{
    startBar({"Alpha"}, "Alpha");
    m_env->host.inboxRows = 3;
    m_env->boxes.expect("Confirm Delete 'Alpha'", "Delete Profile", Icon::None, Result::Yes);
    QSignalSpy deleted(m_bar.get(), &ProfileBarWidget::profileDeleted);
    click(m_bar.get(), "cmdDeleteProfile");
    VERIFY_BOXES(m_env->boxes);
    QCOMPARE(deleted.count(), 1);
    QCOMPARE(deleted.at(0).at(0).toString(), u"Alpha"_qs);
    QCOMPARE(box()->count(), 0);
    QCOMPARE(m_env->host.inboxRows, 0);
    QCOMPARE(m_env->profile.name(), QString());
}

// Choosing the entry shown again writes nothing; then Delete with No to the
// switch, and a refused Delete.
void TestProfileBar::chooseShownEntry()
{
    startBar({"Alpha", "Beta", "Gamma"}, "Beta");
    writeValue(kTrelvikKey, "LastProfile", "marker"); // any write would show
    m_env->host.recycleRows = 2;
    m_env->profile.settings().DialupNumber = "edited in memory";
    chooseShown();
    QCOMPARE(lastProfile(), u"marker"_qs);
    QCOMPARE(m_env->profile.settings().DialupNumber, u"edited in memory"_qs);
    VERIFY_BOXES(m_env->boxes);

    // Delete, then No to the Recycle Bin question, asked before anything is
    // deleted: profile, box, store and messages stay as they were.
    m_env->boxes.expect("Confirm Delete 'Beta'", "Delete Profile", Icon::None, Result::Yes);
    m_env->boxes.expect(switchQuestion("Beta"), "Trelvik", Icon::Question, Result::No);
    click(m_bar.get(), "cmdDeleteProfile");
    VERIFY_BOXES(m_env->boxes);
    QCOMPARE(box()->currentText(), u"Beta"_qs);
    QCOMPARE(box()->count(), 3);
    QCOMPARE(storedProfiles(), (QStringList{"Alpha", "Beta", "Gamma"}));
    QCOMPARE(lastProfile(), u"marker"_qs);
    QCOMPARE(m_env->profile.name(), u"Beta"_qs);
    QCOMPARE(m_env->profile.settings().EmailHost, u"pop.beta"_qs);
    QCOMPARE(m_env->host.recycleRows, 2);
}

// The wheel over the box scrolls nothing into the current profile.
void TestProfileBar::wheelNeverSwitches()
{
    startBar({"Alpha", "Beta", "Gamma"}, "Beta");
    const QPointF at = box()->rect().center();
    for (int notch : {-120, -120, 120, 120, 120}) {
        QWheelEvent wheel(at, box()->mapToGlobal(at), {}, {0, notch}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                          false);
        QApplication::sendEvent(box(), &wheel);
    }
    QCOMPARE(box()->currentText(), u"Beta"_qs);
    QCOMPARE(m_env->profile.name(), u"Beta"_qs);
    QCOMPARE(lastProfile(), u"Beta"_qs);
    QCOMPARE(m_env->host.clears, 0);
    VERIFY_BOXES(m_env->boxes);
}

// Delete and a switch whose writes fail say so; a profile that could not
// be deleted stays listed and current.
void TestProfileBar::failedWritesAreTold()
{
    startBar({"Alpha", "Beta"}, "Alpha");
    m_env->boxes.expect("Confirm Delete 'Alpha'", "Delete Profile", Icon::None, Result::Yes);
    {
        FullDisk disk;
        click(m_bar.get(), "cmdDeleteProfile");
        box()->setCurrentIndex(1); // then a switch to Beta
    }
    const QList<MessageBox::Request> &shown = m_env->boxes.shown();
    QCOMPARE(shown.size(), 3);
    QCOMPARE(shown.at(1).title, u"Delete Profile"_qs);
    QCOMPARE(shown.at(1).icon, Icon::Critical);
    QVERIFY2(shown.at(1).text.contains(u"'Alpha' could not be deleted"_qs)
                 && shown.at(1).text.contains(modRegistry::StoreFilePath()),
             qPrintable(shown.at(1).text));
    QVERIFY2(shown.at(2).text.contains(u"could not be remembered"_qs)
                 && shown.at(2).text.contains(modRegistry::StoreFilePath()),
             qPrintable(shown.at(2).text));
    QCOMPARE(storedProfiles(), (QStringList{"Alpha", "Beta"}));
    QCOMPARE(m_env->profile.name(), u"Beta"_qs); // the switch itself went through
    QCOMPARE(lastProfile(), u"Alpha"_qs);
}

QTEST_MAIN(TestProfileBar)
#include "tst_profilebar.moc"
