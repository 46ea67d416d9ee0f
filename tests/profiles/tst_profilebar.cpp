#include "ProfileBarWidget.h"
#include "ProfileTestHelpers.h"
#include "frmNewProfile.h"
#include "frmSetting.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>

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
    void switchProfile_data();
    void switchProfile();
    void newProfile_data();
    void newProfile();
    void newProfileCancelled_data();
    void newProfileCancelled();
    void deleteProfile_data();
    void deleteProfile();
    void chooseShownEntry();

private:
    void startBar(const QStringList &profiles, const QString &last);
    QComboBox *box() const { return m_bar->profileBox(); }
    // Opens New Profile, types `name` and presses `button` ("close": the close box).
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
    m_bar = std::make_unique<ProfileBarWidget>(m_env->host);
    m_bar->fillFromStore();
    m_env->host.clears = 0; // count from here on
}

frmNewProfile *TestProfileBar::openNewProfile(const QString &name, const QString &button)
{
    click(m_bar.get(), "cmdNewProfile");
    auto *dialog = shownDialog<frmNewProfile>(m_env->host.window);
    if (dialog) {
        child<QLineEdit>(dialog, "txtProfile")->setText(name);
        button == QLatin1String("close") ? void(dialog->close()) : click(dialog, button);
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

void TestProfileBar::switchProfile_data()
{
    QTest::addColumn<int>("recycleRows");
    QTest::addColumn<bool>("yes");
    QTest::newRow("empty recycle bin asks nothing") << 0 << true;
    QTest::newRow("full recycle bin, Yes") << 3 << true;
    QTest::newRow("full recycle bin, No keeps everything") << 3 << false;
}

void TestProfileBar::switchProfile()
{
    QFETCH(int, recycleRows);
    QFETCH(bool, yes);
    startBar({"Alpha", "Beta", "Gamma"}, "Alpha");
    FakeHost &host = m_env->host;
    host.recycleRows = recycleRows;
    host.inboxRows = 5;
    if (recycleRows)
        m_env->boxes.expect(switchQuestion("Alpha"), "Trelvik", Icon::Question, yes ? Result::Yes : Result::No);
    box()->setCurrentIndex(2);
    Q_EMIT box()->activated(2);

    VERIFY_BOXES(m_env->boxes);
    const QString now = yes ? "Gamma" : "Alpha";
    QCOMPARE(box()->currentText(), now);
    QCOMPARE(Global::CurrentProfile, now);
    QCOMPARE(Global::ProfileSettings.EmailHost, u"pop."_qs + now.toLower());
    QCOMPARE(lastProfile(), now);
    QCOMPARE(host.clears, yes ? 1 : 0);
    QCOMPARE(host.recycleRows + host.inboxRows, yes ? 0 : 8);
}

void TestProfileBar::newProfile_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QString>("title");
    QTest::newRow("blank") << "   " << "Profile Name cannot be blank" << "Warning";
    QTest::newRow("existing") << " Beta " << "This profile already exists" << "New Profile";
    QTest::newRow("existing but for case") << "bETA" << "This profile already exists" << "New Profile";
    QTest::newRow("key separator") << "home\\work" << "Profile Name cannot contain \\" << "Warning";
    QTest::newRow("listing end marker") << "Not Found" << "Profile Name cannot be Not Found" << "Warning";
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
    m_env->boxes.expect(warning, title, Icon::Exclamation);
    frmNewProfile *dialog = openNewProfile(typed);
    QVERIFY(dialog);
    VERIFY_BOXES(m_env->boxes);
    QVERIFY(dialog->isVisible() && !shownDialog<frmSetting>(host.window));
    QCOMPARE(Global::CurrentProfile, u"Beta"_qs);

    child<QLineEdit>(dialog, "txtProfile")->setText("  Delta ");
    click(dialog, "cmdOK");
    QCOMPARE(Global::CurrentProfile, u"Delta"_qs);
    auto *setting = shownDialog<frmSetting>(host.window);
    QVERIFY(setting);
    QCOMPARE(setting->windowTitle(), u"Profile Setting - Delta"_qs);
    QCOMPARE(child<QLineEdit>(setting, "txtEmailPort")->text(), u"995"_qs); // POP3 over TLS
    child<QLineEdit>(setting, "txtEmailHost")->setText("pop.delta");
    child<QLineEdit>(setting, "txtEmailUserId")->setText("dee");
    child<QLineEdit>(setting, "txtEmailPassword")->setText("pw");
    // The bar's dialog tests through the host.
    host.tester = [](const Global::ProfileSettingsRecord &s) { return ConnectionTestResult{true, s.EmailHost}; };
    m_env->boxes.expect("pop.delta", "Test Connection", Icon::Information);
    click(setting, "cmdTestConnection");
    click(setting, "cmdOK");
    VERIFY_BOXES(m_env->boxes);
    QVERIFY(!setting->isVisible());
    QCOMPARE(box()->currentText(), u"Delta"_qs);
    QCOMPARE(storedProfiles(), (QStringList{"Alpha", "Beta", "Delta"}));
    // The previous profile's messages do not stay under the new one, and the
    // new profile is not the one loaded at the next start.
    QCOMPARE(host.clears, 1);
    QCOMPARE(host.recycleRows + host.inboxRows, 0);
    QCOMPARE(lastProfile(), u"Beta"_qs);
}

void TestProfileBar::newProfileCancelled_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("New Profile's Cancel") << "cmdCancel";
    QTest::newRow("New Profile's close box") << "close";
    QTest::newRow("settings dialog's Cancel") << "cmdOK";
}

void TestProfileBar::newProfileCancelled()
{
    QFETCH(QString, button);
    startBar({"Alpha", "Beta"}, "Beta");
    m_env->host.recycleRows = 1;
    Global::ProfileSettings.EmailHost = u"not from the store"_qs;
    QVERIFY(openNewProfile("Delta", button));
    auto *setting = shownDialog<frmSetting>(m_env->host.window);
    QCOMPARE(setting != nullptr, button == QLatin1String("cmdOK"));
    if (setting)
        click(setting, "cmdCancel");
    VERIFY_BOXES(m_env->boxes);
    QVERIFY(!shownDialog<frmNewProfile>(m_env->host.window) && !shownDialog<frmSetting>(m_env->host.window));
    QCOMPARE(Global::CurrentProfile, u"Beta"_qs);
    QCOMPARE(Global::ProfileSettings.EmailHost, u"pop.beta"_qs);
    QCOMPARE(Global::NewProfileFlag, 0);
    QCOMPARE(box()->count(), 2);
    QCOMPARE(storedProfiles().size(), 2);
    QCOMPARE(m_env->host.recycleRows, 1);
}

void TestProfileBar::deleteProfile_data()
{
    QTest::addColumn<QStringList>("profiles");
    QTest::addColumn<QString>("last");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QString>("shown"); // the box's text afterwards
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("host"); // of the settings loaded afterwards
    const QStringList four{"Alpha", "Beta", "Gamma", "Omega"};
    QTest::newRow("first entry: the new first is selected")
        << four << "Alpha" << true << "Beta" << "Beta" << "pop.beta";
    QTest::newRow("fourth entry: the third is selected")
        << four << "Omega" << true << "Gamma" << "Gamma" << "pop.gamma";
    // A refused delete changes nothing, not even the current profile's name.
    QTest::newRow("No keeps it") << four << "Beta" << false << "Beta" << "Alpha" << "pop.beta";
    QTest::newRow("empty box text asks nothing") << four << "Other" << false << "" << "" << "";
    // Deleting the only profile keeps it loaded, with nothing to switch to.
    QTest::newRow("the only profile") << QStringList{"Alpha"} << "Alpha" << true << "" << "Alpha" << "pop.alpha";
}

void TestProfileBar::deleteProfile()
{
    QFETCH(QStringList, profiles);
    QFETCH(QString, last);
    QFETCH(bool, yes);
    QFETCH(QString, shown);
    QFETCH(QString, current);
    QFETCH(QString, host);
    startBar(profiles, last);
    Global::CurrentProfile = "Alpha"; // the box's text is what goes
    if (box()->currentIndex() >= 0)
        m_env->boxes.expect(u"Confirm Delete '%1'"_qs.arg(last), "Delete Profile", Icon::None,
                            yes ? Result::Yes : Result::No);
    click(m_bar.get(), "cmdDeleteProfile");

    VERIFY_BOXES(m_env->boxes);
    if (yes)
        profiles.removeOne(last);
    QCOMPARE(storedProfiles(), profiles);
    QCOMPARE(box()->count(), profiles.size());
    QCOMPARE(box()->currentText(), shown);
    QCOMPARE(lastProfile(), yes ? shown : last);
    QCOMPARE(Global::CurrentProfile, current);
    QCOMPARE(Global::ProfileSettings.EmailHost, host);
}

// Choosing the entry the box shows runs the switch only when the box shows
// another profile than the current one, as after a refused switch.
void TestProfileBar::chooseShownEntry()
{
    startBar({"Alpha", "Beta", "Gamma"}, "Beta");
    writeValue(kTrelvikKey, "LastProfile", "marker"); // any write would show
    m_env->host.recycleRows = 2;
    Global::ProfileSettings.DialupNumber = "edited in memory";
    chooseShown();
    QCOMPARE(lastProfile(), u"marker"_qs);
    QCOMPARE(Global::ProfileSettings.DialupNumber, u"edited in memory"_qs);
    VERIFY_BOXES(m_env->boxes);

    // Delete, then No to the switch: the box stays on a real entry and the
    // stored last profile is that entry; the messages and the deleted
    // profile's settings stay.
    m_env->boxes.expect("Confirm Delete 'Beta'", "Delete Profile", Icon::None, Result::Yes);
    m_env->boxes.expect(switchQuestion("Beta"), "Trelvik", Icon::Question, Result::No);
    click(m_bar.get(), "cmdDeleteProfile");
    VERIFY_BOXES(m_env->boxes);
    QCOMPARE(box()->currentText(), u"Alpha"_qs);
    QCOMPARE(lastProfile(), u"Alpha"_qs);
    QCOMPARE(Global::CurrentProfile, u"Beta"_qs);
    QCOMPARE(Global::ProfileSettings.EmailHost, u"pop.beta"_qs);
    QCOMPARE(m_env->host.recycleRows, 2);

    // Delete asked again for the entry shown, and refused: the deleted
    // profile's settings must not become the shown entry's.
    m_env->boxes.expect("Confirm Delete 'Alpha'", "Delete Profile", Icon::None, Result::No);
    click(m_bar.get(), "cmdDeleteProfile");
    VERIFY_BOXES(m_env->boxes);
    QCOMPARE(Global::CurrentProfile, u"Beta"_qs);
    QCOMPARE(storedProfiles(), (QStringList{"Alpha", "Gamma"}));

    m_env->boxes.expect(switchQuestion("Beta"), "Trelvik", Icon::Question, Result::Yes);
    chooseShown();
    VERIFY_BOXES(m_env->boxes);
    QCOMPARE(Global::CurrentProfile, u"Alpha"_qs);
    QCOMPARE(Global::ProfileSettings.EmailHost, u"pop.alpha"_qs);
    QCOMPARE(m_env->host.clears, 1);
}

QTEST_MAIN(TestProfileBar)
#include "tst_profilebar.moc"
