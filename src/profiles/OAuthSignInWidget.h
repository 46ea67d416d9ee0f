#pragma once

#include "ProfileRecord.h"
#include "OAuthSettings.h"

#include <QGroupBox>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class AuthorizationFlow;

// The settings dialog's "Sign-in" group: the sign-in method, and for OAuth2
// the provider, the registered client and "Sign in..." with who signed in;
// below, where the profile's secrets are kept. The OAuth2 fields show only
// for OAuth2. The refresh token a sign-in brings is held here until the
// dialog saves.
class OAuthSignInWidget : public QGroupBox {
    Q_OBJECT
public:
    explicit OAuthSignInWidget(QWidget *parent = nullptr);

    void load(const ProfileSettingsRecord &s, const QString &profile);
    // Copies the method, the client and the tokens into `s`.
    void apply(ProfileSettingsRecord &s) const;
    bool usesOAuth2() const;
    // The presets are the IMAP ones: a preset's scope as it stands becomes
    // the one for that protocol.
    void setImap(bool imap);
    QString provider() const;
    // Who signed in, as the provider's id token said; empty when unknown.
    QString account() const { return m_refreshToken.isEmpty() ? QString() : m_account; }
    // The first empty field OAuth2 needs, with its warning; null when complete.
    QLineEdit *missingField(QString *warning) const;
    QList<QWidget *> tabOrder() const;

    // The provider replaced the refresh token `tested` by `renewed` (a
    // connection test renewed the sign-in); a sign-in made since is kept.
    void replaceRefreshToken(const QString &tested, const QString &renewed);
    // Runs the sign-in in the browser (Cancel and a time limit end it).
    // The user name is the hint of which account to use.
    void signIn(const QString &userName);
    // Tests set how the consent page is "opened".
    void setBrowser(std::function<bool(const QUrl &)> browser) { m_browser = std::move(browser); }

Q_SIGNALS:
    void changed();
    // A provider was picked: its server should be filled in.
    void presetChosen(const OAuthPreset &preset);
    // "Sign in..." was pressed; the dialog answers with signIn(user name).
    void signInRequested();

private:
    void methodChanged();
    // picked: the user chose it, so the preset's values replace the typed ones.
    void providerChanged(bool picked);
    void showSignedIn();
    // The sign-in's outcome, however long: the window grows to show it whole.
    void setResultText(const QString &text);

    QComboBox *cboSignInMethod = nullptr;
    QComboBox *cboOAuthProvider = nullptr;
    QLineEdit *txtOAuthClientId = nullptr;
    QLineEdit *txtOAuthClientSecret = nullptr;
    QLineEdit *txtOAuthAuthorizeUrl = nullptr;
    QLineEdit *txtOAuthTokenUrl = nullptr;
    QLineEdit *txtOAuthScope = nullptr;
    QPushButton *cmdSignIn = nullptr;
    QLabel *lblSignedIn = nullptr;
    QLabel *lblSecretPlaces = nullptr;
    QWidget *m_oauthFields = nullptr;

    std::function<bool(const QUrl &)> m_browser;
    QString m_refreshToken;
    QString m_accessToken;
    qint64 m_accessExpiry = 0;
    QString m_account;
    bool m_signedInNow = false;
    bool m_signInUnread = false; // the keyring holds a sign-in it did not give
    bool m_imap = false;
};
