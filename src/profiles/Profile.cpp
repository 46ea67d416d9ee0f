#include "Profile.h"

#include "ProfileStore.h"

ProfileSettingsRecord ReadProfile(const QString &name)
{
    return ProfileStore().read(name);
}

QStringList ProfileNames()
{
    return ProfileStore().names();
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
