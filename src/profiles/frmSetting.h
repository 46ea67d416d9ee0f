#pragma once

#include "CancelFlag.h"
#include "ProfileRecord.h"
#include "ProfileStore.h"

#include <QDialog>
#include <optional>

struct AccountSettings;
class CurrentProfile;
class MailProtocolWidget;
class OAuthSignInWidget;
class ProfileHost;
class QCheckBox;
class QComboBox;
class QFormLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;

// Edits a copy of the current profile's settings, or the settings of the
// profile being created (already named current by New Profile; then
// `previousProfile` is the one current before, which Cancel goes back to).
// OK validates, hands the fields to the profile store (passwords into the
// keyring or scrambled) and makes them the current profile's. Cancel, Esc and
// the close box offer to save unsaved changes and abandon a new profile.
// "Test Connection" hands the typed settings to the host's tester; without a
// host it says testing is not available.
class frmSetting : public QDialog {
    Q_OBJECT
public:
    explicit frmSetting(CurrentProfile &profile, QWidget *parent = nullptr, ProfileHost *host = nullptr,
                        const std::optional<QString> &previousProfile = std::nullopt);

    // Returns true when the settings were saved and the dialog closed.
    bool cmdOK_Click();
    void cmdCancel_Click();
    void cmdTestConnection_Click();
    // Asks for the address and fills in the settings the search found.
    void cmdFindSettings_Click();
    // Server, user name and sign-in method as found; the rest stays as typed.
    void applyFoundSettings(const AccountSettings &found);
    // A tracked field was edited since the dialog was shown or saved.
    bool settingsChanged() const { return m_settingsChanged; }

    // Longest texts the fields take: what the dial-up connection and the
    // stored password form can hold.
    static constexpr int kMaxDialupNumber = 128;
    static constexpr int kMaxDialupText = 256;

public Q_SLOTS:
    void reject() override;
    void done(int result) override;

Q_SIGNALS:
    // A new profile's settings were saved under `name`: it is now a profile
    // of its own and the current one.
    void newProfileSaved(const QString &name);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // The constructor's parts: the groups of fields, the buttons' row,
    // the forms' labels of one width, the tab order, the signals.
    QFormLayout *makeEmailGroup();
    void makeLearningBoxes();
    void makeDialupGroup();
    QHBoxLayout *makeButtons();
    void alignFormLabels();
    void setTabOrderAsRead();
    void connectControls();
    void Form_Load();
    void txtTracked_Change();
    void txtEmailHost_LostFocus();
    void txtEmailUserId_LostFocus();
    void txtEmailPassword_LostFocus();
    void applyLostFocus(QObject *field);
    void warn(const QString &text, QLineEdit *field);
    void cboEmailSecurity_Click();
    void cboMailProtocol_Click(MailProtocolKind protocol);
    // The server fields' captions name the protocol's server.
    void showProtocol();
    QString serverCaption() const;
    // The host and port checks OK makes first; false after a warning.
    bool checkServerFields();
    // A trust given to one server must not carry over to another.
    bool serverChanged() const;
    // The settings as typed, not saved.
    ProfileSettingsRecord typedSettings() const;
    // False when the settings came from the search without encryption and
    // the person would rather not send the password in clear.
    bool clearTextAgreed(const ProfileSettingsRecord &settings);
    // A test renewed the sign-in: the provider's new refresh token replaces
    // the old one here and, where the old one was the stored one, at once
    // in the profile (the old one may no longer work).
    void keepRenewedSignIn(const QString &tested, const QString &renewed);

    CurrentProfile &m_profile;
    ProfileStore m_store;
    ProfileHost *m_host = nullptr;
    // Set while the dialog creates a profile: the one current before New.
    std::optional<QString> m_previousProfile;
    bool m_settingsChanged = false;
    bool m_activated = false;
    bool m_closed = false;
    bool m_testing = false;
    CancelFlag *m_testCancel = nullptr;
    // The settings the dialog opened with: a secret empty then (the keyring
    // did not give it) and still empty is left alone by the save.
    ProfileSettingsRecord m_loaded;
    // The server the dialog opened with, against which a change is judged.
    QString m_loadedHost;
    QString m_loadedSecurity;
    // The server of a found choice without encryption, until a test was
    // allowed to send the password to it in clear.
    QString m_foundClearHost;
    QGroupBox *Frame1 = nullptr;
    QLineEdit *txtEmailHost = nullptr;
    QLineEdit *txtEmailPort = nullptr;
    QComboBox *cboEmailSecurity = nullptr;
    QLineEdit *txtEmailUserId = nullptr;
    QLineEdit *txtEmailPassword = nullptr;
    MailProtocolWidget *fraImap = nullptr;
    QLabel *m_serverLabel = nullptr;
    QLabel *m_portLabel = nullptr;
    OAuthSignInWidget *fraSignIn = nullptr;
    QCheckBox *chkAutodial = nullptr;
    QCheckBox *chkDeleteLearnedSpam = nullptr;
    QCheckBox *chkShareLearning = nullptr;
    QGroupBox *fraDialup = nullptr;
    QLineEdit *txtDialupNumber = nullptr;
    QLineEdit *txtDialupUserID = nullptr;
    QLineEdit *txtDialupPassword = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;
    QPushButton *cmdTestConnection = nullptr;
    QPushButton *cmdFindSettings = nullptr;
    QLabel *lblTestStatus = nullptr;
};
