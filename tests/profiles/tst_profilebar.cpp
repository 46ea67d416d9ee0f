#include "ProfileBarWidget.h"
#include "ProfileTestHelpers.h"
#include "TestSupport.h"
#include "frmNewProfile.h"
#include "frmSetting.h"

#include <QComboBox>
#include <QFile>
#include <QAbstractItemView>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

using namespace profiletest;
using MessageBox::Icon;
using MessageBox::Result;

namespace {

const QString kSwitchQuestion = QStringLiteral(
    "Items in Recycle Bin for profile '%1' is not removed from the server.\r\nConfirm change profile?");

} // namespace

class TestProfileBar : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void startupSelection_data();
    void startupSelection();
    void switchProfile_data();
    void switchProfile();
    void sameEntryWritesNothing();
    void typingNeverChangesTheBox();
    void newProfileRefused_data();
    void newProfileRefused();
    void newProfileSaved();
    void newProfileCancelReloads_data();
    void newProfileCancelReloads();
    void newProfileSettingCancelled();
    void deleteProfile_data();
    void deleteProfile();
    void deleteAnsweredNo();
    void deleteWithEmptyBox();
    void deleteOnlyProfile();
    void deleteThenSwitchRefused();
    void settingDialogTestsThroughTheHost();

private:
    void startBar(const QStringList &profiles, const QString &last);
    QComboBox *box() const { return m_bar->findChild<QComboBox *>(QStringLiteral("cboProfile")); }
    void click(const char *button)
    {
        auto *b = m_bar->findChild<QPushButton *>(QLatin1String(button));
        QVERIFY(b);
        b->click();
    }

    std::unique_ptr<testsupport::TempHome> m_home;
    std::unique_ptr<testsupport::MessageBoxRecorder> m_boxes;
    std::unique_ptr<FakeHost> m_host;
    std::unique_ptr<ProfileBarWidget> m_bar;
};

void TestProfileBar::init()
{
    m_home = std::make_unique<testsupport::TempHome>();
    QVERIFY(m_home->isValid());
    m_boxes = std::make_unique<testsupport::MessageBoxRecorder>();
    m_host = std::make_unique<FakeHost>();
    resetGlobals();
}

void TestProfileBar::cleanup()
{
    m_bar.reset();
    m_host.reset();
    m_boxes.reset();
    m_home.reset();
}

void TestProfileBar::startBar(const QStringList &profiles, const QString &last)
{
    for (const QString &name : profiles)
        seedProfile(name);
    if (!last.isNull())
        writeValue(kTrelvikKey, QStringLiteral("LastProfile"), last);
    m_bar = std::make_unique<ProfileBarWidget>(*m_host);
    m_bar->fillFromStore();
}

void TestProfileBar::startupSelection_data()
{
    QTest::addColumn<QString>("last");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("current");
    QTest::newRow("last profile selected") << "Beta" << 1 << "Beta";
    QTest::newRow("first entry is not chosen by itself") << "" << -1 << "";
    QTest::newRow("case must match") << "beta" << -1 << "";
    QTest::newRow("last profile gone") << "Omega" << -1 << "";
}

void TestProfileBar::startupSelection()
{
    QFETCH(QString, last);
    QFETCH(int, index);
    QFETCH(QString, current);
    startBar({QStringLiteral("Gamma"), QStringLiteral("Alpha"), QStringLiteral("Beta")}, last);
    QCOMPARE(box()->count(), 3);
    QCOMPARE(box()->itemText(0), QStringLiteral("Alpha"));
    QCOMPARE(box()->currentIndex(), index);
    QCOMPARE(Global::CurrentProfile, current);
    QCOMPARE(Global::ProfileSettings.EmailHost, current.isEmpty() ? QString() : QStringLiteral("pop.beta"));
    VERIFY_BOXES(*m_boxes);
}

void TestProfileBar::switchProfile_data()
{
    QTest::addColumn<int>("recycleRows");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("yes");
    QTest::newRow("empty recycle bin asks nothing") << 0 << false << true;
    QTest::newRow("full recycle bin, Yes") << 3 << true << true;
    QTest::newRow("full recycle bin, No keeps everything") << 3 << true << false;
}

void TestProfileBar::switchProfile()
{
    QFETCH(int, recycleRows);
    QFETCH(bool, asked);
    QFETCH(bool, yes);
    startBar({QStringLiteral("Alpha"), QStringLiteral("Beta"), QStringLiteral("Gamma")}, QStringLiteral("Alpha"));
    m_host->recycleRows = recycleRows;
    m_host->inboxRows = 5;
    const int clearsBefore = m_host->clears;
    if (asked)
        m_boxes->expect(kSwitchQuestion.arg(QStringLiteral("Alpha")), QStringLiteral("Trelvik"), Icon::Question,
                        yes ? Result::Yes : Result::No);

    box()->setCurrentIndex(2);
    Q_EMIT box()->activated(2);

    VERIFY_BOXES(*m_boxes);
    if (yes) {
        QCOMPARE(Global::CurrentProfile, QStringLiteral("Gamma"));
        QCOMPARE(Global::ProfileSettings.EmailHost, QStringLiteral("pop.gamma"));
        QCOMPARE(lastProfile(), QStringLiteral("Gamma"));
        QCOMPARE(m_host->clears, clearsBefore + 1);
        QCOMPARE(m_host->recycleRows, 0);
        QVERIFY(m_host->inboxShown > 0);
    } else {
        QCOMPARE(box()->currentIndex(), 0);
        QCOMPARE(Global::CurrentProfile, QStringLiteral("Alpha"));
        QCOMPARE(Global::ProfileSettings.EmailHost, QStringLiteral("pop.alpha"));
        QCOMPARE(lastProfile(), QStringLiteral("Alpha"));
        QCOMPARE(m_host->clears, clearsBefore);
        QCOMPARE(m_host->recycleRows, 3);
        QCOMPARE(m_host->inboxRows, 5);
    }
}

void TestProfileBar::sameEntryWritesNothing()
{
    startBar({QStringLiteral("Alpha"), QStringLiteral("Beta")}, QStringLiteral("Beta"));
    // Mark the stored value so that any write would show.
    writeValue(kTrelvikKey, QStringLiteral("LastProfile"), QStringLiteral("marker"));
    m_host->recycleRows = 2;
    const int clears = m_host->clears;
    Global::ProfileSettings.EmailHost = QStringLiteral("edited in memory");

    QTest::keyClick(box(), Qt::Key_F4);
    QTRY_VERIFY(box()->view()->isVisible());
    QTest::keyClick(box()->view(), Qt::Key_Return);
    QVERIFY(!box()->view()->isVisible());

    QCOMPARE(lastProfile(), QStringLiteral("marker"));
    QCOMPARE(m_host->clears, clears);
    QCOMPARE(Global::ProfileSettings.EmailHost, QStringLiteral("edited in memory"));
    VERIFY_BOXES(*m_boxes);
}

void TestProfileBar::typingNeverChangesTheBox()
{
    startBar({QStringLiteral("Alpha"), QStringLiteral("Beta"), QStringLiteral("Gamma")}, QStringLiteral("Alpha"));
    QTest::keyClicks(box(), QStringLiteral("gb "));
    QCOMPARE(box()->currentIndex(), 0);
    QCOMPARE(Global::CurrentProfile, QStringLiteral("Alpha"));
    // Moving through the entries is still a selection.
    QTest::keyClick(box(), Qt::Key_Down);
    QCOMPARE(box()->currentIndex(), 1);
    QCOMPARE(Global::CurrentProfile, QStringLiteral("Beta"));
}

void TestProfileBar::newProfileRefused_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QString>("title");
    QTest::newRow("blank") << "   " << "" << "Profile Name cannot be blank" << "Warning";
    QTest::newRow("existing") << " Beta " << "Beta" << "This profile already exists" << "New Profile";
    QTest::newRow("existing but for case") << "bETA" << "bETA" << "This profile already exists" << "New Profile";
    QTest::newRow("key separator") << "home\\work" << "home\\work" << "Profile Name cannot contain \\" << "Warning";
    QTest::newRow("listing end marker") << "Not Found" << "Not Found" << "Profile Name cannot be Not Found"
                                        << "Warning";
}

void TestProfileBar::newProfileRefused()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(QString, warning);
    QFETCH(QString, title);
    startBar({QStringLiteral("Alpha"), QStringLiteral("Beta")}, QStringLiteral("Alpha"));
    m_boxes->expect(warning, title, Icon::Exclamation);

    click("cmdNewProfile");
    auto *dialog = shownDialog<frmNewProfile>(m_host->window);
    QVERIFY(dialog);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("New Profile"));
    auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("txtProfile"));
    name->setText(typed);
    dialog->findChild<QPushButton *>(QStringLiteral("cmdOK"))->click();

    VERIFY_BOXES(*m_boxes);
    QVERIFY(dialog->isVisible());
    QCOMPARE(name->text(), shown);
    QCOMPARE(Global::NewProfileFlag, 0);
    QCOMPARE(Global::CurrentProfile, QStringLiteral("Alpha"));
    QVERIFY(!shownDialog<frmSetting>(m_host->window));
}

void TestProfileBar::newProfileSaved()
{
    startBar({QStringLiteral("Alpha"), QStringLiteral("Beta")}, QStringLiteral("Beta"));
    m_host->recycleRows = 4;
    m_host->inboxRows = 7;
    const int clears = m_host->clears;

    click("cmdNewProfile");
    auto *newDialog = shownDialog<frmNewProfile>(m_host->window);
    QVERIFY(newDialog);
    newDialog->findChild<QLineEdit *>(QStringLiteral("txtProfile"))->setText(QStringLiteral("  Delta "));
    newDialog->findChild<QPushButton *>(QStringLiteral("cmdOK"))->click();

    QVERIFY(!newDialog->isVisible());
    QCOMPARE(Global::PreviousProfile, QStringLiteral("Beta"));
    QCOMPARE(Global::CurrentProfile, QStringLiteral("Delta"));
    QCOMPARE(Global::NewProfileFlag, 1);
    auto *setting = shownDialog<frmSetting>(m_host->window);
    QVERIFY(setting);
    QCOMPARE(setting->windowTitle(), QStringLiteral("Profile Setting - Delta"));
    QCOMPARE(setting->findChild<QLineEdit *>(QStringLiteral("txtEmailPort"))->text(), QStringLiteral("995"));

    setting->findChild<QLineEdit *>(QStringLiteral("txtEmailHost"))->setText(QStringLiteral("pop.delta"));
    setting->findChild<QLineEdit *>(QStringLiteral("txtEmailUserId"))->setText(QStringLiteral("dee"));
    setting->findChild<QLineEdit *>(QStringLiteral("txtEmailPassword"))->setText(QStringLiteral("pw"));
    setting->findChild<QPushButton *>(QStringLiteral("cmdOK"))->click();

    VERIFY_BOXES(*m_boxes);
    QVERIFY(!setting->isVisible());
    QCOMPARE(Global::NewProfileFlag, 0);
    QCOMPARE(box()->count(), 3);
    QCOMPARE(box()->currentText(), QStringLiteral("Delta"));
    QCOMPARE(readValue(kSettingKeyPrefix + QStringLiteral("Delta"), QStringLiteral("EmailHost")),
             QStringLiteral("pop.delta"));
    // The previous profile's messages do not stay under the new one.
    QCOMPARE(m_host->clears, clears + 1);
    QCOMPARE(m_host->recycleRows, 0);
    QCOMPARE(m_host->inboxRows, 0);
    // Creating a profile does not make it the one loaded at the next start.
    QCOMPARE(lastProfile(), QStringLiteral("Beta"));
}

void TestProfileBar::newProfileCancelReloads_data()
{
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Cancel button") << false;
    QTest::newRow("window close box") << true;
}

void TestProfileBar::newProfileCancelReloads()
{
    QFETCH(bool, closeBox);
    startBar({QStringLiteral("Alpha"), QStringLiteral("Beta")}, QStringLiteral("Beta"));
    Global::ProfileSettings.EmailHost = QStringLiteral("not from the store");

    click("cmdNewProfile");
    auto *dialog = shownDialog<frmNewProfile>(m_host->window);
    QVERIFY(dialog);
    dialog->findChild<QLineEdit *>(QStringLiteral("txtProfile"))->setText(QStringLiteral("Delta"));
    if (closeBox)
        dialog->close();
    else
        dialog->findChild<QPushButton *>(QStringLiteral("cmdCancel"))->click();

    QVERIFY(!dialog->isVisible());
    QCOMPARE(Global::CurrentProfile, QStringLiteral("Beta"));
    QCOMPARE(Global::ProfileSettings.EmailHost, QStringLiteral("pop.beta"));
    QVERIFY(!shownDialog<frmSetting>(m_host->window));
    QCOMPARE(box()->count(), 2);
    VERIFY_BOXES(*m_boxes);
}

void TestProfileBar::newProfileSettingCancelled()
{
    startBar({QStringLiteral("Alpha")}, QStringLiteral("Alpha"));
    m_host->recycleRows = 1;
    click("cmdNewProfile");
    auto *newDialog = shownDialog<frmNewProfile>(m_host->window);
    QVERIFY(newDialog);
    newDialog->findChild<QLineEdit *>(QStringLiteral("txtProfile"))->setText(QStringLiteral("Delta"));
    newDialog->findChild<QPushButton *>(QStringLiteral("cmdOK"))->click();
    auto *setting = shownDialog<frmSetting>(m_host->window);
    QVERIFY(setting);
    Global::ProfileSettings.EmailHost = QStringLiteral("not from the store");
    setting->findChild<QPushButton *>(QStringLiteral("cmdCancel"))->click();

    VERIFY_BOXES(*m_boxes);
    QVERIFY(!setting->isVisible());
    QCOMPARE(Global::CurrentProfile, QStringLiteral("Alpha"));
    QCOMPARE(Global::ProfileSettings.EmailHost, QStringLiteral("pop.alpha"));
    QCOMPARE(Global::NewProfileFlag, 0);
    QCOMPARE(box()->count(), 1);
    QCOMPARE(m_host->recycleRows, 1);
    QCOMPARE(modRegistry::EnumStoreKey(modRegistry::HKEY_CURRENT_USER, kSettingKeyPrefix, 1),
             QStringLiteral("Not Found"));
}

void TestProfileBar::deleteProfile_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("next");
    QTest::newRow("first entry: the new first is selected") << 0 << "Beta";
    QTest::newRow("fourth entry: the third is selected") << 3 << "Gamma";
}

void TestProfileBar::deleteProfile()
{
    QFETCH(int, index);
    QFETCH(QString, next);
    const QStringList names{QStringLiteral("Alpha"), QStringLiteral("Beta"), QStringLiteral("Gamma"),
                            QStringLiteral("Omega")};
    startBar(names, names.at(index));
    const QString victim = names.at(index);
    m_boxes->expect(QStringLiteral("Confirm Delete '%1'").arg(victim), QStringLiteral("Delete Profile"), Icon::None,
                    Result::Yes);

    click("cmdDeleteProfile");

    VERIFY_BOXES(*m_boxes);
    QCOMPARE(box()->count(), 3);
    QCOMPARE(box()->currentText(), next);
    QCOMPARE(Global::CurrentProfile, next);
    QCOMPARE(Global::ProfileSettings.EmailHost, QStringLiteral("pop.") + next.toLower());
    QCOMPARE(lastProfile(), next);
    QCOMPARE(readValue(kSettingKeyPrefix + victim, QStringLiteral("EmailHost")), QStringLiteral("<missing>"));
}

void TestProfileBar::deleteAnsweredNo()
{
    startBar({QStringLiteral("Alpha"), QStringLiteral("Beta")}, QStringLiteral("Beta"));
    m_boxes->expect(QStringLiteral("Confirm Delete 'Beta'"), QStringLiteral("Delete Profile"), Icon::None, Result::No);
    click("cmdDeleteProfile");
    VERIFY_BOXES(*m_boxes);
    QCOMPARE(box()->count(), 2);
    QCOMPARE(Global::CurrentProfile, QStringLiteral("Beta"));
    QCOMPARE(readValue(kSettingKeyPrefix + QStringLiteral("Beta"), QStringLiteral("EmailHost")),
             QStringLiteral("pop.beta"));
}

void TestProfileBar::deleteWithEmptyBox()
{
    startBar({QStringLiteral("Alpha")}, QStringLiteral("Omega"));
    QCOMPARE(box()->currentIndex(), -1);
    Global::CurrentProfile = QStringLiteral("Alpha");
    click("cmdDeleteProfile");
    VERIFY_BOXES(*m_boxes);
    QCOMPARE(Global::CurrentProfile, QString());
    QCOMPARE(box()->count(), 1);
    QCOMPARE(lastProfile(), QStringLiteral("Omega"));
}

void TestProfileBar::deleteOnlyProfile()
{
    startBar({QStringLiteral("Alpha")}, QStringLiteral("Alpha"));
    const int clears = m_host->clears;
    m_boxes->expect(QStringLiteral("Confirm Delete 'Alpha'"), QStringLiteral("Delete Profile"), Icon::None,
                    Result::Yes);
    click("cmdDeleteProfile");
    QCOMPARE(box()->count(), 0);
    QCOMPARE(Global::CurrentProfile, QStringLiteral("Alpha"));
    QCOMPARE(Global::ProfileSettings.EmailHost, QStringLiteral("pop.alpha"));
    QCOMPARE(lastProfile(), QString());
    QCOMPARE(m_host->clears, clears);

    // "Setting" still edits the deleted profile, and its OK writes it back.
    click("cmdSetting");
    auto *setting = shownDialog<frmSetting>(m_host->window);
    QVERIFY(setting);
    QCOMPARE(setting->windowTitle(), QStringLiteral("Profile Setting - Alpha"));
    QCOMPARE(setting->findChild<QLineEdit *>(QStringLiteral("txtEmailHost"))->text(), QStringLiteral("pop.alpha"));
    setting->findChild<QLineEdit *>(QStringLiteral("txtEmailUserId"))->setText(QStringLiteral("al"));
    setting->findChild<QLineEdit *>(QStringLiteral("txtEmailPassword"))->setText(QStringLiteral("pw"));
    setting->findChild<QPushButton *>(QStringLiteral("cmdOK"))->click();
    VERIFY_BOXES(*m_boxes);
    QCOMPARE(box()->count(), 0);
    QCOMPARE(modRegistry::EnumStoreKey(modRegistry::HKEY_CURRENT_USER, kSettingKeyPrefix, 0), QStringLiteral("Alpha"));
}

void TestProfileBar::deleteThenSwitchRefused()
{
    startBar({QStringLiteral("Alpha"), QStringLiteral("Beta"), QStringLiteral("Gamma")}, QStringLiteral("Beta"));
    m_host->recycleRows = 2;
    const int clears = m_host->clears;
    m_boxes->expect(QStringLiteral("Confirm Delete 'Beta'"), QStringLiteral("Delete Profile"), Icon::None,
                    Result::Yes);
    m_boxes->expect(kSwitchQuestion.arg(QStringLiteral("Beta")), QStringLiteral("Trelvik"), Icon::Question,
                    Result::No);

    click("cmdDeleteProfile");

    VERIFY_BOXES(*m_boxes);
    // The box stays on a real entry and the stored last profile is that entry.
    QCOMPARE(box()->count(), 2);
    QCOMPARE(box()->currentText(), QStringLiteral("Alpha"));
    QCOMPARE(lastProfile(), QStringLiteral("Alpha"));
    // The refused switch keeps the messages and the deleted profile's settings.
    QCOMPARE(Global::CurrentProfile, QStringLiteral("Beta"));
    QCOMPARE(Global::ProfileSettings.EmailHost, QStringLiteral("pop.beta"));
    QCOMPARE(m_host->clears, clears);
    QCOMPARE(m_host->recycleRows, 2);

    // Choosing the entry the box shows switches to it.
    m_boxes->reset();
    m_boxes->expect(kSwitchQuestion.arg(QStringLiteral("Beta")), QStringLiteral("Trelvik"), Icon::Question,
                    Result::Yes);
    QTest::keyClick(box(), Qt::Key_F4);
    QTRY_VERIFY(box()->view()->isVisible());
    QTest::keyClick(box()->view(), Qt::Key_Return);
    VERIFY_BOXES(*m_boxes);
    QCOMPARE(Global::CurrentProfile, QStringLiteral("Alpha"));
    QCOMPARE(Global::ProfileSettings.EmailHost, QStringLiteral("pop.alpha"));
    QCOMPARE(m_host->recycleRows, 0);
}

void TestProfileBar::settingDialogTestsThroughTheHost()
{
    startBar({QStringLiteral("Alpha")}, QStringLiteral("Alpha"));
    m_host->tester = [](const Global::ProfileSettingsRecord &settings) {
        return ConnectionTestResult{true, QStringLiteral("Reached ") + settings.EmailHost};
    };
    click("cmdSetting");
    auto *setting = shownDialog<frmSetting>(m_host->window);
    QVERIFY(setting);
    m_boxes->expect(QStringLiteral("Reached pop.alpha"), QStringLiteral("Test Connection"), Icon::Information);
    setting->findChild<QPushButton *>(QStringLiteral("cmdTestConnection"))->click();
    VERIFY_BOXES(*m_boxes);
    QCOMPARE(m_host->tested.size(), 1);
    setting->findChild<QPushButton *>(QStringLiteral("cmdCancel"))->click();
    QVERIFY(!setting->isVisible());
}

QTEST_MAIN(TestProfileBar)
#include "tst_profilebar.moc"
