#pragma once

#include "NmDBus.h"

#include <QString>

struct ProfileSettingsRecord;

// What one dial asks for: the profile's number, user ID and password, checked
// and turned into the settings of a temporary NetworkManager modem connection.
struct DialRequest {
    QString number;
    QString user;
    QString password;

    static DialRequest fromProfile(const ProfileSettingsRecord &settings);

    // DialResultCode::Success, or DialResultCode::InvalidSize for a value that is longer
    // than its field or that cannot travel intact as a D-Bus string (a NUL
    // character, a broken surrogate pair). Nothing is ever cut short.
    qint32 check() const;

    // The modem connection for a modem with the given NMDeviceModemCapabilities:
    // "cdma" settings for a CDMA-only modem, "gsm" for every other one.
    // Empty values are left out, as NetworkManager refuses empty texts.
    Nm::ConnectionSettings connectionSettings(uint modemCapabilities) const;
};
