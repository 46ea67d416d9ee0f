#include "Global.h"

namespace Global {

ProfileSettingsRecord ProfileSettings;
QString CurrentProfile;
QString PreviousProfile;
int NewProfileFlag = 0;
bool SettingsChanged = false;

bool ProfileSettingsRecord::usesOAuth2() const
{
    return SignInMethod.compare(QLatin1String("OAuth2"), Qt::CaseInsensitive) == 0;
}

bool ProfileSettingsRecord::isConfigured() const
{
    return !EmailHost.isEmpty() && !EmailPort.isEmpty() && !EmailUserid.isEmpty()
        && (usesOAuth2() ? !OAuthClientId.isEmpty() : !EmailPassword.isEmpty());
}

void CancelFlag::set()
{
    m_set = true;
    Q_EMIT raised();
}

CancelFlag &CancelRequested()
{
    static CancelFlag flag;
    return flag;
}

} // namespace Global
