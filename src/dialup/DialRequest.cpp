#include "DialRequest.h"

#include "Dialer.h"
#include "ProfileRecord.h"

namespace {

bool passable(const QString &value, int maxLength)
{
    // Lengths count as the settings dialog counts them (UTF-16 units).
    return value.size() <= maxLength && !value.contains(QChar(0)) && value.isValidUtf16();
}

} // namespace

DialRequest DialRequest::fromProfile(const ProfileSettingsRecord &settings)
{
    return {settings.DialupNumber, settings.DialupUserID, settings.DialupPassword};
}

qint32 DialRequest::check() const
{
    if (!passable(number, kMaxDialupNumberLength) || !passable(user, kMaxDialupCredentialLength)
        || !passable(password, kMaxDialupCredentialLength))
        return DialResultCode::InvalidSize;
    return DialResultCode::Success;
}

Nm::ConnectionSettings DialRequest::connectionSettings(uint modemCapabilities) const
{
    const uint mobile = Nm::kModemGsmUmts | Nm::kModemLte | Nm::kModem5gnr;
    const bool cdmaOnly = (modemCapabilities & Nm::kModemCdmaEvdo) && !(modemCapabilities & mobile);
    const QString kind = cdmaOnly ? QStringLiteral("cdma") : QStringLiteral("gsm");

    QVariantMap modem;
    if (!number.isEmpty())
        modem.insert(QStringLiteral("number"), number);
    if (!user.isEmpty())
        modem.insert(QStringLiteral("username"), user);
    if (!password.isEmpty())
        modem.insert(QStringLiteral("password"), password);

    Nm::ConnectionSettings settings;
    settings.insert(QStringLiteral("connection"),
                    QVariantMap{{QStringLiteral("id"), QStringLiteral("Trelvik dial-up")},
                                {QStringLiteral("type"), kind},
                                {QStringLiteral("autoconnect"), false}});
    settings.insert(kind, modem);
    return settings;
}
