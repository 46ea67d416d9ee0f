#include "OAuthSettings.h"

#include "MailProtocol.h"
#include "Profile.h"
#include "ProfileKeys.h"
#include "SettingsStore.h"

using namespace modRegistry;
using namespace ProfileKeys;

const QList<OAuthPreset> &OAuthPresets(bool imap)
{
    static const QList<OAuthPreset> presets{
        {QStringLiteral("Google"), QStringLiteral("pop.gmail.com"), kTlsPort, kSecuritySslTls,
         QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth"),
         QStringLiteral("https://oauth2.googleapis.com/token"),
         QStringLiteral("https://mail.google.com/ openid email")},
        {QStringLiteral("Microsoft"), QStringLiteral("outlook.office365.com"), kTlsPort, kSecuritySslTls,
         QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/authorize"),
         QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/token"),
         QStringLiteral("https://outlook.office.com/POP.AccessAsUser.All offline_access openid email")},
        {kProviderOther, {}, {}, {}, {}, {}, {}},
    };
    // Google's one scope covers IMAP too; Microsoft grants each protocol apart.
    static const QList<OAuthPreset> imapPresets{
        {QStringLiteral("Google"), QStringLiteral("imap.gmail.com"), kImapTlsPort, kSecuritySslTls,
         QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth"),
         QStringLiteral("https://oauth2.googleapis.com/token"),
         QStringLiteral("https://mail.google.com/ openid email")},
        {QStringLiteral("Microsoft"), QStringLiteral("outlook.office365.com"), kImapTlsPort, kSecuritySslTls,
         QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/authorize"),
         QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/token"),
         QStringLiteral("https://outlook.office.com/IMAP.AccessAsUser.All offline_access openid email")},
        {kProviderOther, {}, {}, {}, {}, {}, {}},
    };
    return imap ? imapPresets : presets;
}

OAuthPreset OAuthPresetNamed(const QString &name, bool imap)
{
    for (const OAuthPreset &preset : OAuthPresets(imap)) {
        if (preset.name.compare(name.trimmed(), Qt::CaseInsensitive) == 0)
            return preset;
    }
    return OAuthPresets(imap).constLast();
}

void LoadOAuthSettings(const QString &profile, ProfileSettingsRecord &s)
{
    const QString path = kSettingKeyPrefix + profile;
    const auto read = [&path](const QString &name) {
        return ReadStoreValue(HKEY_CURRENT_USER, path, name, QString()).trimmed();
    };
    s.SignInMethod = read(kSignInMethod).compare(kSignInOAuth2, Qt::CaseInsensitive) == 0 ? kSignInOAuth2
                                                                                          : kSignInPassword;
    s.OAuthProvider = OAuthPresetNamed(read(kOAuthProvider)).name;
    s.OAuthClientId = read(kOAuthClientId);
    s.OAuthClientSecret = read(kOAuthClientSecret);
    s.OAuthAuthorizeUrl = read(kOAuthAuthorizeUrl);
    s.OAuthTokenUrl = read(kOAuthTokenUrl);
    s.OAuthScope = read(kOAuthScope);
    s.OAuthAccessToken.clear();
    s.OAuthAccessExpiry = 0;
}

QList<modRegistry::StoreValue> OAuthSettingValues(const QString &profile, const ProfileSettingsRecord &s)
{
    const QString path = kSettingKeyPrefix + profile;
    // A desktop client's "secret" is not confidential (every copy of the
    // program holds it), so it is kept with the other client settings.
    return {{path, kSignInMethod, s.usesOAuth2() ? kSignInOAuth2 : kSignInPassword},
            {path, kOAuthProvider, s.OAuthProvider},
            {path, kOAuthClientId, s.OAuthClientId},
            {path, kOAuthClientSecret, s.OAuthClientSecret},
            {path, kOAuthAuthorizeUrl, s.OAuthAuthorizeUrl},
            {path, kOAuthTokenUrl, s.OAuthTokenUrl},
            {path, kOAuthScope, s.OAuthScope}};
}
