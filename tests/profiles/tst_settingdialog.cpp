#include "ProfileTestHelpers.h"
#include "AccountSettings.h"
#include "frmSetting.h"
#include "OAuthSignInWidget.h"
#include "ProfileSecrets.h"
#include "ProfileStore.h"
#include "ScrambledSecretStore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QTimer>

#include <memory>

using namespace profiletest;
using MessageBox::Icon;
using MessageBox::Result;

namespace {

const QString kHome = u"Home"_qs;
const QString kSave = QStringLiteral("Changes not saved.\r\nSave now?");
const QString kPortRange = u"POP Server Port must be a number from 1 to 65535"_qs;

// Field values by object name, the check box checked by "1".
using Fields = QMap<QString, QString>;

// A valid form with dial-up on, with some fields changed.
Fields form(const Fields &changes = {})
{
    Fields f{{"txtEmailHost", "pop.example.org"}, {"txtEmailPort", "110"},     {"txtEmailUserId", "joe"},
             {"txtEmailPassword", "Secret"},      {"chkAutodial", "1"},        {"txtDialupNumber", "555-0100"},
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
    void savedScrambled();
    void editAndLeave_data();
    void editAndLeave();
    void cancelYesWithRefusedField();
    void saveFailureKeepsDialogOpen();
    void noCurrentProfile();
    void portFollowsSecurity();
    void imapProtocol();
    void testConnection();
    void testKeepsRenewedSignIn_data();
    void testKeepsRenewedSignIn();
    void unreadSignInSurvivesOK();
    void testAsksForUnreadPassword_data();
    void testAsksForUnreadPassword();
    void testAsksBeforeClearText();
    void fieldsLineUp();

private:
    // previousProfile set: the dialog of a profile New just named.
    void open(const std::optional<QString> &previousProfile = std::nullopt);
    QLineEdit *field(const QString &name) const { return child<QLineEdit>(m_dialog.get(), name); }
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
    m_env->profile.setName(kHome);
    m_env->profile.settings() = {};
    m_env->profile.settings().EmailHost = QStringLiteral("pop.home");
    m_env->profile.settings().EmailPort = QStringLiteral("110");
    m_env->profile.settings().EmailUserid = QStringLiteral("joe");
    m_env->profile.settings().EmailPassword = QStringLiteral("Secret");
    m_env->profile.settings().Autodial = QStringLiteral("0");
    m_env->profile.settings().EmailSecurity = QStringLiteral("None");
    seedProfile(kHome);
}

void TestSettingDialog::open(const std::optional<QString> &previousProfile)
{
    m_dialog = std::make_unique<frmSetting>(m_env->profile, &m_env->host.window, &m_env->host, previousProfile);
    m_dialog->show();
}

void TestSettingDialog::fill(const Fields &fields)
{
    for (auto it = fields.constBegin(); it != fields.constEnd(); ++it) {
        if (it.key() == QLatin1String("chkAutodial"))
            child<QCheckBox>(m_dialog.get(), it.key())->setChecked(it.value() == QLatin1String("1"));
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
    QTest::newRow("host") << form({{"txtEmailHost", ""}, {"txtEmailPort", ""}, {"txtDialupNumber", ""}})
                          << "txtEmailHost"
                          << "POP Server cannot be empty";
    QTest::newRow("port empty") << form({{"txtEmailPort", ""}, {"txtEmailUserId", ""}}) << "txtEmailPort"
                                << "POP Server Port cannot be empty";
    QTest::newRow("port 65536") << form({{"txtEmailPort", "65536"}}) << "txtEmailPort" << kPortRange;
    QTest::newRow("user ID") << form({{"txtEmailUserId", ""}, {"txtEmailPassword", ""}}) << "txtEmailUserId"
                             << "Email User ID cannot be empty";
    QTest::newRow("password") << form({{"txtEmailPassword", ""}, {"txtDialupNumber", ""}}) << "txtEmailPassword"
                              << "Email Password cannot be empty";
    QTest::newRow("dial-up number, box checked")
        << form({{"txtDialupNumber", "  "}, {"txtDialupPassword", ""}}) << "txtDialupNumber"
        << "Dialup Number cannot be empty";
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

void TestSettingDialog::savedScrambled()
{
    open();
    // A dial-up password of spaces is not blank to the check; trimmed, it is stored empty.
    fill(form({{"txtDialupPassword", "    "}}));
    press("cmdOK");
    VERIFY_BOXES(m_env->boxes);
    QVERIFY(!m_dialog->isVisible());
    const QStringList expected{"pop.example.org", "110", "joe", "Secret", "1", "555-0100", "dialer", "", "None", ""};
    QCOMPARE(fields(m_env->profile.settings()), expected);
    // The password is stored scrambled, never as typed.
    QCOMPARE(profileValue(kHome, "EmailPassword").size(), 246);
    QCOMPARE(profileValue(kHome, "DialupPassword"), QString());
    m_env->profile.settings() = {};
    m_env->profile.LoadProfile(kHome);
    QCOMPARE(fields(m_env->profile.settings()), expected);
}

void TestSettingDialog::editAndLeave_data()
{
    // One field edited, then the dialog left by Cancel answering No, or by
    // the close box (the way of Cancel) answering Yes. The port and the check
    // box are no tracked change; a trusted certificate goes with a new host.
    QTest::addColumn<QString>("edited");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("leave");
    QTest::addColumn<bool>("asked");
    QTest::newRow("port, close box") << "txtEmailPort"
                                     << "9995"
                                     << "close" << false;
    QTest::newRow("check box, close box") << "chkAutodial"
                                          << "1"
                                          << "close" << false;
    QTest::newRow("dial-up password, Cancel then No") << "txtDialupPassword"
                                                      << "x"
                                                      << "No" << true;
    QTest::newRow("host, close box then Yes saves") << "txtEmailHost"
                                                    << "pop.elsewhere"
                                                    << "Yes" << true;
}

void TestSettingDialog::editAndLeave()
{
    QFETCH(QString, edited);
    QFETCH(QString, value);
    QFETCH(QString, leave);
    QFETCH(bool, asked);
    const bool trustKept = edited != QLatin1String("txtEmailHost");
    const QString trusted(64, u'a');
    QVERIFY(ProfileStore().saveTrustedCertificate(kHome, trusted));
    m_env->profile.settings().TrustedCertificate = trusted; // as the run that trusted it keeps it
    // The boxes show the learning's stored choices, and an OK keeps them.
    for (const char *choice : {"DeleteLearnedSpam", "ShareLearning"})
        writeValue(kSettingKeyPrefix + kHome, QLatin1String(choice), QStringLiteral("1"));
    m_env->profile.settings().DeleteLearnedSpam = m_env->profile.settings().ShareLearning = QStringLiteral("1");
    m_env->profile.settings().SievePort = QStringLiteral("2000"); // set by hand, no field shows it
    const QStringList before = fields(m_env->profile.settings());
    open();
    QCOMPARE(m_dialog->settingsChanged(), false); // filling the fields is no edit
    QVERIFY(child<QCheckBox>(m_dialog.get(), u"chkDeleteLearnedSpam"_qs)->isChecked()
            && child<QCheckBox>(m_dialog.get(), u"chkShareLearning"_qs)->isChecked());
    fill({{edited, value}});
    QCOMPARE(m_dialog->settingsChanged(), asked);
    const bool saved = leave == QLatin1String("Yes");
    if (asked)
        expect(kSave, "Save Setting", Icon::Question, saved ? Result::Yes : Result::No);
    leave == QLatin1String("No") ? press("cmdCancel") : void(m_dialog->close());
    VERIFY_BOXES(m_env->boxes);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(m_dialog->settingsChanged(), false);
    QCOMPARE(profileValue(kHome, "EmailUserId"), saved ? u"joe"_qs : kMissing);
    if (!saved)
        QCOMPARE(fields(m_env->profile.settings()), before);
    QCOMPARE(m_env->profile.settings().TrustedCertificate, trustKept ? trusted : QString());
    QCOMPARE(profileValue(kHome, "TrustedCertificate"), trustKept ? trusted : QString());
    QCOMPARE(profileValue(kHome, "DeleteLearnedSpam"), u"1"_qs);
    QCOMPARE(profileValue(kHome, "ShareLearning"), u"1"_qs);
    QCOMPARE(m_env->profile.settings().SievePort, u"2000"_qs);
}

// Cancel's Yes with a field missing keeps the dialog open, the edits intact.
void TestSettingDialog::cancelYesWithRefusedField()
{
    m_env->profile.setName(u"Delta"_qs); // named by New Profile
    open(kHome);
    field("txtEmailHost")->setText("pop.delta");
    expect(kSave, "Save Setting", Icon::Question, Result::Yes);
    expect("Email User ID cannot be empty", "Warning", Icon::Exclamation);
    press("cmdCancel");
    VERIFY_BOXES(m_env->boxes);
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(field("txtEmailHost")->text(), u"pop.delta"_qs);
    QCOMPARE(m_env->profile.name(), u"Delta"_qs);
}

// A save that does not reach the disk is no save: the box names the file
// and the reason, the dialog stays with the edits, and neither the store nor
// the loaded settings changed.
void TestSettingDialog::saveFailureKeepsDialogOpen()
{
    open();
    fill(form({{"txtEmailHost", "pop.new.example"}}));
    const QByteArray before = storeBytes();
    {
        FullDisk disk;
        press("cmdOK");
    }
    QCOMPARE(m_env->boxes.shown().size(), 1);
    const MessageBox::Request box = m_env->boxes.shown().first();
    QCOMPARE(box.title, u"Save Setting"_qs);
    QCOMPARE(box.icon, Icon::Critical);
    QVERIFY2(box.text.contains(modRegistry::StoreFilePath()) && box.text.contains(u"too large"_qs),
             qPrintable(box.text));
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(field("txtEmailHost")->text(), u"pop.new.example"_qs);
    QCOMPARE(storeBytes(), before);
    QCOMPARE(m_env->profile.settings().EmailHost, u"pop.home"_qs);
    // With room on the disk, the same OK saves every value at once.
    press("cmdOK");
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(profileValue(kHome, "EmailHost"), u"pop.new.example"_qs);
    QCOMPARE(profileValue(kHome, "DialupUserID"), u"dialer"_qs);
    QCOMPARE(m_env->profile.settings().EmailHost, u"pop.new.example"_qs);
}

// Nothing is ever stored under an empty name: OK says what to do instead.
void TestSettingDialog::noCurrentProfile()
{
    m_env->profile.setName({});
    open();
    fill(form());
    expect("No profile is chosen. Press New to create one, then enter its settings.", "Warning", Icon::Exclamation);
    press("cmdOK");
    VERIFY_BOXES(m_env->boxes);
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(readValue("Software\\Trelvik\\Setting", "EmailHost"), kMissing);
    QCOMPARE(storedProfiles(), QStringList{kHome});
}

void TestSettingDialog::portFollowsSecurity()
{
    open();
    auto *security = child<QComboBox>(m_dialog.get(), "cboEmailSecurity");
    security->setCurrentText("SSL/TLS");
    QCOMPARE(field("txtEmailPort")->text(), u"995"_qs);
    security->setCurrentText("None");
    QCOMPARE(field("txtEmailPort")->text(), u"110"_qs);
}

// IMAP: the usual ports, the captions, its folders shown and stored, and
// back to POP3 with nothing of IMAP left.
void TestSettingDialog::imapProtocol()
{
    open();
    auto *protocol = child<QComboBox>(m_dialog.get(), "cboMailProtocol");
    auto *folders = child<QWidget>(m_dialog.get(), "fraImapFolders");
    auto *action = child<QComboBox>(m_dialog.get(), "cboImapEmptyAction");
    QVERIFY(protocol->isVisible() && !folders->isVisible());
    QCOMPARE(field("txtEmailHost")->accessibleName(), u"POP Server"_qs);
    protocol->setCurrentText("IMAP");
    QVERIFY(folders->isVisible());
    QCOMPARE(field("txtEmailHost")->accessibleName(), u"IMAP Server"_qs);
    QCOMPARE(field("txtEmailPort")->text(), u"143"_qs);
    child<QComboBox>(m_dialog.get(), "cboEmailSecurity")->setCurrentText("SSL/TLS");
    QCOMPARE(field("txtEmailPort")->text(), u"993"_qs);
    QCOMPARE(field("txtImapFolder")->text(), u"INBOX"_qs);
    QCOMPARE(action->currentText(), u"Move to the Junk folder"_qs);

    field("txtImapFolder")->setText(" ");
    expect("Folder to Screen cannot be empty", "Warning", Icon::Exclamation);
    press("cmdOK");
    VERIFY_BOXES(m_env->boxes);
    field("txtImapFolder")->setText("Lists/Work");
    action->setCurrentText("Delete");
    QVERIFY(!field("txtImapTargetFolder")->isEnabled()); // deleting moves nothing
    action->setCurrentText("Move to Trash");
    field("txtImapTargetFolder")->setText("Old Mail");
    press("cmdOK");
    VERIFY_BOXES(m_env->boxes);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(profileValue(kHome, "MailProtocol"), u"IMAP"_qs);
    QCOMPARE(profileValue(kHome, "ImapFolder"), u"Lists/Work"_qs);
    QCOMPARE(profileValue(kHome, "ImapEmptyAction"), u"Trash"_qs);
    QCOMPARE(profileValue(kHome, "ImapTargetFolder"), u"Old Mail"_qs);

    // Read back as saved; a port of the user's own stays with the protocol.
    open();
    protocol = child<QComboBox>(m_dialog.get(), "cboMailProtocol");
    QCOMPARE(protocol->currentText(), u"IMAP"_qs);
    QCOMPARE(field("txtImapFolder")->text(), u"Lists/Work"_qs);
    QCOMPARE(child<QComboBox>(m_dialog.get(), "cboImapEmptyAction")->currentText(), u"Move to Trash"_qs);
    protocol->setCurrentText("POP3");
    QCOMPARE(field("txtEmailPort")->text(), u"995"_qs);
    field("txtEmailPort")->setText("1110");
    protocol->setCurrentText("IMAP");
    QCOMPARE(field("txtEmailPort")->text(), u"1110"_qs);
    protocol->setCurrentText("POP3");
    press("cmdOK");
    VERIFY_BOXES(m_env->boxes);
    QCOMPARE(profileValue(kHome, "MailProtocol"), u"POP3"_qs);
    QVERIFY(m_env->profile.settings().protocol() != MailProtocolKind::Imap);
}

void TestSettingDialog::testConnection()
{
    open();
    fill(form({{"txtEmailHost", "pop.typed"}, {"txtEmailPassword", "Typed-Secret"}}));
    m_env->host.tester = [](const ProfileSettingsRecord &) { return ConnectionTestResult{true, u"Logged in."_qs}; };
    expect("Logged in.", "Test Connection", Icon::Information);
    press("cmdTestConnection");
    VERIFY_BOXES(m_env->boxes);
    QCOMPARE(m_env->host.tested.size(), 1);
    QCOMPARE(fields(m_env->host.tested.first()),
             (QStringList{"pop.typed", "110", "joe", "Typed-Secret", "1", "555-0100", "dialer", "dpw", "None", ""}));
    // Testing saves nothing.
    QCOMPARE(profileValue(kHome, "EmailHost"), u"pop.home"_qs);

    // A report that echoes a password never reaches the screen.
    m_env->host.tester = [](const ProfileSettingsRecord &s) {
        return ConnectionTestResult{false, u"-ERR bad PASS "_qs + s.EmailPassword};
    };
    expect("The test's report is not shown because it contains a password.", "Test Connection", Icon::Critical);
    press("cmdTestConnection");
    VERIFY_BOXES(m_env->boxes);
}

void TestSettingDialog::testKeepsRenewedSignIn_data()
{
    // signedInHere: the dialog's sign-in is a new one, not yet saved.
    QTest::addColumn<bool>("signedInHere");
    QTest::newRow("the stored sign-in") << false;
    QTest::newRow("a sign-in of this dialog") << true;
}

// The provider replaced the refresh token during the test and may have
// withdrawn the old one: the new one is kept, even when the dialog is left
// with Cancel; an unsaved sign-in is kept for OK alone.
void TestSettingDialog::testKeepsRenewedSignIn()
{
    QFETCH(bool, signedInHere);
    m_env->profile.settings().SignInMethod = u"OAuth2"_qs;
    m_env->profile.settings().OAuthClientId = u"client"_qs;
    m_env->profile.settings().OAuthRefreshToken = u"stored-token"_qs;
    open();
    auto *signIn = child<OAuthSignInWidget>(m_dialog.get(), "fraSignIn");
    if (signedInHere)
        signIn->replaceRefreshToken(u"stored-token"_qs, u"dialog-token"_qs);
    m_env->host.tester = [](const ProfileSettingsRecord &s) {
        return ConnectionTestResult{true, u"Logged in."_qs, s.OAuthRefreshToken + u"-renewed"_qs};
    };
    expect("Logged in.", "Test Connection", Icon::Information);
    press("cmdTestConnection");
    VERIFY_BOXES(m_env->boxes);
    ProfileSettingsRecord typed;
    signIn->apply(typed);
    const QString stored = ScrambledSecretStore().read(kHome, SecretKind::OAuthRefreshToken).secret;
    if (signedInHere) {
        QCOMPARE(typed.OAuthRefreshToken, u"dialog-token-renewed"_qs);
        QCOMPARE(stored, QString());
        QCOMPARE(m_env->profile.settings().OAuthRefreshToken, u"stored-token"_qs);
    } else {
        QCOMPARE(typed.OAuthRefreshToken, u"stored-token-renewed"_qs);
        QCOMPARE(stored, u"stored-token-renewed"_qs);
        QCOMPARE(m_env->profile.settings().OAuthRefreshToken, u"stored-token-renewed"_qs);
    }
}

// OK with a sign-in the keyring did not give (locked, or not running now):
// the other fields are saved, the sign-in is neither deleted nor replaced.
void TestSettingDialog::unreadSignInSurvivesOK()
{
    const QString key = kSettingKeyPrefix + kHome;
    writeValue(key, "SignInMethod", "OAuth2");
    writeValue(key, "OAuthProvider", "Other");
    writeValue(key, "OAuthClientId", "client");
    writeValue(key, "OAuthAuthorizeUrl", "https://auth.example/authorize");
    writeValue(key, "OAuthTokenUrl", "https://auth.example/token");
    writeValue(key, "EmailUserid", "joe");
    writeValue(key, "OAuthRefreshTokenStore", "Keyring");
    m_env->profile.LoadProfile(kHome);
    QVERIFY(!m_env->profile.settings().SecretProblem.isEmpty());
    open();
    fill({{"txtEmailHost", "pop.other"}, {"txtEmailPort", "110"}});
    press("cmdOK");
    VERIFY_BOXES(m_env->boxes);
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(profileValue(kHome, "EmailHost"), u"pop.other"_qs);
    QCOMPARE(profileValue(kHome, "OAuthRefreshTokenStore"), u"Keyring"_qs);
    // Still missing, with its reason: a fetch asks rather than use nothing.
    QVERIFY(!m_env->profile.settings().SecretProblem.isEmpty());
}

void TestSettingDialog::testAsksForUnreadPassword_data()
{
    QTest::addColumn<QString>("typed"); // empty: the question is cancelled
    QTest::newRow("typed") << "for-this-test";
    QTest::newRow("cancelled") << "";
}

// As a fetch does: the password the keyring kept is asked for; the test
// never runs with an empty one.
void TestSettingDialog::testAsksForUnreadPassword()
{
    QFETCH(QString, typed);
    writeValue(kSettingKeyPrefix + kHome, "EmailPasswordStore", "Keyring"); // and the keyring gives nothing
    m_env->profile.settings().EmailPassword.clear();
    m_env->profile.settings().SecretProblem = u"The email password of profile Home could not be read."_qs;
    open();
    m_env->host.tester = [](const ProfileSettingsRecord &) { return ConnectionTestResult{true, u"Logged in."_qs}; };
    QString asked;
    QTimer::singleShot(0, this, [&] {
        auto *question = shownDialog<QInputDialog>(*m_dialog);
        if (!question)
            return;
        asked = question->labelText();
        question->setTextValue(typed);
        typed.isEmpty() ? question->reject() : question->accept();
    });
    if (!typed.isEmpty())
        expect("Logged in.", "Test Connection", Icon::Information);
    press("cmdTestConnection");
    VERIFY_BOXES(m_env->boxes);
    QVERIFY2(asked.startsWith(u"The email password of profile Home could not be read from the desktop keyring."_qs),
             qPrintable(asked));
    QCOMPARE(m_env->host.tested.size(), typed.isEmpty() ? 0 : 1);
    if (!typed.isEmpty())
        QCOMPARE(m_env->host.tested.constFirst().EmailPassword, typed);
}

// A found choice without encryption: the test asks before the password
// goes out in clear, sends nothing on No and asks no more once agreed. An
// encrypted choice, or a server typed over the found one, asks nothing.
void TestSettingDialog::testAsksBeforeClearText()
{
    open();
    m_env->host.tester = [](const ProfileSettingsRecord &) { return ConnectionTestResult{true, u"Logged in."_qs}; };
    AccountSettings found;
    found.protocol = u"IMAP"_qs;
    found.host = u"imap.clear.example"_qs;
    found.port = 143;
    found.security = u"None"_qs;
    found.userName = u"ann@clear.example"_qs;
    m_dialog->applyFoundSettings(found);
    const QString question =
        u"The settings found for imap.clear.example use no encryption: the test would send your password in clear, "
        "readable by anyone on the way.\r\nSend it anyway?"_qs;
    expect(question, "Test Connection", Icon::Exclamation, Result::No);
    press("cmdTestConnection");
    QCOMPARE(m_env->host.tested.size(), 0);
    expect(question, "Test Connection", Icon::Exclamation, Result::Yes);
    expect("Logged in.", "Test Connection", Icon::Information);
    expect("Logged in.", "Test Connection", Icon::Information);
    press("cmdTestConnection");
    press("cmdTestConnection");
    VERIFY_BOXES(m_env->boxes);
    QCOMPARE(m_env->host.tested.size(), 2);
    QCOMPARE(m_env->host.tested.first().EmailSecurity, u"None"_qs);

    m_dialog->applyFoundSettings(found);
    field("txtEmailHost")->setText(u"imap.typed.example"_qs);
    found.security = u"SSL/TLS"_qs;
    found.port = 993;
    expect("Logged in.", "Test Connection", Icon::Information);
    press("cmdTestConnection");
    m_dialog->applyFoundSettings(found);
    expect("Logged in.", "Test Connection", Icon::Information);
    press("cmdTestConnection");
    VERIFY_BOXES(m_env->boxes);
    QCOMPARE(m_env->host.tested.size(), 4);
}

// One column of fields down every group; the Client Secret's hint whole.
void TestSettingDialog::fieldsLineUp()
{
    open();
    child<QComboBox>(m_dialog.get(), "cboMailProtocol")->setCurrentText("IMAP");
    child<QComboBox>(m_dialog.get(), "cboSignInMethod")->setCurrentIndex(1);
    m_dialog->resize(m_dialog->sizeHint());
    const QStringList names{"txtEmailHost",     "txtImapFolder",        "cboSignInMethod",
                            "txtOAuthClientId", "txtOAuthClientSecret", "txtDialupNumber"};
    QList<int> left;
    for (const QString &name : names) {
        auto *w = child<QWidget>(m_dialog.get(), name);
        QTRY_VERIFY(w->isVisible());
        left << w->mapTo(m_dialog.get(), QPoint(0, 0)).x();
    }
    QCOMPARE(left, QList<int>(names.size(), left.first()));
    QLineEdit *secret = field("txtOAuthClientSecret");
    QVERIFY(!secret->placeholderText().isEmpty());
    QVERIFY2(secret->width() >= secret->fontMetrics().horizontalAdvance(secret->placeholderText()) + 8,
             qPrintable(QString::number(secret->width())));
}

QTEST_MAIN(TestSettingDialog)
#include "tst_settingdialog.moc"
