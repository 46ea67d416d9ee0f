#include "OAuthSignInWidget.h"

#include "AuthorizationFlow.h"
#include "FieldWidget.h"
#include "Profile.h"
#include "ProfileSecrets.h"
#include "SettingsStore.h"
#include "WindowWords.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QVBoxLayout>


OAuthSignInWidget::OAuthSignInWidget(QWidget *parent)
    : QGroupBox(QStringLiteral("Sign-in"), parent)
{
    setObjectName(QStringLiteral("fraSignIn"));
    cboSignInMethod = new QComboBox(this);
    cboSignInMethod->setObjectName(QStringLiteral("cboSignInMethod"));
    cboSignInMethod->setAccessibleName(QStringLiteral("Sign-in Method"));
    cboSignInMethod->addItems({kSignInPassword, kSignInOAuth2});

    m_oauthFields = new QWidget(this);
    cboOAuthProvider = new QComboBox(m_oauthFields);
    cboOAuthProvider->setObjectName(QStringLiteral("cboOAuthProvider"));
    cboOAuthProvider->setAccessibleName(QStringLiteral("Provider"));
    for (const OAuthPreset &preset : OAuthPresets())
        cboOAuthProvider->addItem(preset.name);
    txtOAuthClientId = makeField(m_oauthFields, "txtOAuthClientId", QStringLiteral("Client ID"));
    txtOAuthClientSecret = makeField(m_oauthFields, "txtOAuthClientSecret", QStringLiteral("Client Secret"));
    txtOAuthClientSecret->setPlaceholderText(QStringLiteral("only where the provider gave one"));
    new ReadablePlaceholder(txtOAuthClientSecret);
    txtOAuthAuthorizeUrl = makeField(m_oauthFields, "txtOAuthAuthorizeUrl", QStringLiteral("Authorization Address"));
    txtOAuthTokenUrl = makeField(m_oauthFields, "txtOAuthTokenUrl", QStringLiteral("Token Address"));
    txtOAuthScope = makeField(m_oauthFields, "txtOAuthScope", QStringLiteral("Scope"));
    cmdSignIn = new QPushButton(QStringLiteral("Sign in..."), m_oauthFields);
    cmdSignIn->setObjectName(QStringLiteral("cmdSignIn"));
    cmdSignIn->setAutoDefault(false);
    lblSignedIn = new QLabel(m_oauthFields);
    lblSignedIn->setObjectName(QStringLiteral("lblSignedIn"));
    lblSignedIn->setTextFormat(Qt::PlainText);
    lblSignedIn->setWordWrap(true);
    auto *oauthForm = new QFormLayout(m_oauthFields);
    oauthForm->setContentsMargins(0, 0, 0, 0);
    oauthForm->addRow(QStringLiteral("Provider"), cboOAuthProvider);
    oauthForm->addRow(QStringLiteral("Client ID"), txtOAuthClientId);
    oauthForm->addRow(QStringLiteral("Client Secret"), txtOAuthClientSecret);
    oauthForm->addRow(QStringLiteral("Authorization Address"), txtOAuthAuthorizeUrl);
    oauthForm->addRow(QStringLiteral("Token Address"), txtOAuthTokenUrl);
    oauthForm->addRow(QStringLiteral("Scope"), txtOAuthScope);
    // The outcome gets a row of its own, the form's full width: a refusal
    // with the provider's words runs to several lines.
    oauthForm->addRow(QString(), cmdSignIn);
    oauthForm->addRow(lblSignedIn);

    lblSecretPlaces = new QLabel(this);
    lblSecretPlaces->setObjectName(QStringLiteral("lblSecretPlaces"));
    lblSecretPlaces->setTextFormat(Qt::PlainText);
    lblSecretPlaces->setWordWrap(true);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Sign-in Method"), cboSignInMethod);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_oauthFields);
    layout->addWidget(lblSecretPlaces);

    connect(cboSignInMethod, &QComboBox::currentIndexChanged, this, [this] {
        methodChanged();
        Q_EMIT changed();
    });
    connect(cboOAuthProvider, &QComboBox::activated, this, [this] {
        providerChanged(true);
        Q_EMIT changed();
    });
    for (QLineEdit *edit :
         {txtOAuthClientId, txtOAuthClientSecret, txtOAuthAuthorizeUrl, txtOAuthTokenUrl, txtOAuthScope})
        connect(edit, &QLineEdit::textEdited, this, &OAuthSignInWidget::changed);
    connect(cmdSignIn, &QPushButton::clicked, this, &OAuthSignInWidget::signInRequested);
    methodChanged();
}

void OAuthSignInWidget::load(const ProfileSettingsRecord &s, const QString &profile)
{
    cboSignInMethod->setCurrentText(s.usesOAuth2() ? kSignInOAuth2 : kSignInPassword);
    cboOAuthProvider->setCurrentText(OAuthPresetNamed(s.OAuthProvider).name);
    txtOAuthClientId->setText(s.OAuthClientId);
    txtOAuthClientSecret->setText(s.OAuthClientSecret);
    txtOAuthAuthorizeUrl->setText(s.OAuthAuthorizeUrl);
    txtOAuthTokenUrl->setText(s.OAuthTokenUrl);
    txtOAuthScope->setText(s.OAuthScope);
    m_refreshToken = s.OAuthRefreshToken;
    m_accessToken = s.OAuthAccessToken;
    m_accessExpiry = s.OAuthAccessExpiry;
    // Who signed in, as the dialog saved it with the sign-in.
    m_account = profile.isEmpty()
        ? QString()
        : modRegistry::ReadStoreValue(modRegistry::HKEY_CURRENT_USER, kSettingKeyPrefix + profile,
                                      ProfileKeys::kOAuthAccount, QString());
    m_signedInNow = false;
    if (!s.usesOAuth2() && s.OAuthProvider.isEmpty())
        providerChanged(false); // the first preset's addresses, ready when OAuth2 is chosen
    else
        providerChanged(false);

    QStringList places;
    if (!profile.isEmpty()) {
        const auto place = [&profile](SecretKind kind) {
            return ProfileSecrets::placeText(ProfileSecrets::placeOf(profile, kind));
        };
        places << QStringLiteral("Email password: ") + place(SecretKind::EmailPassword)
               << QStringLiteral("Dial-up password: ") + place(SecretKind::DialupPassword)
               << QStringLiteral("OAuth2 sign-in: ") + place(SecretKind::OAuthRefreshToken);
    }
    lblSecretPlaces->setText(places.isEmpty()
                                 ? QStringLiteral("Secrets are kept in the desktop keyring where one runs, else "
                                                  "scrambled in the settings file.")
                                 : places.join(QLatin1Char('\n')));
    if (!s.SecretProblem.isEmpty())
        lblSecretPlaces->setText(lblSecretPlaces->text() + QLatin1Char('\n')
                                 + WindowWords::text(s.SecretProblem, s.SecretAdvice));
    // A sign-in the keyring holds but would not give is no missing sign-in.
    m_signInUnread = s.OAuthRefreshToken.isEmpty() && !s.SecretProblem.isEmpty() && !profile.isEmpty()
        && ProfileSecrets::placeOf(profile, SecretKind::OAuthRefreshToken) == ProfileSecrets::Place::Keyring;
    showSignedIn();
}

void OAuthSignInWidget::apply(ProfileSettingsRecord &s) const
{
    s.SignInMethod = cboSignInMethod->currentText();
    s.OAuthProvider = cboOAuthProvider->currentText();
    s.OAuthClientId = txtOAuthClientId->text().trimmed();
    s.OAuthClientSecret = txtOAuthClientSecret->text().trimmed();
    s.OAuthAuthorizeUrl = txtOAuthAuthorizeUrl->text().trimmed();
    s.OAuthTokenUrl = txtOAuthTokenUrl->text().trimmed();
    s.OAuthScope = txtOAuthScope->text().simplified();
    s.OAuthRefreshToken = m_refreshToken;
    s.OAuthAccessToken = m_accessToken;
    s.OAuthAccessExpiry = m_accessExpiry;
}

bool OAuthSignInWidget::usesOAuth2() const
{
    return cboSignInMethod->currentText() == kSignInOAuth2;
}

QLineEdit *OAuthSignInWidget::missingField(QString *warning) const
{
    const QList<QPair<QLineEdit *, QString>> needed{
        {txtOAuthClientId, QStringLiteral("Client ID cannot be empty")},
        {txtOAuthAuthorizeUrl, QStringLiteral("Authorization Address cannot be empty")},
        {txtOAuthTokenUrl, QStringLiteral("Token Address cannot be empty")},
    };
    for (const auto &[edit, text] : needed) {
        if (edit->text().trimmed().isEmpty()) {
            *warning = text;
            return edit;
        }
    }
    return nullptr;
}

QList<QWidget *> OAuthSignInWidget::tabOrder() const
{
    return {cboSignInMethod,      cboOAuthProvider, txtOAuthClientId, txtOAuthClientSecret,
            txtOAuthAuthorizeUrl, txtOAuthTokenUrl, txtOAuthScope,    cmdSignIn};
}

void OAuthSignInWidget::methodChanged()
{
    m_oauthFields->setVisible(usesOAuth2());
}

void OAuthSignInWidget::setImap(bool imap)
{
    if (imap == m_imap)
        return;
    m_imap = imap;
    const OAuthPreset was = OAuthPresetNamed(provider(), !imap);
    if (was.name != kProviderOther && txtOAuthScope->text() == was.scope)
        txtOAuthScope->setText(OAuthPresetNamed(provider(), imap).scope);
}

QString OAuthSignInWidget::provider() const
{
    return cboOAuthProvider->currentText();
}

void OAuthSignInWidget::providerChanged(bool picked)
{
    const OAuthPreset preset = OAuthPresetNamed(cboOAuthProvider->currentText(), m_imap);
    if (preset.name != kProviderOther && (picked || txtOAuthAuthorizeUrl->text().isEmpty())) {
        txtOAuthAuthorizeUrl->setText(preset.authorizeUrl);
        txtOAuthTokenUrl->setText(preset.tokenUrl);
        txtOAuthScope->setText(preset.scope);
    }
    if (picked && preset.name != kProviderOther)
        Q_EMIT presetChosen(preset);
    // Addresses of "Other" are typed; the old ones stay as a start.
    const bool typed = preset.name == kProviderOther;
    txtOAuthAuthorizeUrl->setReadOnly(!typed);
    txtOAuthTokenUrl->setReadOnly(!typed);
}

void OAuthSignInWidget::showSignedIn()
{
    if (m_refreshToken.isEmpty() && m_signInUnread)
        setResultText(QStringLiteral("The sign-in is kept in the desktop keyring, which did not give it (see "
                                     "above)."));
    else if (m_refreshToken.isEmpty())
        setResultText(QStringLiteral("Not signed in."));
    else if (m_signedInNow)
        setResultText(m_account.isEmpty() ? QStringLiteral("Signed in. OK keeps the sign-in.")
                                          : QStringLiteral("Signed in as %1. OK keeps the sign-in.").arg(m_account));
    else
        setResultText(m_account.isEmpty() ? QStringLiteral("Signed in.")
                                          : QStringLiteral("Signed in as %1.").arg(m_account));
}

void OAuthSignInWidget::setResultText(const QString &text)
{
    lblSignedIn->setText(text);
    // A window does not grow by itself for a wrapped label's new height
    // (the layout's minimum ignores height-for-width): it is asked to.
    QWidget *top = window();
    if (!top->isVisible() || !top->layout())
        return;
    // The layouts between keep their old sizes until told.
    for (QWidget *w = lblSignedIn; w; w = w->parentWidget()) {
        if (w->layout())
            w->layout()->invalidate();
        if (w == top)
            break;
        w->updateGeometry();
    }
    const int needed = top->heightForWidth(top->width());
    if (needed > top->height())
        top->resize(top->width(), needed);
}

void OAuthSignInWidget::replaceRefreshToken(const QString &tested, const QString &renewed)
{
    if (m_refreshToken == tested)
        m_refreshToken = renewed;
}

void OAuthSignInWidget::signIn(const QString &userName)
{
    ProfileSettingsRecord s;
    apply(s);
    AuthorizationFlow flow(endpointsOf(s));
    if (m_browser)
        flow.setBrowser(m_browser);
    flow.setLoginHint(userName);
    QProgressDialog waiting(QStringLiteral("Finish the sign-in in your web browser..."), QStringLiteral("Cancel"), 0, 0,
                            this);
    waiting.setObjectName(QStringLiteral("dlgSignIn"));
    waiting.setWindowTitle(QStringLiteral("Sign In"));
    waiting.setWindowModality(Qt::WindowModal);
    waiting.setMinimumDuration(0);
    connect(&waiting, &QProgressDialog::canceled, &flow, &AuthorizationFlow::cancel);
    waiting.show();
    cmdSignIn->setEnabled(false);
    const TokenResponse result = flow.run();
    waiting.reset();
    cmdSignIn->setEnabled(true);
    if (result.status != TokenResponse::Status::Ok) {
        setResultText(result.error);
        return;
    }
    if (result.refreshToken.isEmpty()) {
        setResultText(QStringLiteral("The provider gave no lasting sign-in (no refresh token). Check that the "
                                     "scope asks for offline access."));
        return;
    }
    m_refreshToken = result.refreshToken;
    m_accessToken = result.accessToken;
    m_accessExpiry = result.expiresAt;
    m_account = result.account;
    m_signedInNow = true;
    showSignedIn();
    Q_EMIT changed();
}
