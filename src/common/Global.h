#pragma once

#include "CancelFlag.h"
#include "ProfileRecord.h"

#include <QString>

// Program-wide state shared by the subsystems. Only what the design names
// lives here; everything else belongs to the object that uses it (the
// current profile belongs to the main window: CurrentProfile).
namespace Global {

CancelFlag &CancelRequested();

} // namespace Global
