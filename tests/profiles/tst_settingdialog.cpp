#include "ProfileTestHelpers.h"
#include "frmSetting.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>

#include <memory>

using namespace profiletest;
using MessageBox::Icon;
using MessageBox::Result;

namespace {

const QString kHome = u"Home"_qs;
const QString kSave = QStringLiteral("Changes not saved.\r\nSave now?");
const QString kPortRange = u"POP Server Port must be a number from 1 to 65535"_qs;

// Field values by object name: the check box checked by "1", the security
// box by its text.
using Fields = QMap<QString, QString>;

// A valid form with dial-up on, with some fields changed.
Fields form(const Fields &changes = {})
{
    Fields f{{"txtEmailHost", "pop.example.org"}, {"txtEmailPort", "110"},    {"txtEmailUserId", "joe"},
             {"txtEmailPassword", "Secret"},      {"chkAutodial", "1"},       {"txtDialupNumber", "555-0100"},
             {"txtDialupUserID", "dialer"},       {"txtDialupPassword", "dpw"}};
    f.insert(changes);
    return f;
}

} // namespace

class TestSettingDialog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup() { m_dialog.reset(), m_env.reset(); }
    void warningsInOrder_data();
    void warningsInOrder();
    void savedScrambled_data();
    void savedScrambled();
    void rewrittenOnLeavingAField();
    void editAndLeave_data();
    void editAndLeave();
    void newProfileFailingToSave();
    void noCurrentProfileAndFieldLimits();
    void portFollowsSecurity_data();
    void portFollowsSecurity();
    void testConnection_data();
    void testConnection();
    void noClosingDuringTest();

private:
    void open();
    QLineEdit *field(const QString &name) const { return child<QLineEdit>(m_dialog.get(), name); }
    QComboBox *security() const { return child<QComboBox>(m_dialog.get(), "cboEmailSecurity"); }
    void fill(const Fields &fields);
    void press(const char *button) { click(m_dialog.get(), QLatin1String(button)); }
    void expect(const QString &text, const QString &title, Icon icon, Result answer = Result::Ok)
    {
        m_env->boxes.expect(text, title, icon, answer);
    }

    std::unique_ptr<Env> m_env;
    std::unique_ptr<frmSetting> m_dialog;
};

// The current profile "Home", stored and loaded.
void TestSettingDialog::init()
{
    m_env = std::make_unique<Env>();
    Global::CurrentProfile = kHome;
    Global::ProfileSettings = {"pop.home", "110", "joe", "Secret", "0", "", "", "", "None", ""};
    seedProfile(kHome);
}

void TestSettingDialog::open()
{
    m_dialog = std::make_unique<frmSetting>(&m_env->host.window, &m_env->host);
    m_dialog->show();
}

void TestSettingDialog::fill(const Fields &fields)
{
    for (auto it = fields.constBegin(); it != fields.constEnd(); ++it) {
        if (it.key() == QLatin1String("chkAutodial"))
            child<QCheckBox>(m_dialog.get(), it.key())->setChecked(it.value() == QLatin1String("1"));
        else if (it.key() == QLatin1String("cboEmailSecurity"))
            security()->setCurrentText(it.value());
        else
            field(it.key())->setText(it.value());
    }
}

void TestSettingDialog::warningsInOrder_data()
{
    // The email checks come first, whatever the dial-up fields hold.
    QTest::addColumn<Fields>("fields");
    QTest::addColumn<QString>("focus");
    QTest::addColumn<QString>("warning");
    Fields empty;
    for (const QString &name : form().keys())
        empty[name] = name == QLatin1String("chkAutodial") ? "1" : "";
    QTest::newRow("everything empty: host") << empty << "txtEmailHost" << "POP Server cannot be empty";
    QTest::newRow("port empty") << form({{"txtEmailPort", ""}, {"txtEmailUserId", ""}}) << "txtEmailPort"
                                << "POP Server Port cannot be empty";
    QTest::newRow("port of spaces") << form({{"txtEmailPort", "   "}}) << "txtEmailPort" << kPortRange;
    QTest::newRow("port 0") << form({{"txtEmailPort", "0"}}) << "txtEmailPort" << kPortRange;
    QTest::newRow("port 65536") << form({{"txtEmailPort", "65536"}}) << "txtEmailPort" << kPortRange;
    QTest::newRow("port with sign") << form({{"txtEmailPort", "+110"}}) << "txtEmailPort" << kPortRange;
    QTest::newRow("port overflowing") << form({{"txtEmailPort", "99999999999999999999"}}) << "txtEmailPort"
                                      << kPortRange;
    QTest::newRow("user ID") << form({{"txtEmailUserId", ""}, {"txtEmailPassword", ""}}) << "txtEmailUserId"
                             << "Email User ID cannot be empty";
    QTest::newRow("password") << form({{"txtEmailPassword", ""}, {"txtDialupNumber", ""}}) << "txtEmailPassword"
                              << "Email Password cannot be empty";
    QTest::newRow("dial-up number of spaces") << form({{"txtDialupNumber", "  "}, {"txtDialupUserID", ""}})
                                              << "txtDialupNumber" << "Dialup Number cannot be empty";
    QTest::newRow("dial-up user ID") << form({{"txtDialupUserID", " "}, {"txtDialupPassword", ""}})
                                     << "txtDialupUserID" << "Dialup User ID cannot be empty";
    QTest::newRow("dial-up password") << form({{"txtDialupPassword", ""}}) << "txtDialupPassword"
                                      << "Dialup Password cannot be empty";
}

void TestSettingDialog::warningsInOrder()
{
    QFETCH(Fields, fields);
    QFETCH(QString, focus);
    QFETCH(QString, warning);
    open();
    fill(fields);
    expect(warning, "Warning", Icon::Exclamation);
    press("cmdOK");
    VERIFY_BOXES(m_env->boxes);
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(m_dialog->focusWidget()->objectName(), focus);
    QCOMPARE(profileValue(kHome, "EmailPort"), kMissing);
}

void TestSettingDialog::savedScrambled_data()
{
    QTest::addColumn<QString>("dialupPassword");
    QTest::addColumn<QString>("kept");
    QTest::newRow("dial-up password") << "dpw" << "dpw";
    // Not blank to the check, so it passes; trimmed when stored.
    QTest::newRow("dial-up password of spaces is stored empty") << "    " << "";
}

void TestSettingDialog::savedScrambled()
{
    QFETCH(QString, dialupPassword);
    QFETCH(QString, kept);
    open();
    // STARTTLS, chosen after the port, moves it from 995 to 110.
    fill(form({{"txtEmailPort", "995"}, {"txtDialupNumber", " 555-0100 "}, {"txtEmailPassword", "Pässwörd 🔑"},
               {"txtDialupPassword", dialupPassword}}));
    fill({{"cboEmailSecurity", "STARTTLS"}});
    press("cmdOK");
    VERIFY_BOXES(m_env->boxes);
    QVERIFY(!m_dialog->isVisible());
    const QStringList expected{"pop.example.org", "110", "joe", "Pässwörd 🔑", "1", "555-0100", "dialer", kept,
                               "STARTTLS", ""};
    QCOMPARE(fields(Global::ProfileSettings), expected);
    // The passwords are stored scrambled, never as typed.
    QCOMPARE(profileValue(kHome, "EmailPassword").size(), 246);
    QCOMPARE(profileValue(kHome, "DialupPassword").size(), kept.isEmpty() ? 0 : 246);
    Global::ProfileSettings = {};
    LoadProfile(kHome);
    QCOMPARE(fields(Global::ProfileSettings), expected);
}

void TestSettingDialog::rewrittenOnLeavingAField()
{
    open();
    QApplication::setActiveWindow(m_dialog.get());
    QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));
    const QList<QStringList> rows{{"txtEmailHost", "  POP.Example.COM  ", "pop.example.com"},
                                  {"txtEmailUserId", " Joe.Bloggs ", "joe.bloggs"},
                                  {"txtEmailPassword", "  PassWord  ", "PassWord"},
                                  {"txtEmailPort", " 110 ", " 110 "},
                                  {"txtDialupUserID", " Dialer ", " Dialer "}};
    for (const QStringList &row : rows) {
        field(row[0])->setFocus();
        QTRY_VERIFY(field(row[0])->hasFocus());
        field(row[0])->setText(row[1]);
        field("txtDialupNumber")->setFocus();
        QTRY_COMPARE(field(row[0])->text(), row[2]);
    }
    // Enter presses OK without leaving the field: it is rewritten all the same.
    fill(form({{"txtEmailPassword", "   "}}));
    field("txtEmailPassword")->setFocus();
    QTRY_VERIFY(field("txtEmailPassword")->hasFocus());
    expect("Email Password cannot be empty", "Warning", Icon::Exclamation);
    QTest::keyClick(field("txtEmailPassword"), Qt::Key_Return);
    VERIFY_BOXES(m_env->boxes);
    QCOMPARE(profileValue(kHome, "EmailPassword"), kMissing);
}

void TestSettingDialog::editAndLeave_data()
{
    // One field edited, then the dialog left by the close box (which goes
    // the way of Cancel) answering the save question No or Yes, or by OK.
    // The port and the check box are no tracked change; a trusted
    // certificate goes when the server (host or security) changes.
    QTest::addColumn<QString>("edited");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("leave");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("trustKept");
    QTest::newRow("port, close") << "txtEmailPort" << "9995" << "close" << false << true;
    QTest::newRow("check box, close") << "chkAutodial" << "1" << "close" << false << true;
    QTest::newRow("dial-up password, No") << "txtDialupPassword" << "x" << "No" << true << true;
    QTest::newRow("security, No") << "cboEmailSecurity" << "STARTTLS" << "No" << true << true;
    QTest::newRow("host, Yes saves") << "txtEmailHost" << "pop.elsewhere" << "Yes" << true << false;
    QTest::newRow("host in capitals is the same server, OK") << "txtEmailHost" << "POP.HOME" << "OK" << true << true;
    QTest::newRow("security, OK") << "cboEmailSecurity" << "STARTTLS" << "OK" << true << false;
    QTest::newRow("port, OK") << "txtEmailPort" << "9995" << "OK" << false << true;
}

void TestSettingDialog::editAndLeave()
{
    QFETCH(QString, edited);
    QFETCH(QString, value);
    QFETCH(QString, leave);
    QFETCH(bool, asked);
    QFETCH(bool, trustKept);
    const QString trusted(64, u'a');
    SaveTrustedCertificate(kHome, trusted);
    const QStringList before = fields(Global::ProfileSettings);
    open();
    QCOMPARE(Global::SettingsChanged, false); // filling the fields is no edit
    fill({{edited, value}});
    QCOMPARE(Global::SettingsChanged, asked);
    const bool saved = leave == QLatin1String("Yes") || leave == QLatin1String("OK");
    if (leave == QLatin1String("OK")) {
        press("cmdOK");
    } else {
        if (asked)
            expect(kSave, "Save Setting", Icon::Question, saved ? Result::Yes : Result::No);
        m_dialog->close();
    }
    VERIFY_BOXES(m_env->boxes);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(Global::SettingsChanged, false);
    QCOMPARE(profileValue(kHome, "EmailUserId"), saved ? u"joe"_qs : kMissing);
    if (!saved)
        QCOMPARE(fields(Global::ProfileSettings), before);
    QCOMPARE(Global::ProfileSettings.TrustedCertificate, trustKept ? trusted : QString());
    QCOMPARE(profileValue(kHome, "TrustedCertificate"), trustKept ? trusted : QString());
}

void TestSettingDialog::newProfileFailingToSave()
{
    // Cancel's Yes with a field missing keeps the dialog open on that field,
    // the edits intact; a second Cancel answered No abandons the new profile
    // for the previous one.
    Global::PreviousProfile = kHome;
    Global::CurrentProfile = u"Delta"_qs;
    Global::NewProfileFlag = 1;
    open();
    QSignalSpy saved(m_dialog.get(), &frmSetting::newProfileSaved);
    field("txtEmailHost")->setText("pop.delta");
    expect(kSave, "Save Setting", Icon::Question, Result::Yes);
    expect("Email User ID cannot be empty", "Warning", Icon::Exclamation);
    QTest::keyClick(m_dialog.get(), Qt::Key_Escape);
    VERIFY_BOXES(m_env->boxes);
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(field("txtEmailHost")->text(), u"pop.delta"_qs);
    QCOMPARE(Global::CurrentProfile, u"Delta"_qs);
    expect(kSave, "Save Setting", Icon::Question, Result::No);
    QTest::keyClick(m_dialog.get(), Qt::Key_Escape);
    VERIFY_BOXES(m_env->boxes);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(saved.count(), 0);
    QCOMPARE(Global::NewProfileFlag, 0);
    QCOMPARE(Global::CurrentProfile, kHome);
    QCOMPARE(Global::ProfileSettings.EmailHost, u"pop.home"_qs);
    QCOMPARE(storedProfiles(), QStringList{kHome});
}

void TestSettingDialog::noCurrentProfileAndFieldLimits()
{
    Global::CurrentProfile.clear();
    open();
    QCOMPARE(m_dialog->windowTitle(), u"Profile Setting - "_qs);
    fill(form());
    QCOMPARE(field("txtDialupNumber")->maxLength(), 128);
    QCOMPARE(field("txtDialupUserID")->maxLength(), 256);
    QCOMPARE(field("txtDialupPassword")->maxLength(), 256);
    // The email password takes at most 999 UTF-8 bytes, whatever the characters.
    QLineEdit *password = field("txtEmailPassword");
    password->clear();
    const QString longest = QString(499, QChar(0xE4)) + u'a';
    for (const QString &typed : {QString(499, QChar(0xE4)), u"ä"_qs, u"a"_qs, u"b"_qs})
        password->insert(typed);
    QCOMPARE(password->text(), longest);
    press("cmdOK");
    VERIFY_BOXES(m_env->boxes);
    // The values go into the "Setting" key itself, which lists no new profile.
    QCOMPARE(readValue("Software\\Trelvik\\Setting", "EmailHost"), u"pop.example.org"_qs);
    QCOMPARE(storedProfiles(), QStringList{kHome});
    Global::ProfileSettings = {};
    LoadProfile(QString());
    QCOMPARE(Global::ProfileSettings.EmailPassword, longest);
}

void TestSettingDialog::portFollowsSecurity_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("loaded");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("shown");
    QTest::newRow("110 to SSL/TLS is 995") << "110" << "None" << "SSL/TLS" << "995";
    QTest::newRow("995 to STARTTLS is 110") << "995" << "SSL/TLS" << "STARTTLS" << "110";
    QTest::newRow("110 to STARTTLS stays") << "110" << "None" << "STARTTLS" << "110";
    QTest::newRow("1995 to None stays") << "1995" << "SSL/TLS" << "None" << "1995";
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
    Global::ProfileSettings.EmailPort = port;
    Global::ProfileSettings.EmailSecurity = loaded;
    open();
    QCOMPARE(security()->currentText(), loaded);
    security()->setCurrentText(chosen);
    QCOMPARE(field("txtEmailPort")->text(), shown);
    security()->setCurrentText(loaded); // and back again
    QCOMPARE(field("txtEmailPort")->text(), port);
}

void TestSettingDialog::testConnection_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    const QString withheld = u"The test's report is not shown because it contains a password."_qs;
    QTest::newRow("success on the same server, which keeps its trust")
        << "pop.home" << true << "Logged in: 3 messages waiting." << "Logged in: 3 messages waiting.";
    QTest::newRow("echoing the email password") << "pop.typed" << false << "-ERR PASS Typed-Secret" << withheld;
    QTest::newRow("echoing the dial-up password") << "pop.typed" << true << "dialled dial-pw" << withheld;
    QTest::newRow("no text on failure") << "pop.typed" << false << "" << "The connection test failed.";
}

void TestSettingDialog::testConnection()
{
    QFETCH(QString, host);
    QFETCH(bool, ok);
    QFETCH(QString, text);
    QFETCH(QString, shown);
    const QString trusted(64, u'b');
    Global::ProfileSettings.TrustedCertificate = trusted;
    open();
    const bool sameServer = host == QLatin1String("pop.home");
    const QString chosen = sameServer ? "None" : "STARTTLS";
    fill(form({{"txtEmailHost", host}, {"txtEmailPassword", "Typed-Secret"}, {"txtDialupPassword", "dial-pw"},
               {"cboEmailSecurity", chosen}}));
    bool enabled = true, busy = false;
    m_env->host.tester = [&](const Global::ProfileSettingsRecord &) {
        enabled = m_dialog->isEnabled();
        busy = QGuiApplication::overrideCursor() && QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
        return ConnectionTestResult{ok, text};
    };
    expect(shown, "Test Connection", ok ? Icon::Information : Icon::Critical);
    press("cmdTestConnection");
    VERIFY_BOXES(m_env->boxes);
    QCOMPARE(m_env->host.tested.size(), 1);
    QCOMPARE(fields(m_env->host.tested.first()),
             (QStringList{host, "110", "joe", "Typed-Secret", "1", "555-0100", "dialer", "dial-pw",
                          chosen, sameServer ? trusted : QString()}));
    QVERIFY(!enabled && busy);
    // Afterwards the dialog is usable again and nothing was saved.
    QVERIFY(m_dialog->isEnabled() && m_dialog->isVisible() && !QGuiApplication::overrideCursor());
    QCOMPARE(profileValue(kHome, "EmailHost"), u"pop.home"_qs);
    QCOMPARE(Global::ProfileSettings.TrustedCertificate, trusted);
}

// The tester waits for the server inside the event loop; Esc or the close
// box meanwhile must not close (and so delete) the dialog under it.
void TestSettingDialog::noClosingDuringTest()
{
    open();
    field("txtEmailHost")->setText("pop.changed");
    bool visible = false;
    m_env->host.tester = [&](const Global::ProfileSettingsRecord &) {
        m_dialog->close();
        QTest::keyClick(m_dialog.get(), Qt::Key_Escape);
        visible = m_dialog->isVisible();
        return ConnectionTestResult{false, u"Connection refused."_qs};
    };
    expect("Connection refused.", "Test Connection", Icon::Critical);
    press("cmdTestConnection");
    QVERIFY(visible && m_dialog->isVisible());
    // Cancel still works afterwards, with its question.
    expect(kSave, "Save Setting", Icon::Question, Result::No);
    press("cmdCancel");
    VERIFY_BOXES(m_env->boxes);
    QVERIFY(!m_dialog->isVisible());
}

QTEST_MAIN(TestSettingDialog)
#include "tst_settingdialog.moc"
