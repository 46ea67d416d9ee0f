#include "frmSetting.h"

#include "DialogFlags.h"
#include "CurrentProfile.h"
#include "KeyringWaitDialog.h"
#include "MailProtocol.h"
#include "MailProtocolWidget.h"
#include "MessageBox.h"
#include "OAuthSettings.h"
#include "OAuthSignInWidget.h"
#include "Profile.h"
#include "ProfileHost.h"
#include "SettingsStore.h"
#include "StringHelpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

using namespace modRegistry;

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
