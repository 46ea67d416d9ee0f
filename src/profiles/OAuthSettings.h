#pragma once

#include "ProfileRecord.h"
#include "SettingsStore.h"

#include <QList>
#include <QString>

// A provider whose mail server takes OAuth2: its server and its endpoints,
// filled in when the user picks it; POP3 and IMAP each have their own
// server and scope. "Other" has none: everything is typed.
struct OAuthPreset {
    QString name;
    QString host;
    QString port;
    QString security;
    QString authorizeUrl;
    QString tokenUrl;
    QString scope;
};

inline const QString kSignInPassword = QStringLiteral("Password");
inline const QString kSignInOAuth2 = QStringLiteral("OAuth2");
inline const QString kProviderOther = QStringLiteral("Other");

// Google, Microsoft, Other, in that order, for POP3 or for IMAP.
const QList<OAuthPreset> &OAuthPresets(bool imap = false);
// The preset of that name (case ignored); "Other" for any unknown name.
OAuthPreset OAuthPresetNamed(const QString &name, bool imap = false);

// The sign-in method and the OAuth2 client settings of a profile (not its
// refresh token, which is a secret). A profile saved before these existed
// reads as "Password".
void LoadOAuthSettings(const QString &profile, ProfileSettingsRecord &s);
// The values that store them, to be written with the profile's others.
QList<modRegistry::StoreValue> OAuthSettingValues(const QString &profile, const ProfileSettingsRecord &s);
