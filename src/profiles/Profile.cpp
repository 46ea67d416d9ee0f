#include "Profile.h"

#include "Global.h"
#include "KeyringSecretStore.h"
#include "OAuthSettings.h"
#include "ProfileSecrets.h"
#include "SettingsStore.h"

using namespace modRegistry;

void LoadProfile(const QString &name)
{
    Global::ProfileSettings = ReadProfile(name);
}

ProfileSettingsRecord ReadProfile(const QString &name)
{
    const QString path = kSettingKeyPrefix + name;
    ProfileSettingsRecord s;
    s.EmailHost = ReadStoreValue(HKEY_CURRENT_USER, path, QStringLiteral("EmailHost"), QString());
    s.EmailPort = ReadStoreValue(HKEY_CURRENT_USER, path, QStringLiteral("EmailPort"), QStringLiteral("110"));
    s.EmailUserid = ReadStoreValue(HKEY_CURRENT_USER, path, QStringLiteral("EmailUserid"), QString());
    s.Autodial = ReadStoreValue(HKEY_CURRENT_USER, path, QStringLiteral("Autodial"), QStringLiteral("0"));
    s.DialupNumber = ReadStoreValue(HKEY_CURRENT_USER, path, QStringLiteral("DialupNumber"), QString());
    s.DialupUserID = ReadStoreValue(HKEY_CURRENT_USER, path, QStringLiteral("DialupUserID"), QString());
    s.EmailSecurity = StoredEmailSecurity(
        ReadStoreValue(HKEY_CURRENT_USER, path, QStringLiteral("EmailSecurity"), QString()), s.EmailPort);
    s.TrustedCertificate = ReadStoreValue(HKEY_CURRENT_USER, path, QStringLiteral("TrustedCertificate"), QString());
    LoadOAuthSettings(name, s);
    ProfileSecrets::load(desktopKeyring(), name, s);
    return s;
}

QStringList ProfileNames()
{
    QStringList names;
    for (qint32 i = 0;; ++i) {
        const QString name = EnumStoreKey(HKEY_CURRENT_USER, kSettingKeyPrefix, i);
        if (name == QLatin1String("Not Found"))
            break;
        names << name;
    }
    return names;
}

QString DefaultEmailSecurity(const QString &port)
{
    return port == kTlsPort ? kSecuritySslTls : kSecurityNone;
}

QString EmailSecurityFor(const QString &stored, const QString &port)
{
    for (const QString &known : {kSecurityNone, kSecurityStartTls, kSecuritySslTls}) {
        if (stored.trimmed().compare(known, Qt::CaseInsensitive) == 0)
            return known;
    }
    if (stored.trimmed().isEmpty())
        return DefaultEmailSecurity(port);
    return port == kTlsPort ? kSecuritySslTls : kSecurityStartTls;
}

QString StoredEmailSecurity(const QString &stored, const QString &port)
{
    const QString known = EmailSecurityFor(stored, port);
    if (stored.trimmed().isEmpty() || known.compare(stored.trimmed(), Qt::CaseInsensitive) == 0)
        return known;
    return stored;
}

QString PortForSecurity(const QString &security, const QString &port)
{
    if (security == kSecuritySslTls && port == kPlainPort)
        return kTlsPort;
    if (security != kSecuritySslTls && port == kTlsPort)
        return kPlainPort;
    return port;
}

void SaveTrustedCertificate(const QString &profile, const QString &fingerprint)
{
    QString hex;
    for (const QChar c : fingerprint) {
        if (c != QLatin1Char(':') && !c.isSpace())
            hex += c.toLower();
    }
    WriteStoreValue(HKEY_CURRENT_USER, kSettingKeyPrefix + profile, QStringLiteral("TrustedCertificate"), REG_SZ, hex);
    if (profile.compare(Global::CurrentProfile, Qt::CaseInsensitive) == 0)
        Global::ProfileSettings.TrustedCertificate = hex;
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
