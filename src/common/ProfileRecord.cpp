#include "ProfileRecord.h"

bool ProfileSettingsRecord::usesOAuth2() const
{
    return SignInMethod.compare(QLatin1String("OAuth2"), Qt::CaseInsensitive) == 0;
}

bool ProfileSettingsRecord::isConfigured() const
{
    return !EmailHost.isEmpty() && !EmailPort.isEmpty() && !EmailUserid.isEmpty()
        && (usesOAuth2() ? !OAuthClientId.isEmpty() : !EmailPassword.isEmpty());
}
