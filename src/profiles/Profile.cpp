#include "Profile.h"

#include "Global.h"
#include "Scramble.h"
#include "SettingsStore.h"

using namespace modRegistry;

void LoadProfile(const QString &name)
{
    const QString path = kSettingKeyPrefix + name;
    auto &s = Global::ProfileSettings;
    s.EmailHost = ReadStoreValue(HKEY_CURRENT_USER, path, QStringLiteral("EmailHost"), QString());
    s.EmailPort = ReadStoreValue(HKEY_CURRENT_USER, path, QStringLiteral("EmailPort"), QStringLiteral("110"));
    s.EmailUserid = ReadStoreValue(HKEY_CURRENT_USER, path, QStringLiteral("EmailUserid"), QString());
    s.EmailPassword = modSecurity::UnscrambleText(
        ReadStoreValue(HKEY_CURRENT_USER, path, QStringLiteral("EmailPassword"), QString()));
    s.Autodial = ReadStoreValue(HKEY_CURRENT_USER, path, QStringLiteral("Autodial"), QStringLiteral("0"));
    s.DialupNumber = ReadStoreValue(HKEY_CURRENT_USER, path, QStringLiteral("DialupNumber"), QString());
    s.DialupUserID = ReadStoreValue(HKEY_CURRENT_USER, path, QStringLiteral("DialupUserID"), QString());
    s.DialupPassword = modSecurity::UnscrambleText(
        ReadStoreValue(HKEY_CURRENT_USER, path, QStringLiteral("DialupPassword"), QString()));
}

bool IsPortText(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    bool ok = false;
    const uint port = text.toUInt(&ok);
    return ok && port >= 1 && port <= 65535;
}
