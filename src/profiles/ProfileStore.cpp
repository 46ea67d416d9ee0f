#include "ProfileStore.h"

#include "KeyringSecretStore.h"
#include "OAuthSettings.h"
#include "Profile.h"
#include "ProfileKeys.h"
#include "SettingsStore.h"

using namespace modRegistry;
using namespace ProfileKeys;

ProfileStore::ProfileStore()
    : m_keyring(desktopKeyring())
{
}

ProfileStore::ProfileStore(SecretStore &keyring)
    : m_keyring(keyring)
{
}

ProfileSettingsRecord ProfileStore::read(const QString &name) const
{
    const QString path = kSettingKeyPrefix + name;
    const auto value = [&path](const QString &valueName, const QString &missing = QString()) {
        return ReadStoreValue(HKEY_CURRENT_USER, path, valueName, missing);
    };
    ProfileSettingsRecord s;
    s.EmailHost = value(kEmailHost);
    s.EmailPort = value(kEmailPort, kPlainPort);
    s.EmailUserid = value(kEmailUserId);
    s.Autodial = value(kAutodial, QStringLiteral("0"));
    s.DialupNumber = value(kDialupNumber);
    s.DialupUserID = value(kDialupUserID);
    s.EmailSecurity = StoredEmailSecurity(value(kEmailSecurity), s.EmailPort);
    s.TrustedCertificate = value(kTrustedCertificate);
    s.MailProtocol = value(kMailProtocol).compare(QLatin1String("IMAP"), Qt::CaseInsensitive) == 0
        ? QStringLiteral("IMAP")
        : QStringLiteral("POP3");
    s.ImapFolder = value(kImapFolder, QStringLiteral("INBOX"));
    const QString action = value(kImapEmptyAction);
    for (const QString &known : {QStringLiteral("Trash"), QStringLiteral("Delete")})
        if (action.compare(known, Qt::CaseInsensitive) == 0)
            s.ImapEmptyAction = known;
    s.ImapTargetFolder = value(kImapTargetFolder);
    s.SievePort = value(kSievePort);
    s.SieveSecurity = value(kSieveSecurity);
    s.DeleteLearnedSpam = value(kDeleteLearnedSpam) == QLatin1String("1") ? QStringLiteral("1") : QStringLiteral("0");
    s.ShareLearning = value(kShareLearning) == QLatin1String("1") ? QStringLiteral("1") : QStringLiteral("0");
    LoadOAuthSettings(name, s);
    ProfileSecrets::load(m_keyring, name, s);
    return s;
}

ProfileSecrets::Report ProfileStore::readSecrets(const QString &name, ProfileSettingsRecord &s) const
{
    return ProfileSecrets::load(m_keyring, name, s);
}

QStringList ProfileStore::names() const
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

QString ProfileStore::learningName(const QString &name)
{
    return ProfileSettingsRecord::learningNameOf(name,
                                                 ReadStoreValue(HKEY_CURRENT_USER, kSettingKeyPrefix + name,
                                                                kShareLearning, QString()));
}

QString ProfileStore::lastProfile() const
{
    return ReadStoreValue(HKEY_CURRENT_USER, kTrelvikKey, kLastProfile, QString());
}

StoreWriteResult ProfileStore::rememberLastProfile(const QString &name) const
{
    StoreWriteResult result;
    result.ok = WriteStoreValue(HKEY_CURRENT_USER, kTrelvikKey, kLastProfile, REG_SZ, name, &result.error);
    return result;
}

ProfileStore::SaveResult ProfileStore::save(const QString &name, const ProfileSettingsRecord &s,
                                            const SaveOptions &options) const
{
    const QString key = kSettingKeyPrefix + name;
    QList<StoreValue> values{
        {key, kEmailHost, s.EmailHost},         {key, kEmailPort, s.EmailPort},
        {key, kEmailUserId, s.EmailUserid},     {key, kAutodial, s.Autodial},
        {key, kDialupNumber, s.DialupNumber},   {key, kDialupUserID, s.DialupUserID},
        {key, kEmailSecurity, s.EmailSecurity},
    };
    // A POP3 profile's file stays as it was, but for the protocol (a profile
    // that was IMAP must read as POP3 again).
    if (s.protocol() == MailProtocolKind::Imap)
        values += {{key, kMailProtocol, QStringLiteral("IMAP")},
                   {key, kImapFolder, s.ImapFolder},
                   {key, kImapEmptyAction, s.ImapEmptyAction},
                   {key, kImapTargetFolder, s.ImapTargetFolder}};
    else if (!ReadStoreValue(HKEY_CURRENT_USER, key, kMailProtocol, QString()).isEmpty())
        values.append({key, kMailProtocol, QStringLiteral("POP3")});
    // Written once the user allowed it, so that older files stay as they were.
    for (const auto &[field, setting] :
         {std::pair{kDeleteLearnedSpam, s.DeleteLearnedSpam}, std::pair{kShareLearning, s.ShareLearning}}) {
        if (setting == QLatin1String("1") || !ReadStoreValue(HKEY_CURRENT_USER, key, field, QString()).isEmpty())
            values.append({key, field, setting});
    }
    values += OAuthSettingValues(name, s);
    values.append({key, kOAuthAccount, options.oauthAccount});
    if (options.withdrawTrust)
        values.append({key, kTrustedCertificate, QString()});
    if (options.makeLast)
        values.append({kTrelvikKey, kLastProfile, name});
    SaveResult result;
    result.settings.ok = WriteStoreValues(HKEY_CURRENT_USER, values, &result.settings.error);
    if (result.settings)
        result.secrets = ProfileSecrets::save(m_keyring, name, s, options.loaded);
    return result;
}

StoreWriteResult ProfileStore::remove(const QString &name) const
{
    const std::function<void()> forgetSecrets = ProfileSecrets::remover(m_keyring, name);
    StoreWriteResult result;
    result.ok = DeleteStoreKey(HKEY_CURRENT_USER, kSettingKeyPrefix + name, &result.error);
    if (result)
        forgetSecrets();
    return result;
}

StoreWriteResult ProfileStore::saveTrustedCertificate(const QString &profile, const QString &fingerprint) const
{
    QString hex;
    for (const QChar c : fingerprint) {
        if (c != QLatin1Char(':') && !c.isSpace())
            hex += c.toLower();
    }
    StoreWriteResult result;
    result.ok = WriteStoreValue(HKEY_CURRENT_USER, kSettingKeyPrefix + profile, kTrustedCertificate, REG_SZ, hex,
                                &result.error);
    return result;
}

ProfileSecrets::Report ProfileStore::saveRefreshToken(const QString &profile, const QString &token) const
{
    return ProfileSecrets::saveOne(m_keyring, profile, SecretKind::OAuthRefreshToken, token);
}
