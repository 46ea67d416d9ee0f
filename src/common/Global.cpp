#include "Global.h"

namespace Global {

ProfileSettingsRecord ProfileSettings;
QString CurrentProfile;
QString PreviousProfile;
int NewProfileFlag = 0;
bool SettingsChanged = false;

CancelFlag &CancelRequested()
{
    static CancelFlag flag;
    return flag;
}

} // namespace Global
