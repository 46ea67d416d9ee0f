#include "OAuthSettings.h"

#include "Profile.h"
#include "SettingsStore.h"

using namespace modRegistry;

const QList<OAuthPreset> &OAuthPresets()
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
    return presets;
}

OAuthPreset OAuthPresetNamed(const QString &name)
{
    for (const OAuthPreset &preset : OAuthPresets()) {
        if (preset.name.compare(name.trimmed(), Qt::CaseInsensitive) == 0)
            return preset;
    }
    return OAuthPresets().constLast();
}

void LoadOAuthSettings(const QString &profile, ProfileSettingsRecord &s)
{
    const QString path = kSettingKeyPrefix + profile;
    const auto read = [&path](const char *name) {
        return ReadStoreValue(HKEY_CURRENT_USER, path, QLatin1String(name), QString()).trimmed();
    };
    s.SignInMethod = read("SignInMethod").compare(kSignInOAuth2, Qt::CaseInsensitive) == 0 ? kSignInOAuth2
                                                                                            : kSignInPassword;
    s.OAuthProvider = OAuthPresetNamed(read("OAuthProvider")).name;
    s.OAuthClientId = read("OAuthClientId");
    s.OAuthClientSecret = read("OAuthClientSecret");
    s.OAuthAuthorizeUrl = read("OAuthAuthorizeUrl");
    s.OAuthTokenUrl = read("OAuthTokenUrl");
    s.OAuthScope = read("OAuthScope");
    s.OAuthAccessToken.clear();
    s.OAuthAccessExpiry = 0;
}

QList<modRegistry::StoreValue> OAuthSettingValues(const QString &profile, const ProfileSettingsRecord &s)
{
    const QString path = kSettingKeyPrefix + profile;
    // A desktop client's "secret" is not confidential (every copy of the
    // program holds it), so it is kept with the other client settings.
    return {{path, QStringLiteral("SignInMethod"), s.usesOAuth2() ? kSignInOAuth2 : kSignInPassword},
            {path, QStringLiteral("OAuthProvider"), s.OAuthProvider},
            {path, QStringLiteral("OAuthClientId"), s.OAuthClientId},
            {path, QStringLiteral("OAuthClientSecret"), s.OAuthClientSecret},
            {path, QStringLiteral("OAuthAuthorizeUrl"), s.OAuthAuthorizeUrl},
            {path, QStringLiteral("OAuthTokenUrl"), s.OAuthTokenUrl},
            {path, QStringLiteral("OAuthScope"), s.OAuthScope}};
}
