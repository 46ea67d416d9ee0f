#include "frmSetting.h"

#include "DialogFlags.h"
#include "FieldWidget.h"
#include "ByteLimitValidator.h"
#include "CurrentProfile.h"
#include "KeyringWaitDialog.h"
#include "MailProtocol.h"
#include "MailProtocolWidget.h"
#include "MessageBox.h"
#include "OAuthSettings.h"
#include "OAuthSignInWidget.h"
#include "Profile.h"
#include "ProfileHost.h"
#include "Scramble.h"
#include "SettingsStore.h"
#include "StringHelpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

using namespace modRegistry;

namespace {

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setAccessibleName(caption);
    return button;
}

} // namespace

frmSetting::frmSetting(CurrentProfile &profile, QWidget *parent, ProfileHost *host,
                       const std::optional<QString> &previousProfile)
    : QDialog(parent, kDialogWindowFlags)
    , m_profile(profile)
    , m_host(host)
    , m_previousProfile(previousProfile)
{
    installKeyringWaitDialog();
    setObjectName(QStringLiteral("frmSetting"));

    QFormLayout *emailForm = makeEmailGroup();
    fraSignIn = new OAuthSignInWidget(this);
    chkAutodial = new QCheckBox(QStringLiteral("Automatically Dial && Hangup Connection"), this);
    chkAutodial->setObjectName(QStringLiteral("chkAutodial"));
    chkAutodial->setAccessibleName(QStringLiteral("Automatically Dial & Hangup Connection"));
    makeLearningBoxes();

    makeDialupGroup();
    QHBoxLayout *buttons = makeButtons();
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Frame1);
    layout->addWidget(fraImap);
    layout->addWidget(fraSignIn);
    layout->addWidget(chkDeleteLearnedSpam);
    layout->addWidget(chkShareLearning);
    layout->addWidget(chkAutodial);
    layout->addWidget(fraDialup);
    layout->addWidget(lblTestStatus);
    layout->addLayout(buttons);

    alignFormLabels();
    setTabOrderAsRead();
    Form_Load();
    m_serverLabel = qobject_cast<QLabel *>(emailForm->labelForField(txtEmailHost));
    m_portLabel = qobject_cast<QLabel *>(emailForm->labelForField(txtEmailPort));
    connectControls();
    txtEmailHost->setFocus();
}

QFormLayout *frmSetting::makeEmailGroup()
{
    Frame1 = new QGroupBox(QStringLiteral("Email Setting"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    txtEmailHost = makeField(Frame1, "txtEmailHost", QStringLiteral("POP Server"));
    txtEmailPort = makeField(Frame1, "txtEmailPort", QStringLiteral("POP Server Port"));
    cboEmailSecurity = new QComboBox(Frame1);
    cboEmailSecurity->setObjectName(QStringLiteral("cboEmailSecurity"));
    cboEmailSecurity->setAccessibleName(QStringLiteral("Connection Security"));
    cboEmailSecurity->addItems({kSecurityNone, kSecurityStartTls, kSecuritySslTls});
    txtEmailUserId = makeField(Frame1, "txtEmailUserId", QStringLiteral("Email User ID"));
    txtEmailPassword = makeField(Frame1, "txtEmailPassword", QStringLiteral("Email Password"));
    txtEmailPassword->setEchoMode(QLineEdit::Password);
    txtEmailPassword->setMaxLength(modSecurity::kMaxStoredBytes);
    txtEmailPassword->setValidator(new ByteLimitValidator(modSecurity::kMaxStoredBytes, txtEmailPassword));
    fraImap = new MailProtocolWidget(this);
    auto *emailForm = new QFormLayout(Frame1);
    emailForm->addRow(QStringLiteral("Mail Protocol"), fraImap->protocolChoice());
    emailForm->addRow(QStringLiteral("POP Server"), txtEmailHost);
    emailForm->addRow(QStringLiteral("POP Server Port"), txtEmailPort);
    emailForm->addRow(QStringLiteral("Connection Security"), cboEmailSecurity);
    emailForm->addRow(QStringLiteral("Email User ID"), txtEmailUserId);
    emailForm->addRow(QStringLiteral("Email Password"), txtEmailPassword);

    return emailForm;
}

void frmSetting::makeDialupGroup()
{
    fraDialup = new QGroupBox(QStringLiteral("Dialup Setting"), this);
    fraDialup->setObjectName(QStringLiteral("fraDialup"));
    txtDialupNumber = makeField(fraDialup, "txtDialupNumber", QStringLiteral("Phone Number"));
    txtDialupNumber->setMaxLength(kMaxDialupNumber);
    txtDialupUserID = makeField(fraDialup, "txtDialupUserID", QStringLiteral("User ID"));
    txtDialupUserID->setMaxLength(kMaxDialupText);
    txtDialupPassword = makeField(fraDialup, "txtDialupPassword", QStringLiteral("Password"));
    txtDialupPassword->setEchoMode(QLineEdit::Password);
    // 256 UTF-16 units are at most 768 UTF-8 bytes: always storable.
    txtDialupPassword->setMaxLength(kMaxDialupText);
    auto *dialupForm = new QFormLayout(fraDialup);
    dialupForm->addRow(QStringLiteral("Phone Number"), txtDialupNumber);
    dialupForm->addRow(QStringLiteral("User ID"), txtDialupUserID);
    dialupForm->addRow(QStringLiteral("Password"), txtDialupPassword);
}

QHBoxLayout *frmSetting::makeButtons()
{
    cmdOK = makeButton(this, "cmdOK", QStringLiteral("OK"));
    cmdOK->setDefault(true);
    cmdCancel = makeButton(this, "cmdCancel", QStringLiteral("Cancel"));
    cmdCancel->setAutoDefault(false);
    cmdTestConnection = makeButton(this, "cmdTestConnection", QStringLiteral("Test Connection"));
    cmdTestConnection->setAutoDefault(false);
    cmdFindSettings = makeButton(this, "cmdFindSettings", QStringLiteral("Find settings"));
    cmdFindSettings->setAutoDefault(false);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(cmdFindSettings);
    buttons->addWidget(cmdTestConnection);
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    // What a running connection test is doing; Cancel or Esc ends it.
    lblTestStatus = new QLabel(this);
    lblTestStatus->setObjectName(QStringLiteral("lblTestStatus"));
    lblTestStatus->setAccessibleName(QStringLiteral("Test Connection status"));
    lblTestStatus->setTextFormat(Qt::PlainText);
    lblTestStatus->setWordWrap(true);
    lblTestStatus->hide();

    return buttons;
}

void frmSetting::alignFormLabels()
{
    // The fields of every group (server, folders, sign-in, dial-up) start
    // at one line: the labels of all forms are as wide as the widest.
    const QList<QFormLayout *> forms = findChildren<QFormLayout *>();
    int labelWidth = 0;
    for (QFormLayout *form : forms)
        for (int row = 0; row < form->rowCount(); ++row)
            if (QLayoutItem *item = form->itemAt(row, QFormLayout::LabelRole); item && item->widget())
                labelWidth = std::max(labelWidth, item->widget()->sizeHint().width());
    for (QFormLayout *form : forms)
        for (int row = 0; row < form->rowCount(); ++row)
            if (QLayoutItem *item = form->itemAt(row, QFormLayout::LabelRole); item && item->widget())
                item->widget()->setMinimumWidth(labelWidth);
}

void frmSetting::setTabOrderAsRead()
{
    // As the eye reads: down the fields, then the buttons' row left to right.
    QList<QWidget *> order{
        fraImap->protocolChoice(), txtEmailHost, txtEmailPort,    cboEmailSecurity, txtEmailUserId,
        txtEmailPassword,          chkAutodial,  txtDialupNumber, txtDialupUserID,  txtDialupPassword,
        cmdTestConnection,         cmdOK,        cmdCancel};
    for (QWidget *w : {chkDeleteLearnedSpam, chkShareLearning})
        order.insert(order.indexOf(chkAutodial), w);
    order.insert(order.indexOf(cmdTestConnection), cmdFindSettings);
    // The folders, then the sign-in, follow the password.
    for (QWidget *w : fraImap->tabOrder() + fraSignIn->tabOrder())
        order.insert(order.indexOf(chkDeleteLearnedSpam), w);
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));
}

void frmSetting::connectControls()
{
    // The port and the check boxes are not tracked.
    for (QLineEdit *tracked :
         {txtEmailHost, txtEmailUserId, txtEmailPassword, txtDialupNumber, txtDialupUserID, txtDialupPassword})
        connect(tracked, &QLineEdit::textChanged, this, &frmSetting::txtTracked_Change);
    connect(cboEmailSecurity, &QComboBox::currentIndexChanged, this, &frmSetting::cboEmailSecurity_Click);
    for (QLineEdit *rewritten : {txtEmailHost, txtEmailUserId, txtEmailPassword})
        rewritten->installEventFilter(this);
    connect(fraSignIn, &OAuthSignInWidget::changed, this, &frmSetting::txtTracked_Change);
    connect(fraImap, &MailProtocolWidget::changed, this, &frmSetting::txtTracked_Change);
    connect(fraImap, &MailProtocolWidget::protocolChanged, this, &frmSetting::cboMailProtocol_Click);
    connect(fraSignIn, &OAuthSignInWidget::signInRequested, this,
            [this] { fraSignIn->signIn(TrimSpaces(txtEmailUserId->text())); });
    showProtocol();
    connect(fraSignIn, &OAuthSignInWidget::presetChosen, this, [this](const OAuthPreset &preset) {
        txtEmailHost->setText(preset.host);
        cboEmailSecurity->setCurrentText(preset.security);
        txtEmailPort->setText(preset.port);
    });
    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, &frmSetting::cmdCancel_Click);
    connect(cmdTestConnection, &QPushButton::clicked, this, &frmSetting::cmdTestConnection_Click);
    connect(cmdFindSettings, &QPushButton::clicked, this, &frmSetting::cmdFindSettings_Click);
}

void frmSetting::Form_Load()
{
    const QString &name = m_profile.name();
    setWindowTitle(QStringLiteral("Profile Setting - ") + name);
    const bool editing = !m_previousProfile;
    if (editing && !m_profile.settings().SecretProblem.isEmpty()) {
        // The keyring kept a secret at the last read: asked again, as it may
        // have been unlocked since (or asks for its unlock now).
        ProfileSettingsRecord again = m_profile.settings();
        m_store.readSecrets(name, again);
        if (again.SecretProblem.isEmpty())
            m_profile.set(name, again);
        else
            m_profile.settings().takeSecretProblem(again);
    }
    m_loaded = editing ? m_profile.settings() : ProfileSettingsRecord{};
    if (editing) {
        const auto &s = m_loaded;
        txtEmailHost->setText(s.EmailHost);
        txtEmailPort->setText(s.EmailPort);
        txtEmailUserId->setText(s.EmailUserid);
        txtEmailPassword->setText(s.EmailPassword);
        // Runs dial only on "1"; the box shows what they will do.
        chkAutodial->setChecked(s.Autodial == QLatin1String("1"));
        chkDeleteLearnedSpam->setChecked(s.DeleteLearnedSpam == QLatin1String("1"));
        chkShareLearning->setChecked(s.ShareLearning == QLatin1String("1"));
        txtDialupNumber->setText(s.DialupNumber);
        txtDialupUserID->setText(s.DialupUserID);
        txtDialupPassword->setText(s.DialupPassword);
        cboEmailSecurity->setCurrentText(EmailSecurityFor(s.EmailSecurity, s.EmailPort));
        fraImap->load(s);
        m_loadedHost = s.EmailHost;
        m_loadedSecurity = cboEmailSecurity->currentText();
        fraSignIn->setImap(s.protocol() == MailProtocolKind::Imap);
        fraSignIn->load(s, name);
    } else {
        fraSignIn->load({}, QString());
        // Mail providers today offer POP3 over TLS; a password should not
        // cross the network in clear unless the user chooses so.
        txtEmailPort->setText(kTlsPort);
        cboEmailSecurity->setCurrentText(kSecuritySslTls);
    }
}

// Form_Activate: the filled fields count as unchanged.
void frmSetting::showEvent(QShowEvent *event)
{
    if (!m_activated) {
        m_activated = true;
        m_settingsChanged = false;
    }
    QDialog::showEvent(event);
}

void frmSetting::txtTracked_Change()
{
    m_settingsChanged = true;
}

// The security's standard port follows the security; the change is an edit.
void frmSetting::cboEmailSecurity_Click()
{
    const QString security = cboEmailSecurity->currentText();
    const QString port = fraImap->protocol() == MailProtocolKind::Imap
        ? PortForProtocol(MailProtocolKind::Imap, security, txtEmailPort->text())
        : PortForSecurity(security, txtEmailPort->text());
    if (port != txtEmailPort->text())
        txtEmailPort->setText(port);
    m_settingsChanged = true;
}

void frmSetting::txtEmailHost_LostFocus()
{
    const QString text = TrimSpaces(txtEmailHost->text().toLower());
    if (text != txtEmailHost->text())
        txtEmailHost->setText(text);
}

void frmSetting::txtEmailUserId_LostFocus()
{
    const QString text = TrimSpaces(txtEmailUserId->text().toLower());
    if (text != txtEmailUserId->text())
        txtEmailUserId->setText(text);
}

void frmSetting::txtEmailPassword_LostFocus()
{
    const QString text = TrimSpaces(txtEmailPassword->text());
    if (text != txtEmailPassword->text())
        txtEmailPassword->setText(text);
}

void frmSetting::applyLostFocus(QObject *field)
{
    if (field == txtEmailHost)
        txtEmailHost_LostFocus();
    else if (field == txtEmailUserId)
        txtEmailUserId_LostFocus();
    else if (field == txtEmailPassword)
        txtEmailPassword_LostFocus();
}

bool frmSetting::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut)
        applyLostFocus(watched);
    return QDialog::eventFilter(watched, event);
}

void frmSetting::warn(const QString &text, QLineEdit *field)
{
    MessageBox::show(text, QStringLiteral("Warning"), MessageBox::Icon::Exclamation);
    field->setFocus();
}

bool frmSetting::checkServerFields()
{
    const QString server = serverCaption();
    if (txtEmailHost->text().isEmpty()) {
        warn(server + QStringLiteral(" cannot be empty"), txtEmailHost);
        return false;
    }
    if (txtEmailPort->text().isEmpty()) {
        warn(server + QStringLiteral(" Port cannot be empty"), txtEmailPort);
        return false;
    }
    if (!IsPortText(txtEmailPort->text())) {
        warn(server + QStringLiteral(" Port must be a number from 1 to 65535"), txtEmailPort);
        return false;
    }
    return true;
}

bool frmSetting::serverChanged() const
{
    // Host names compare without regard to case, as DNS does.
    return m_previousProfile || txtEmailHost->text().compare(m_loadedHost, Qt::CaseInsensitive) != 0
        || cboEmailSecurity->currentText() != m_loadedSecurity;
}

ProfileSettingsRecord frmSetting::typedSettings() const
{
    ProfileSettingsRecord s;
    s.EmailHost = txtEmailHost->text();
    s.EmailPort = txtEmailPort->text();
    s.EmailUserid = txtEmailUserId->text();
    s.EmailPassword = txtEmailPassword->text();
    s.Autodial = chkAutodial->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    s.DialupNumber = txtDialupNumber->text();
    s.DialupUserID = txtDialupUserID->text();
    s.DialupPassword = txtDialupPassword->text();
    s.EmailSecurity = cboEmailSecurity->currentText();
    fraImap->apply(s);
    if (!serverChanged())
        s.TrustedCertificate = m_profile.settings().TrustedCertificate;
    fraSignIn->apply(s);
    s.DeleteLearnedSpam = chkDeleteLearnedSpam->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    s.ShareLearning = chkShareLearning->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    // Set by hand in the settings file, with no field here: kept as they are.
    s.SievePort = m_loaded.SievePort;
    s.SieveSecurity = m_loaded.SieveSecurity;
    // A secret the keyring did not give is still missing: its reason stays.
    if ((s.EmailPassword.isEmpty() && m_loaded.EmailPassword.isEmpty())
        || (s.DialupPassword.isEmpty() && m_loaded.DialupPassword.isEmpty())
        || (s.OAuthRefreshToken.isEmpty() && m_loaded.OAuthRefreshToken.isEmpty()))
        s.takeSecretProblem(m_loaded);
    return s;
}

bool frmSetting::cmdOK_Click()
{
    // Enter presses OK without taking the focus from the field being typed
    // in: that field gets the rewrite it would get on leaving it.
    applyLostFocus(focusWidget());

    // Settings are stored under the profile's name: a nameless profile would
    // be saved where no profile box ever lists it.
    const QString name = m_profile.name();
    if (TrimSpaces(name).isEmpty()) {
        MessageBox::show(QStringLiteral("No profile is chosen. Press New to create one, then enter its settings."),
                         QStringLiteral("Warning"), MessageBox::Icon::Exclamation);
        return false;
    }
    if (!checkServerFields())
        return false;
    if (txtEmailUserId->text().isEmpty()) {
        warn(QStringLiteral("Email User ID cannot be empty"), txtEmailUserId);
        return false;
    }
    if (QString warning; QLineEdit *missing = fraImap->missingField(&warning)) {
        warn(warning, missing);
        return false;
    }
    if (fraSignIn->usesOAuth2()) {
        QString warning;
        if (QLineEdit *missing = fraSignIn->missingField(&warning)) {
            warn(warning, missing);
            return false;
        }
    } else if (txtEmailPassword->text().isEmpty()) {
        warn(QStringLiteral("Email Password cannot be empty"), txtEmailPassword);
        return false;
    }
    txtDialupNumber->setText(TrimSpaces(txtDialupNumber->text()));
    txtDialupUserID->setText(TrimSpaces(txtDialupUserID->text()));
    if (chkAutodial->isChecked()) {
        if (txtDialupNumber->text().isEmpty()) {
            warn(QStringLiteral("Dialup Number cannot be empty"), txtDialupNumber);
            return false;
        }
        if (txtDialupUserID->text().isEmpty()) {
            warn(QStringLiteral("Dialup User ID cannot be empty"), txtDialupUserID);
            return false;
        }
        if (txtDialupPassword->text().isEmpty()) {
            warn(QStringLiteral("Dialup Password cannot be empty"), txtDialupPassword);
            return false;
        }
    }

    const bool trustVoid = serverChanged();
    ProfileSettingsRecord s = typedSettings();
    if (trustVoid)
        s.TrustedCertificate.clear();

    // Stored trimmed, as the scrambled form always kept them.
    s.EmailPassword = TrimSpaces(s.EmailPassword);
    s.DialupPassword = TrimSpaces(s.DialupPassword);
    ProfileStore::SaveOptions options;
    options.loaded = &m_loaded;
    options.oauthAccount = fraSignIn->account();
    options.withdrawTrust = trustVoid;
    options.makeLast = m_previousProfile.has_value();
    const ProfileStore::SaveResult saved = m_store.save(name, s, options);
    if (!saved.settings) {
        // Nothing was saved: the dialog stays open with the edits.
        MessageBox::show(saved.settings.error, QStringLiteral("Save Setting"), MessageBox::Icon::Critical);
        return false;
    }
    if (saved.secrets.trouble)
        MessageBox::show(saved.secrets.text, QStringLiteral("Settings Saved"), MessageBox::Icon::Exclamation);
    m_profile.set(name, s);

    if (m_previousProfile)
        Q_EMIT newProfileSaved(name);
    m_settingsChanged = false;
    accept();
    return true;
}

void frmSetting::cmdCancel_Click()
{
    // During a connection test Cancel ends the test, not the dialog.
    if (m_testing) {
        if (m_testCancel)
            m_testCancel->set();
        return;
    }
    if (m_settingsChanged) {
        MessageBox::Request question{QStringLiteral("Changes not saved.\r\nSave now?"), QStringLiteral("Save Setting"),
                                     MessageBox::Icon::Question, MessageBox::Buttons::YesNo};
        // Esc or the close box is no answer: back to the dialog, edits kept.
        question.escapeCancels = true;
        const auto answer = MessageBox::show(question);
        if (answer == MessageBox::Result::Cancel)
            return;
        if (answer == MessageBox::Result::Yes) {
            cmdOK_Click();
            // A field refused the save: its warning has been shown and the
            // focus is on it. Closing now would throw the edits away.
            if (!m_closed)
                return;
        }
    }
    m_settingsChanged = false;
    // A new profile given up: back to the one current before New (a saved
    // one has closed the dialog and stays).
    if (m_previousProfile && !m_closed)
        m_profile.LoadProfile(*m_previousProfile);
    if (!m_closed)
        QDialog::reject();
}

// Esc and the window's close box mean Cancel, with its offer to save.
void frmSetting::reject()
{
    cmdCancel_Click();
}

// Form_Unload.
void frmSetting::done(int result)
{
    m_closed = true;
    QDialog::done(result);
}
