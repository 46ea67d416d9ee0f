#include "ProfileTestHelpers.h"
#include "Scramble.h"
#include "TestSupport.h"
#include "frmSetting.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace profiletest;
using MessageBox::Icon;
using MessageBox::Result;

namespace {

const QString kHome = QStringLiteral("Home");
const QString kSaveQuestion = QStringLiteral("Changes not saved.\r\nSave now?");

// Field values by object name; the check box by "chkAutodial" = "1".
using Fields = QMap<QString, QString>;

Fields validFields()
{
    return {{QStringLiteral("txtEmailHost"), QStringLiteral("pop.example.org")},
            {QStringLiteral("txtEmailPort"), QStringLiteral("110")},
            {QStringLiteral("txtEmailUserId"), QStringLiteral("joe")},
            {QStringLiteral("txtEmailPassword"), QStringLiteral("Secret")},
            {QStringLiteral("txtDialupNumber"), QString()},
            {QStringLiteral("txtDialupUserID"), QString()},
            {QStringLiteral("txtDialupPassword"), QString()},
            {QStringLiteral("chkAutodial"), QStringLiteral("0")}};
}

Fields dialupFields()
{
    Fields f = validFields();
    f[QStringLiteral("chkAutodial")] = QStringLiteral("1");
    f[QStringLiteral("txtDialupNumber")] = QStringLiteral("555-0100");
    f[QStringLiteral("txtDialupUserID")] = QStringLiteral("dialer");
    f[QStringLiteral("txtDialupPassword")] = QStringLiteral("dpw");
    return f;
}

} // namespace

class TestSettingDialog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void layoutAndTexts();
    void loadsCurrentProfile_data();
    void loadsCurrentProfile();
    void newProfileStartsBlank();
    void warningsInOrder_data();
    void warningsInOrder();
    void savesAllEight();
    void dialupPasswordOfSpaces();
    void focusRewrites();
    void enterInAFieldRewritesIt();
    void changeTracking_data();
    void changeTracking();
    void cancelYesSaves();
    void cancelYesWithInvalidFieldAbandonsNewProfile();
    void noCurrentProfile();
    void fieldLimits();

    void securityChoice();
    void portFollowsSecurity_data();
    void portFollowsSecurity();
    void securitySavedAndLoaded();
    void trustedCertificateOnOK_data();
    void trustedCertificateOnOK();
    void testConnection_data();
    void testConnection();
    void testConnectionPassesTrust_data();
    void testConnectionPassesTrust();
    void testConnectionNeedsServer();
    void testConnectionWithoutTester();
    void noClosingDuringTest();

private:
    frmSetting *open();
    QLineEdit *field(const char *name) const { return m_dialog->findChild<QLineEdit *>(QLatin1String(name)); }
    QCheckBox *check() const { return m_dialog->findChild<QCheckBox *>(QStringLiteral("chkAutodial")); }
    QComboBox *security() const { return m_dialog->findChild<QComboBox *>(QStringLiteral("cboEmailSecurity")); }
    void pressTest() { m_dialog->findChild<QPushButton *>(QStringLiteral("cmdTestConnection"))->click(); }
    void fill(const Fields &fields);
    void pressOK() { m_dialog->findChild<QPushButton *>(QStringLiteral("cmdOK"))->click(); }
    void pressCancel() { m_dialog->findChild<QPushButton *>(QStringLiteral("cmdCancel"))->click(); }
    void storeHome();

    std::unique_ptr<testsupport::TempHome> m_home;
    std::unique_ptr<testsupport::MessageBoxRecorder> m_boxes;
    std::unique_ptr<QWidget> m_owner;
    std::unique_ptr<FakeHost> m_host;
    std::unique_ptr<frmSetting> m_dialog;
};

void TestSettingDialog::init()
{
    m_home = std::make_unique<testsupport::TempHome>();
    QVERIFY(m_home->isValid());
    m_boxes = std::make_unique<testsupport::MessageBoxRecorder>();
    m_owner = std::make_unique<QWidget>();
    m_host = std::make_unique<FakeHost>();
    resetGlobals();
}

void TestSettingDialog::cleanup()
{
    m_dialog.reset();
    m_host.reset();
    m_owner.reset();
    m_boxes.reset();
    m_home.reset();
}

frmSetting *TestSettingDialog::open()
{
    m_dialog = std::make_unique<frmSetting>(m_owner.get(), m_host.get());
    m_dialog->show();
    return m_dialog.get();
}

void TestSettingDialog::fill(const Fields &fields)
{
    for (auto it = fields.constBegin(); it != fields.constEnd(); ++it) {
        if (it.key() == QLatin1String("chkAutodial"))
            check()->setChecked(it.value() == QLatin1String("1"));
        else
            m_dialog->findChild<QLineEdit *>(it.key())->setText(it.value());
    }
}

// The profile "Home" as stored and loaded.
void TestSettingDialog::storeHome()
{
    Global::CurrentProfile = kHome;
    auto &s = Global::ProfileSettings;
    s = {QStringLiteral("pop.home"), QStringLiteral("110"), QStringLiteral("joe"), QStringLiteral("Secret"),
         QStringLiteral("0"), QString(), QString(), QString(), kSecurityNone, QString()};
    writeValue(kSettingKeyPrefix + kHome, QStringLiteral("EmailHost"), s.EmailHost);
}

void TestSettingDialog::layoutAndTexts()
{
    storeHome();
    open();
    QCOMPARE(m_dialog->objectName(), QStringLiteral("frmSetting"));
    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("Profile Setting - Home"));
    QCOMPARE(m_dialog->findChild<QGroupBox *>(QStringLiteral("Frame1"))->title(), QStringLiteral("Email Setting"));
    QCOMPARE(m_dialog->findChild<QGroupBox *>(QStringLiteral("fraDialup"))->title(), QStringLiteral("Dialup Setting"));
    QCOMPARE(check()->text(), QStringLiteral("Automatically Dial && Hangup Connection"));
    QCOMPARE(field("txtEmailPassword")->echoMode(), QLineEdit::Password);
    QCOMPARE(field("txtDialupPassword")->echoMode(), QLineEdit::Password);
    auto *ok = m_dialog->findChild<QPushButton *>(QStringLiteral("cmdOK"));
    QVERIFY(ok->isDefault());
    QCOMPARE(ok->text(), QStringLiteral("OK"));

    const QStringList order{QStringLiteral("txtEmailHost"),      QStringLiteral("txtEmailPort"),
                            QStringLiteral("cboEmailSecurity"),  QStringLiteral("txtEmailUserId"),
                            QStringLiteral("txtEmailPassword"),  QStringLiteral("chkAutodial"),
                            QStringLiteral("txtDialupNumber"),   QStringLiteral("txtDialupUserID"),
                            QStringLiteral("txtDialupPassword"), QStringLiteral("cmdOK"),
                            QStringLiteral("cmdCancel"),         QStringLiteral("cmdTestConnection")};
    QWidget *w = m_dialog->findChild<QWidget *>(order.first());
    for (qsizetype i = 1; i < order.size(); ++i) {
        w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus)
            w = w->nextInFocusChain();
        QCOMPARE(w->objectName(), order.at(i));
        QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(order.at(i)));
    }
}

void TestSettingDialog::loadsCurrentProfile_data()
{
    QTest::addColumn<QString>("autodial");
    QTest::addColumn<bool>("checked");
    QTest::newRow("1 is checked") << "1" << true;
    QTest::newRow("0 is unchecked") << "0" << false;
    QTest::newRow("hand-edited 2 does not dial, so unchecked") << "2" << false;
}

void TestSettingDialog::loadsCurrentProfile()
{
    QFETCH(QString, autodial);
    QFETCH(bool, checked);
    Global::CurrentProfile = kHome;
    Global::ProfileSettings = {QStringLiteral("pop.home"), QStringLiteral("995"), QStringLiteral("joe"),
                               QStringLiteral("Secret"),   autodial,              QStringLiteral("555"),
                               QStringLiteral("dialer"),   QStringLiteral("dpw"),    kSecurityNone,
                               QString()};
    open();
    QCOMPARE(field("txtEmailHost")->text(), QStringLiteral("pop.home"));
    QCOMPARE(field("txtEmailPort")->text(), QStringLiteral("995"));
    QCOMPARE(field("txtEmailUserId")->text(), QStringLiteral("joe"));
    QCOMPARE(field("txtEmailPassword")->text(), QStringLiteral("Secret"));
    QCOMPARE(check()->isChecked(), checked);
    QCOMPARE(field("txtDialupNumber")->text(), QStringLiteral("555"));
    QCOMPARE(field("txtDialupUserID")->text(), QStringLiteral("dialer"));
    QCOMPARE(field("txtDialupPassword")->text(), QStringLiteral("dpw"));
    // Filling the fields is not an edit.
    QCOMPARE(Global::SettingsChanged, false);
}

void TestSettingDialog::newProfileStartsBlank()
{
    storeHome();
    Global::CurrentProfile = QStringLiteral("Delta");
    Global::NewProfileFlag = 1;
    open();
    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("Profile Setting - Delta"));
    // A new profile starts on POP3 over TLS.
    QCOMPARE(field("txtEmailPort")->text(), QStringLiteral("995"));
    QCOMPARE(security()->currentText(), QStringLiteral("SSL/TLS"));
    for (const char *name : {"txtEmailHost", "txtEmailUserId", "txtEmailPassword", "txtDialupNumber",
                             "txtDialupUserID", "txtDialupPassword"})
        QVERIFY2(field(name)->text().isEmpty(), name);
    QVERIFY(!check()->isChecked());
    m_boxes->expect(QStringLiteral("POP Server cannot be empty"), QStringLiteral("Warning"), Icon::Exclamation);
    pressOK();
    VERIFY_BOXES(*m_boxes);
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(Global::NewProfileFlag, 1);
}

void TestSettingDialog::warningsInOrder_data()
{
    QTest::addColumn<Fields>("fields");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QString>("focus");

    const auto with = [](Fields f, const char *name, const QString &value) {
        f[QLatin1String(name)] = value;
        return f;
    };
    const Fields valid = validFields();
    const Fields dial = dialupFields();
    const QString portRange = QStringLiteral("POP Server Port must be a number from 1 to 65535");

    Fields empty = dial;
    for (auto it = empty.begin(); it != empty.end(); ++it)
        it.value().clear();
    empty[QStringLiteral("chkAutodial")] = QStringLiteral("1");
    QTest::newRow("everything empty: the host first") << empty << "POP Server cannot be empty" << "txtEmailHost";
    QTest::newRow("port empty") << with(with(valid, "txtEmailPort", ""), "txtEmailUserId", "")
                                << "POP Server Port cannot be empty" << "txtEmailPort";
    QTest::newRow("port of spaces") << with(with(valid, "txtEmailPort", "   "), "txtEmailUserId", "") << portRange
                                    << "txtEmailPort";
    QTest::newRow("port 0") << with(valid, "txtEmailPort", "0") << portRange << "txtEmailPort";
    QTest::newRow("port 65536") << with(valid, "txtEmailPort", "65536") << portRange << "txtEmailPort";
    QTest::newRow("port with letters") << with(valid, "txtEmailPort", "11O") << portRange << "txtEmailPort";
    QTest::newRow("port with sign") << with(valid, "txtEmailPort", "+110") << portRange << "txtEmailPort";
    QTest::newRow("port with space") << with(valid, "txtEmailPort", " 110") << portRange << "txtEmailPort";
    QTest::newRow("port overflowing") << with(valid, "txtEmailPort", "99999999999999999999") << portRange
                                      << "txtEmailPort";
    QTest::newRow("user ID empty") << with(with(valid, "txtEmailUserId", ""), "txtEmailPassword", "")
                                   << "Email User ID cannot be empty" << "txtEmailUserId";
    QTest::newRow("password empty") << with(valid, "txtEmailPassword", "") << "Email Password cannot be empty"
                                    << "txtEmailPassword";
    QTest::newRow("autodial: number first")
        << with(with(with(dial, "txtDialupNumber", ""), "txtDialupUserID", ""), "txtDialupPassword", "")
        << "Dialup Number cannot be empty" << "txtDialupNumber";
    QTest::newRow("autodial: number of spaces") << with(dial, "txtDialupNumber", "   ")
                                                << "Dialup Number cannot be empty" << "txtDialupNumber";
    QTest::newRow("autodial: user ID next")
        << with(with(dial, "txtDialupUserID", ""), "txtDialupPassword", "") << "Dialup User ID cannot be empty"
        << "txtDialupUserID";
    QTest::newRow("autodial: user ID of spaces") << with(dial, "txtDialupUserID", "  ")
                                                 << "Dialup User ID cannot be empty" << "txtDialupUserID";
    QTest::newRow("autodial: password last") << with(dial, "txtDialupPassword", "")
                                             << "Dialup Password cannot be empty" << "txtDialupPassword";
}

void TestSettingDialog::warningsInOrder()
{
    QFETCH(Fields, fields);
    QFETCH(QString, warning);
    QFETCH(QString, focus);
    storeHome();
    const QString before = readValue(kSettingKeyPrefix + kHome, QStringLiteral("EmailHost"));
    open();
    fill(fields);
    m_boxes->expect(warning, QStringLiteral("Warning"), Icon::Exclamation);
    pressOK();
    VERIFY_BOXES(*m_boxes);
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(m_dialog->focusWidget()->objectName(), focus);
    QCOMPARE(readValue(kSettingKeyPrefix + kHome, QStringLiteral("EmailPort")), QStringLiteral("<missing>"));
    QCOMPARE(readValue(kSettingKeyPrefix + kHome, QStringLiteral("EmailHost")), before);
}

void TestSettingDialog::savesAllEight()
{
    storeHome();
    open();
    Fields f = dialupFields();
    f[QStringLiteral("txtEmailPort")] = QStringLiteral("00995");
    f[QStringLiteral("txtDialupNumber")] = QStringLiteral("  555-0100 ");
    f[QStringLiteral("txtEmailPassword")] = QStringLiteral("Pässwörd 🔑");
    fill(f);
    pressOK();
    VERIFY_BOXES(*m_boxes);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(Global::SettingsChanged, false);

    const QString key = kSettingKeyPrefix + kHome;
    QCOMPARE(readValue(key, QStringLiteral("EmailHost")), QStringLiteral("pop.example.org"));
    QCOMPARE(readValue(key, QStringLiteral("EmailPort")), QStringLiteral("00995"));
    QCOMPARE(readValue(key, QStringLiteral("EmailUserid")), QStringLiteral("joe"));
    QCOMPARE(readValue(key, QStringLiteral("Autodial")), QStringLiteral("1"));
    QCOMPARE(readValue(key, QStringLiteral("DialupNumber")), QStringLiteral("555-0100"));
    QCOMPARE(readValue(key, QStringLiteral("DialupUserID")), QStringLiteral("dialer"));
    // The passwords are stored scrambled, never as typed.
    const QString email = readValue(key, QStringLiteral("EmailPassword"));
    const QString dialup = readValue(key, QStringLiteral("DialupPassword"));
    QCOMPARE(email.size(), 246);
    QCOMPARE(modSecurity::UnscrambleText(email), QStringLiteral("Pässwörd 🔑"));
    QCOMPARE(modSecurity::UnscrambleText(dialup), QStringLiteral("dpw"));
    QCOMPARE(Global::ProfileSettings.DialupNumber, QStringLiteral("555-0100"));

    Global::ProfileSettings = {};
    LoadProfile(kHome);
    QCOMPARE(Global::ProfileSettings.EmailPassword, QStringLiteral("Pässwörd 🔑"));
    QCOMPARE(Global::ProfileSettings.DialupPassword, QStringLiteral("dpw"));
    QCOMPARE(Global::ProfileSettings.EmailUserid, QStringLiteral("joe"));
}

void TestSettingDialog::dialupPasswordOfSpaces()
{
    storeHome();
    open();
    Fields f = dialupFields();
    f[QStringLiteral("txtDialupPassword")] = QStringLiteral("    ");
    fill(f);
    pressOK();
    VERIFY_BOXES(*m_boxes);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(readValue(kSettingKeyPrefix + kHome, QStringLiteral("DialupPassword")), QString());
    QCOMPARE(Global::ProfileSettings.DialupPassword, QString());
}

void TestSettingDialog::focusRewrites()
{
    storeHome();
    open();
    QApplication::setActiveWindow(m_dialog.get());
    QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));

    const struct {
        const char *name;
        QString typed;
        QString shown;
    } rows[] = {
        {"txtEmailHost", QStringLiteral("  POP.Example.COM  "), QStringLiteral("pop.example.com")},
        {"txtEmailUserId", QStringLiteral(" Joe.Bloggs "), QStringLiteral("joe.bloggs")},
        {"txtEmailPassword", QStringLiteral("  PassWord  "), QStringLiteral("PassWord")},
        {"txtEmailPort", QStringLiteral(" 110 "), QStringLiteral(" 110 ")},
        {"txtDialupUserID", QStringLiteral(" Dialer "), QStringLiteral(" Dialer ")},
    };
    for (const auto &row : rows) {
        QLineEdit *edit = field(row.name);
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        edit->setText(row.typed);
        field("txtDialupNumber")->setFocus();
        QTRY_VERIFY(!edit->hasFocus());
        QCOMPARE(edit->text(), row.shown);
    }
}

void TestSettingDialog::enterInAFieldRewritesIt()
{
    storeHome();
    open();
    QApplication::setActiveWindow(m_dialog.get());
    QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));
    fill(validFields());
    field("txtEmailPassword")->setFocus();
    QTRY_VERIFY(field("txtEmailPassword")->hasFocus());
    field("txtEmailPassword")->setText(QStringLiteral("   "));
    // Enter presses the default button without moving the focus.
    m_boxes->expect(QStringLiteral("Email Password cannot be empty"), QStringLiteral("Warning"), Icon::Exclamation);
    QTest::keyClick(field("txtEmailPassword"), Qt::Key_Return);
    VERIFY_BOXES(*m_boxes);
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(readValue(kSettingKeyPrefix + kHome, QStringLiteral("EmailPassword")), QStringLiteral("<missing>"));
}

void TestSettingDialog::changeTracking_data()
{
    QTest::addColumn<QString>("edited");
    QTest::addColumn<bool>("asked");
    QTest::newRow("port alone is not tracked") << "txtEmailPort" << false;
    QTest::newRow("check box alone is not tracked") << "chkAutodial" << false;
    QTest::newRow("nothing edited") << "" << false;
    QTest::newRow("host") << "txtEmailHost" << true;
    QTest::newRow("user ID") << "txtEmailUserId" << true;
    QTest::newRow("password") << "txtEmailPassword" << true;
    QTest::newRow("phone number") << "txtDialupNumber" << true;
    QTest::newRow("dial-up user ID") << "txtDialupUserID" << true;
    QTest::newRow("dial-up password") << "txtDialupPassword" << true;
    QTest::newRow("connection security") << "cboEmailSecurity" << true;
}

void TestSettingDialog::changeTracking()
{
    QFETCH(QString, edited);
    QFETCH(bool, asked);
    storeHome();
    const auto settingsBefore = Global::ProfileSettings;
    open();
    if (edited == QLatin1String("chkAutodial"))
        check()->setChecked(true);
    else if (edited == QLatin1String("cboEmailSecurity"))
        security()->setCurrentText(QStringLiteral("STARTTLS"));
    else if (!edited.isEmpty())
        m_dialog->findChild<QLineEdit *>(edited)->setText(QStringLiteral("7"));
    QCOMPARE(Global::SettingsChanged, asked);
    if (asked)
        m_boxes->expect(kSaveQuestion, QStringLiteral("Save Setting"), Icon::Question, Result::No);
    // The window's close box goes the way of Cancel.
    m_dialog->close();
    VERIFY_BOXES(*m_boxes);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(Global::SettingsChanged, false);
    QCOMPARE(readValue(kSettingKeyPrefix + kHome, QStringLiteral("EmailPort")), QStringLiteral("<missing>"));
    QCOMPARE(Global::ProfileSettings.EmailHost, settingsBefore.EmailHost);
    QCOMPARE(Global::ProfileSettings.EmailPort, settingsBefore.EmailPort);
    QCOMPARE(Global::CurrentProfile, kHome);
}

void TestSettingDialog::cancelYesSaves()
{
    storeHome();
    open();
    field("txtEmailHost")->setText(QStringLiteral("pop.changed"));
    m_boxes->expect(kSaveQuestion, QStringLiteral("Save Setting"), Icon::Question, Result::Yes);
    pressCancel();
    VERIFY_BOXES(*m_boxes);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(readValue(kSettingKeyPrefix + kHome, QStringLiteral("EmailHost")), QStringLiteral("pop.changed"));
    QCOMPARE(Global::ProfileSettings.EmailHost, QStringLiteral("pop.changed"));
}

void TestSettingDialog::cancelYesWithInvalidFieldAbandonsNewProfile()
{
    storeHome();
    writeValue(kSettingKeyPrefix + kHome, QStringLiteral("EmailUserId"), QStringLiteral("joe"));
    Global::PreviousProfile = kHome;
    Global::CurrentProfile = QStringLiteral("Delta");
    Global::NewProfileFlag = 1;
    Global::ProfileSettings.EmailHost = QStringLiteral("not from the store");
    open();
    QSignalSpy saved(m_dialog.get(), &frmSetting::newProfileSaved);
    field("txtEmailHost")->setText(QStringLiteral("pop.delta"));
    m_boxes->expect(kSaveQuestion, QStringLiteral("Save Setting"), Icon::Question, Result::Yes);
    m_boxes->expect(QStringLiteral("Email User ID cannot be empty"), QStringLiteral("Warning"), Icon::Exclamation);
    QTest::keyClick(m_dialog.get(), Qt::Key_Escape);
    VERIFY_BOXES(*m_boxes);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(saved.count(), 0);
    QCOMPARE(Global::NewProfileFlag, 0);
    QCOMPARE(Global::CurrentProfile, kHome);
    QCOMPARE(Global::ProfileSettings.EmailHost, QStringLiteral("pop.home"));
    QCOMPARE(Global::ProfileSettings.EmailUserid, QStringLiteral("joe"));
    QCOMPARE(modRegistry::EnumStoreKey(modRegistry::HKEY_CURRENT_USER, kSettingKeyPrefix, 1),
             QStringLiteral("Not Found"));
}

void TestSettingDialog::noCurrentProfile()
{
    open();
    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("Profile Setting - "));
    fill(validFields());
    pressOK();
    VERIFY_BOXES(*m_boxes);
    QCOMPARE(readValue(QStringLiteral("Software\\Trelvik\\Setting"), QStringLiteral("EmailHost")),
             QStringLiteral("pop.example.org"));
    QCOMPARE(modRegistry::EnumStoreKey(modRegistry::HKEY_CURRENT_USER, kSettingKeyPrefix, 0),
             QStringLiteral("Not Found"));
    Global::ProfileSettings = {};
    LoadProfile(QString());
    QCOMPARE(Global::ProfileSettings.EmailHost, QStringLiteral("pop.example.org"));
    QCOMPARE(Global::ProfileSettings.EmailPassword, QStringLiteral("Secret"));
}

void TestSettingDialog::fieldLimits()
{
    open();
    QCOMPARE(field("txtDialupNumber")->maxLength(), 128);
    QCOMPARE(field("txtDialupUserID")->maxLength(), 256);
    QCOMPARE(field("txtDialupPassword")->maxLength(), 256);

    // The email password takes at most 999 UTF-8 bytes, whatever the characters.
    QLineEdit *password = field("txtEmailPassword");
    password->insert(QString(499, QChar(0xE4)));
    QCOMPARE(password->text().size(), 499);
    password->insert(QStringLiteral("ä"));
    QCOMPARE(password->text().size(), 499);
    password->insert(QStringLiteral("a"));
    QCOMPARE(password->text().toUtf8().size(), 999);
    password->insert(QStringLiteral("b"));
    QCOMPARE(password->text().toUtf8().size(), 999);

    fill(validFields());
    password->setText(QString());
    password->insert(QString(499, QChar(0xE4)) + QLatin1Char('a'));
    pressOK();
    VERIFY_BOXES(*m_boxes);
    Global::ProfileSettings = {};
    LoadProfile(QString());
    QCOMPARE(Global::ProfileSettings.EmailPassword, QString(499, QChar(0xE4)) + QLatin1Char('a'));
}

void TestSettingDialog::securityChoice()
{
    storeHome();
    open();
    QComboBox *box = security();
    QVERIFY(box);
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    QCOMPARE(items, (QStringList{QStringLiteral("None"), QStringLiteral("STARTTLS"), QStringLiteral("SSL/TLS")}));
    auto *form = qobject_cast<QFormLayout *>(m_dialog->findChild<QGroupBox *>(QStringLiteral("Frame1"))->layout());
    QVERIFY(form);
    auto *label = qobject_cast<QLabel *>(form->labelForField(box));
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("Connection Security"));
    // Right under the port.
    int portRow = -1, boxRow = -1;
    QFormLayout::ItemRole role;
    form->getWidgetPosition(field("txtEmailPort"), &portRow, &role);
    form->getWidgetPosition(box, &boxRow, &role);
    QCOMPARE(boxRow, portRow + 1);
    QCOMPARE(m_dialog->findChild<QPushButton *>(QStringLiteral("cmdTestConnection"))->text(),
             QStringLiteral("Test Connection"));
}

void TestSettingDialog::portFollowsSecurity_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("loaded");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("shown");
    QTest::newRow("110 to SSL/TLS is 995") << "110" << "None" << "SSL/TLS" << "995";
    QTest::newRow("995 to None is 110") << "995" << "SSL/TLS" << "None" << "110";
    QTest::newRow("995 to STARTTLS is 110") << "995" << "SSL/TLS" << "STARTTLS" << "110";
    QTest::newRow("110 to STARTTLS stays") << "110" << "None" << "STARTTLS" << "110";
    QTest::newRow("STARTTLS to None stays 110") << "110" << "STARTTLS" << "None" << "110";
    QTest::newRow("1995 to SSL/TLS stays") << "1995" << "None" << "SSL/TLS" << "1995";
    QTest::newRow("1995 to None stays") << "1995" << "SSL/TLS" << "None" << "1995";
    QTest::newRow("9950 to None stays") << "9950" << "SSL/TLS" << "None" << "9950";
    QTest::newRow("110 with a space stays") << " 110" << "None" << "SSL/TLS" << " 110";
    QTest::newRow("empty port stays empty") << "" << "None" << "SSL/TLS" << "";
    // Loading shows what is stored: no switch until the user chooses.
    QTest::newRow("stored SSL/TLS on 110 stays as loaded") << "110" << "SSL/TLS" << "SSL/TLS" << "110";
}

void TestSettingDialog::portFollowsSecurity()
{
    QFETCH(QString, port);
    QFETCH(QString, loaded);
    QFETCH(QString, chosen);
    QFETCH(QString, shown);
    storeHome();
    Global::ProfileSettings.EmailPort = port;
    Global::ProfileSettings.EmailSecurity = loaded;
    open();
    QCOMPARE(field("txtEmailPort")->text(), port);
    QCOMPARE(security()->currentText(), loaded);
    security()->setCurrentText(chosen);
    QCOMPARE(field("txtEmailPort")->text(), shown);
    // And back again.
    security()->setCurrentText(loaded);
    QCOMPARE(field("txtEmailPort")->text(), port);
}

void TestSettingDialog::securitySavedAndLoaded()
{
    storeHome();
    Global::ProfileSettings.EmailPort = QStringLiteral("995");
    Global::ProfileSettings.EmailSecurity = QStringLiteral("SSL/TLS");
    open();
    fill(validFields());
    field("txtEmailPort")->setText(QStringLiteral("995"));
    security()->setCurrentText(QStringLiteral("STARTTLS"));
    QCOMPARE(field("txtEmailPort")->text(), QStringLiteral("110"));
    pressOK();
    VERIFY_BOXES(*m_boxes);
    QVERIFY(!m_dialog->isVisible());
    const QString key = kSettingKeyPrefix + kHome;
    QCOMPARE(readValue(key, QStringLiteral("EmailSecurity")), QStringLiteral("STARTTLS"));
    QCOMPARE(readValue(key, QStringLiteral("EmailPort")), QStringLiteral("110"));
    QCOMPARE(Global::ProfileSettings.EmailSecurity, QStringLiteral("STARTTLS"));

    // The stored choice wins over the port's default when loaded again.
    Global::ProfileSettings = {};
    LoadProfile(kHome);
    QCOMPARE(Global::ProfileSettings.EmailSecurity, QStringLiteral("STARTTLS"));
    open();
    QCOMPARE(security()->currentText(), QStringLiteral("STARTTLS"));
    QCOMPARE(Global::SettingsChanged, false);
}

void TestSettingDialog::trustedCertificateOnOK_data()
{
    QTest::addColumn<QString>("edited");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("kept");
    QTest::newRow("host changed") << "txtEmailHost" << "pop.elsewhere" << false;
    QTest::newRow("host in capitals is the same server") << "txtEmailHost" << "POP.HOME" << true;
    QTest::newRow("security changed") << "cboEmailSecurity" << "STARTTLS" << false;
    QTest::newRow("user ID changed") << "txtEmailUserId" << "ann" << true;
    QTest::newRow("port changed") << "txtEmailPort" << "9995" << true;
    QTest::newRow("nothing changed") << "" << "" << true;
}

void TestSettingDialog::trustedCertificateOnOK()
{
    QFETCH(QString, edited);
    QFETCH(QString, value);
    QFETCH(bool, kept);
    const QString trusted(64, QLatin1Char('a'));
    storeHome();
    Global::ProfileSettings.EmailPort = QStringLiteral("995");
    Global::ProfileSettings.EmailSecurity = QStringLiteral("SSL/TLS");
    SaveTrustedCertificate(kHome, trusted);
    QCOMPARE(Global::ProfileSettings.TrustedCertificate, trusted);
    open();
    if (edited == QLatin1String("cboEmailSecurity"))
        security()->setCurrentText(value);
    else if (!edited.isEmpty())
        m_dialog->findChild<QLineEdit *>(edited)->setText(value);
    pressOK();
    VERIFY_BOXES(*m_boxes);
    QVERIFY(!m_dialog->isVisible());
    const QString expected = kept ? trusted : QString();
    QCOMPARE(Global::ProfileSettings.TrustedCertificate, expected);
    QCOMPARE(modRegistry::ReadStoreValue(modRegistry::HKEY_CURRENT_USER, kSettingKeyPrefix + kHome,
                                         QStringLiteral("TrustedCertificate"), QString()),
             expected);
    Global::ProfileSettings = {};
    LoadProfile(kHome);
    QCOMPARE(Global::ProfileSettings.TrustedCertificate, expected);
}

void TestSettingDialog::testConnection_data()
{
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("icon");
    const QString withheld = QStringLiteral("The test's report is not shown because it contains a password.");
    QTest::newRow("success") << true << "Logged in to pop.typed: 3 messages waiting."
                             << "Logged in to pop.typed: 3 messages waiting." << int(Icon::Information);
    QTest::newRow("failure") << false << "The server refused the password." << "The server refused the password."
                             << int(Icon::Critical);
    QTest::newRow("echoing the email password") << false << "-ERR bad command PASS Typed-Secret" << withheld
                                                << int(Icon::Critical);
    QTest::newRow("echoing the dial-up password") << true << "dialled with dial-pw ok" << withheld
                                                  << int(Icon::Information);
    QTest::newRow("no text on failure") << false << "" << "The connection test failed." << int(Icon::Critical);
    QTest::newRow("no text on success") << true << "" << "The connection works." << int(Icon::Information);
}

void TestSettingDialog::testConnection()
{
    QFETCH(bool, ok);
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QFETCH(int, icon);
    storeHome();
    const QString storeBefore = readValue(kSettingKeyPrefix + kHome, QStringLiteral("EmailHost"));
    open();
    fill(dialupFields());
    field("txtEmailHost")->setText(QStringLiteral("pop.typed"));
    field("txtEmailPassword")->setText(QStringLiteral("Typed-Secret"));
    field("txtDialupPassword")->setText(QStringLiteral("dial-pw"));
    security()->setCurrentText(QStringLiteral("STARTTLS"));
    bool enabledDuringTest = true;
    bool busyDuringTest = false;
    m_host->tester = [&](const Global::ProfileSettingsRecord &) {
        enabledDuringTest = m_dialog->isEnabled();
        busyDuringTest = QGuiApplication::overrideCursor()
            && QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
        return ConnectionTestResult{ok, text};
    };
    m_boxes->expect(shown, QStringLiteral("Test Connection"), Icon(icon));
    pressTest();
    VERIFY_BOXES(*m_boxes);

    QCOMPARE(m_host->tested.size(), 1);
    const auto &tested = m_host->tested.first();
    QCOMPARE(tested.EmailHost, QStringLiteral("pop.typed"));
    QCOMPARE(tested.EmailPort, QStringLiteral("110"));
    QCOMPARE(tested.EmailSecurity, QStringLiteral("STARTTLS"));
    QCOMPARE(tested.EmailUserid, QStringLiteral("joe"));
    QVERIFY(tested.EmailPassword == QStringLiteral("Typed-Secret"));
    QCOMPARE(tested.Autodial, QStringLiteral("1"));
    QCOMPARE(tested.DialupNumber, QStringLiteral("555-0100"));
    QVERIFY(tested.DialupPassword == QStringLiteral("dial-pw"));
    QVERIFY(!enabledDuringTest);
    QVERIFY(busyDuringTest);
    // Afterwards the dialog is usable again and nothing was saved.
    QVERIFY(m_dialog->isEnabled());
    QVERIFY(!QGuiApplication::overrideCursor());
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(readValue(kSettingKeyPrefix + kHome, QStringLiteral("EmailHost")), storeBefore);
    QCOMPARE(readValue(kSettingKeyPrefix + kHome, QStringLiteral("EmailSecurity")), QStringLiteral("<missing>"));
    QCOMPARE(Global::ProfileSettings.EmailHost, QStringLiteral("pop.home"));
    for (const MessageBox::Request &box : m_boxes->shown()) {
        QVERIFY(!box.text.contains(QStringLiteral("Typed-Secret")));
        QVERIFY(!box.text.contains(QStringLiteral("dial-pw")));
    }
}

void TestSettingDialog::testConnectionPassesTrust_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("passed");
    QTest::newRow("same server") << "pop.home" << true;
    QTest::newRow("another server") << "pop.other" << false;
}

void TestSettingDialog::testConnectionPassesTrust()
{
    QFETCH(QString, host);
    QFETCH(bool, passed);
    storeHome();
    Global::ProfileSettings.TrustedCertificate = QString(64, QLatin1Char('b'));
    open();
    field("txtEmailHost")->setText(host);
    m_host->tester = [](const Global::ProfileSettingsRecord &) { return ConnectionTestResult{true, QStringLiteral("ok")}; };
    m_boxes->expect(QStringLiteral("ok"), QStringLiteral("Test Connection"), Icon::Information);
    pressTest();
    VERIFY_BOXES(*m_boxes);
    QCOMPARE(m_host->tested.size(), 1);
    QCOMPARE(m_host->tested.first().TrustedCertificate, passed ? QString(64, QLatin1Char('b')) : QString());
    // A test is no save: the profile keeps its trust until OK.
    QCOMPARE(Global::ProfileSettings.TrustedCertificate, QString(64, QLatin1Char('b')));
}

void TestSettingDialog::testConnectionNeedsServer()
{
    storeHome();
    open();
    field("txtEmailHost")->setText(QString());
    m_boxes->expect(QStringLiteral("POP Server cannot be empty"), QStringLiteral("Warning"), Icon::Exclamation);
    pressTest();
    field("txtEmailHost")->setText(QStringLiteral("pop.home"));
    field("txtEmailPort")->setText(QStringLiteral("11O"));
    m_boxes->expect(QStringLiteral("POP Server Port must be a number from 1 to 65535"), QStringLiteral("Warning"),
                    Icon::Exclamation);
    pressTest();
    VERIFY_BOXES(*m_boxes);
    QVERIFY(m_host->tested.isEmpty());
    QCOMPARE(m_dialog->focusWidget()->objectName(), QStringLiteral("txtEmailPort"));
}

void TestSettingDialog::testConnectionWithoutTester()
{
    storeHome();
    // A host without a tester of its own, and a dialog without a host.
    open();
    m_boxes->expect(ProfileHost::testingUnavailable().text, QStringLiteral("Test Connection"), Icon::Critical);
    pressTest();
    QCOMPARE(m_host->tested.size(), 1);
    m_dialog = std::make_unique<frmSetting>(m_owner.get());
    m_dialog->show();
    m_boxes->expect(ProfileHost::testingUnavailable().text, QStringLiteral("Test Connection"), Icon::Critical);
    pressTest();
    VERIFY_BOXES(*m_boxes);
}

// The tester waits for the server inside the event loop; Esc or the close
// box meanwhile must not close (and so delete) the dialog under it.
void TestSettingDialog::noClosingDuringTest()
{
    storeHome();
    open();
    field("txtEmailHost")->setText(QStringLiteral("pop.changed"));
    bool visibleAfterClose = false;
    m_host->tester = [&](const Global::ProfileSettingsRecord &) {
        m_dialog->close();
        QTest::keyClick(m_dialog.get(), Qt::Key_Escape);
        visibleAfterClose = m_dialog->isVisible();
        return ConnectionTestResult{false, QStringLiteral("Connection refused.")};
    };
    m_boxes->expect(QStringLiteral("Connection refused."), QStringLiteral("Test Connection"), Icon::Critical);
    pressTest();
    VERIFY_BOXES(*m_boxes);
    QVERIFY(visibleAfterClose);
    QVERIFY(m_dialog->isVisible());
    // Cancel still works afterwards, with its question.
    m_boxes->expect(kSaveQuestion, QStringLiteral("Save Setting"), Icon::Question, Result::No);
    pressCancel();
    VERIFY_BOXES(*m_boxes);
    QVERIFY(!m_dialog->isVisible());
}

QTEST_MAIN(TestSettingDialog)
#include "tst_settingdialog.moc"
