#include "ScrambledSecretStore.h"

#include "Profile.h"
#include "ProfileKeys.h"
#include "Scramble.h"
#include "SettingsStore.h"

#include <QStringList>

using namespace modRegistry;

namespace {
// Characters per scrambled piece: well inside the form's byte limit even
// for text that is not ASCII.
constexpr qsizetype kPiece = 240;
} // namespace

QString secretValueName(SecretKind kind)
{
    switch (kind) {
    case SecretKind::EmailPassword:
        return ProfileKeys::kEmailPassword;
    case SecretKind::DialupPassword:
        return ProfileKeys::kDialupPassword;
    case SecretKind::OAuthRefreshToken:
        return ProfileKeys::kOAuthRefreshToken;
    }
    return {};
}

QString secretLabel(const QString &profile, SecretKind kind)
{
    switch (kind) {
    case SecretKind::EmailPassword:
        return QStringLiteral("Email password of profile %1").arg(profile);
    case SecretKind::DialupPassword:
        return QStringLiteral("Dial-up password of profile %1").arg(profile);
    case SecretKind::OAuthRefreshToken:
        return QStringLiteral("OAuth2 sign-in of profile %1").arg(profile);
    }
    return {};
}

SecretStore::Answer ScrambledSecretStore::read(const QString &profile, SecretKind kind)
{
    const QString stored = ReadStoreValue(HKEY_CURRENT_USER, kSettingKeyPrefix + profile, secretValueName(kind),
                                          QString());
    if (stored.isEmpty())
        return {Status::NotFound, {}, {}};
    QString secret;
    for (const QString &piece : stored.split(QLatin1Char(';')))
        secret += modSecurity::UnscrambleText(piece);
    return {Status::Ok, secret, {}};
}

SecretStore::Answer ScrambledSecretStore::write(const QString &profile, SecretKind kind, const QString &secret)
{
    QString text = secret;
    QStringList pieces;
    if (kind == SecretKind::OAuthRefreshToken) {
        for (qsizetype at = 0; at < text.size(); at += kPiece) {
            QString piece = text.mid(at, kPiece);
            pieces << modSecurity::ScrambleText(piece);
        }
    } else {
        pieces << modSecurity::ScrambleText(text); // trims, as passwords always were
    }
    WriteStoreValue(HKEY_CURRENT_USER, kSettingKeyPrefix + profile, secretValueName(kind), REG_SZ,
                    pieces.join(QLatin1Char(';')));
    return {};
}

SecretStore::Answer ScrambledSecretStore::remove(const QString &profile, SecretKind kind)
{
    WriteStoreValue(HKEY_CURRENT_USER, kSettingKeyPrefix + profile, secretValueName(kind), REG_SZ, QString());
    return {};
}
