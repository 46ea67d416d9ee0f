#include "Global.h"

namespace Global {

ProfileSettingsRecord ProfileSettings;
QString CurrentProfile;
QString PreviousProfile;
int NewProfileFlag = 0;
bool SettingsChanged = false;

bool ProfileSettingsRecord::isConfigured() const
{
    return !EmailHost.isEmpty() && !EmailPort.isEmpty() && !EmailUserid.isEmpty()
        && !EmailPassword.isEmpty();
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
