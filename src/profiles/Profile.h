#pragma once

#include <QString>

inline const QString kSettingKeyPrefix = QStringLiteral("Software\\Trelvik\\Setting\\");
inline const QString kTrelvikKey = QStringLiteral("Software\\Trelvik");

// Fills Global::ProfileSettings from the key "Software\Trelvik\Setting\" + name,
// with the defaults for missing values and the passwords unscrambled.
void LoadProfile(const QString &name);

// Whether a port text is a whole number from 1 to 65535, written in digits
// only (no sign, no spaces).
bool IsPortText(const QString &text);
