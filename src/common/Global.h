#pragma once

#include "CancelFlag.h"
#include "ProfileRecord.h"

#include <QString>

// Program-wide state shared by the subsystems. Only what the design names
// lives here; everything else belongs to the object that uses it.
namespace Global {

extern ProfileSettingsRecord ProfileSettings;
extern QString CurrentProfile;
extern QString PreviousProfile;   // CurrentProfile when "New" was pressed
extern int NewProfileFlag;        // 1 from New Profile's OK until the settings dialog closes
extern bool SettingsChanged;      // a tracked field of the settings dialog was edited

CancelFlag &CancelRequested();

} // namespace Global
