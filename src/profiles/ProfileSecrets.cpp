#include "ProfileSecrets.h"

#include "Profile.h"
#include "ProfileKeys.h"
#include "ScrambledSecretStore.h"
#include "SettingsStore.h"

#include <QStringList>

using namespace modRegistry;

namespace ProfileSecrets {

namespace {

constexpr SecretKind kKinds[] = {SecretKind::EmailPassword, SecretKind::DialupPassword, SecretKind::OAuthRefreshToken};
const QString kInKeyring = QStringLiteral("Keyring");

QString markerName(SecretKind kind)
{
    return secretValueName(kind) + ProfileKeys::kSecretPlaceSuffix;
}

void setMarker(const QString &profile, SecretKind kind, bool inKeyring)
{
    WriteStoreValue(HKEY_CURRENT_USER, kSettingKeyPrefix + profile, markerName(kind), REG_SZ,
                    inKeyring ? kInKeyring : QString());
}

bool markedInKeyring(const QString &profile, SecretKind kind)
{
    return ReadStoreValue(HKEY_CURRENT_USER, kSettingKeyPrefix + profile, markerName(kind), QString())
               .compare(kInKeyring, Qt::CaseInsensitive)
        == 0;
}

template <typename Record>
auto &field(Record &s, SecretKind kind)
{
    switch (kind) {
    case SecretKind::EmailPassword:
        return s.EmailPassword;
    case SecretKind::DialupPassword:
        return s.DialupPassword;
    case SecretKind::OAuthRefreshToken:
        break;
    }
    return s.OAuthRefreshToken;
}

QString what(SecretKind kind)
{
    switch (kind) {
    case SecretKind::EmailPassword:
        return QStringLiteral("email password");
    case SecretKind::DialupPassword:
        return QStringLiteral("dial-up password");
    case SecretKind::OAuthRefreshToken:
        break;
    }
    return QStringLiteral("OAuth2 sign-in");
}

} // namespace

namespace {

enum class Kept { Keyring, FileNoKeyring, FileRefused };

// One secret into the keyring, else scrambled into the settings file (the
// scrambled form is written before the marker goes, so the secret is in one
// place or the other at every moment). tryKeyring false: straight to the file.
Kept keep(SecretStore &keyring, const QString &profile, SecretKind kind, const QString &secret, bool tryKeyring,
          QString *why)
{
    ScrambledSecretStore file;
    if (secret.isEmpty()) {
        if (markedInKeyring(profile, kind))
            keyring.remove(profile, kind);
        file.remove(profile, kind);
        setMarker(profile, kind, false);
        return Kept::Keyring;
    }
    SecretStore::Answer answer{SecretStore::Status::NoKeyring, {}, {}};
    if (tryKeyring)
        answer = keyring.write(profile, kind, secret);
    if (answer.status == SecretStore::Status::Ok) {
        setMarker(profile, kind, true);
        file.remove(profile, kind);
        return Kept::Keyring;
    }
    file.write(profile, kind, secret);
    setMarker(profile, kind, false);
    if (why && why->isEmpty())
        *why = answer.error;
    return answer.status == SecretStore::Status::NoKeyring ? Kept::FileNoKeyring : Kept::FileRefused;
}

// Every entry the program may have written for the profile, marked or not:
// a save while the keyring was locked clears a marker but leaves the entry.
// False when the keyring kept one (locked, refused).
bool removeAll(SecretStore &keyring, const QString &profile)
{
    bool gone = true;
    for (const SecretKind kind : kKinds) {
        const SecretStore::Status status = keyring.remove(profile, kind).status;
        if (status == SecretStore::Status::NoKeyring)
            return true;
        gone = gone && (status == SecretStore::Status::Ok || status == SecretStore::Status::NotFound);
    }
    return gone;
}

// Deleted profiles whose keyring entries are still to go, one a line.
const QString &kLeftovers = ProfileKeys::kKeyringLeftovers;

QStringList leftovers()
{
    return ReadStoreValue(HKEY_CURRENT_USER, kTrelvikKey, kLeftovers, QString())
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void setLeftovers(QStringList profiles)
{
    profiles.removeDuplicates();
    if (profiles != leftovers())
        WriteStoreValue(HKEY_CURRENT_USER, kTrelvikKey, kLeftovers, REG_SZ, profiles.join(QLatin1Char('\n')));
}

void removeLeftovers(SecretStore &keyring)
{
    const QStringList before = leftovers();
    QStringList still;
    for (const QString &profile : before) {
        if (!removeAll(keyring, profile))
            still << profile;
    }
    if (still != before)
        setLeftovers(still);
}

Report refusedReport(const QStringList &inFile, const QString &why)
{
    Report report;
    report.trouble = true;
    report.text = QStringLiteral("The desktop keyring did not take the %1, so it is kept scrambled in the "
                                 "settings file instead.")
                      .arg(inFile.join(QStringLiteral(", ")));
    if (!why.isEmpty())
        report.text += QStringLiteral("\r\nThe keyring said: ") + why;
    return report;
}

} // namespace

Report save(SecretStore &keyring, const QString &profile, const ProfileSettingsRecord &s,
            const ProfileSettingsRecord *loaded)
{
    // Entries of deleted profiles the keyring would not let go before; one
    // of them may carry this profile's name.
    removeLeftovers(keyring);
    QStringList refused;
    QString why;
    bool tryKeyring = true; // a keyring that failed once is not asked again in this save
    for (const SecretKind kind : kKinds) {
        // Held by the keyring, empty when read and empty now: a secret the
        // keyring did not give (locked, refused) stays as it is.
        if (loaded && field(s, kind).isEmpty() && field(*loaded, kind).isEmpty() && markedInKeyring(profile, kind))
            continue;
        const Kept kept = keep(keyring, profile, kind, field(s, kind), tryKeyring, &why);
        if (kept == Kept::Keyring)
            continue;
        if (tryKeyring && kept == Kept::FileRefused)
            refused << what(kind);
        else if (!refused.isEmpty())
            refused << what(kind);
        tryKeyring = false;
    }
    // Without any keyring the settings file is simply where secrets live;
    // a keyring that is there but refused deserves a word.
    return refused.isEmpty() ? Report{} : refusedReport(refused, why);
}

Report saveOne(SecretStore &keyring, const QString &profile, SecretKind kind, const QString &secret)
{
    removeLeftovers(keyring); // before a new entry of a name they may carry
    QString why;
    if (keep(keyring, profile, kind, secret, true, &why) == Kept::FileRefused)
        return refusedReport({what(kind)}, why);
    return {};
}

Report load(SecretStore &keyring, const QString &profile, ProfileSettingsRecord &s)
{
    ScrambledSecretStore file;
    QStringList unread;
    QString why;
    bool signInAgain = false;
    for (const SecretKind kind : kKinds) {
        QString &secret = field(s, kind);
        secret.clear();
        const SecretStore::Answer scrambled = file.read(profile, kind);
        if (scrambled.status == SecretStore::Status::Ok) {
            secret = scrambled.secret;
            continue;
        }
        if (!markedInKeyring(profile, kind))
            continue;
        const SecretStore::Answer answer = keyring.read(profile, kind);
        if (answer.status == SecretStore::Status::Ok) {
            secret = answer.secret;
            continue;
        }
        unread << what(kind);
        if (answer.status == SecretStore::Status::NotFound && kind == SecretKind::OAuthRefreshToken)
            signInAgain = true;
        if (why.isEmpty())
            why = answer.status == SecretStore::Status::NotFound
                ? QStringLiteral("The keyring has no such entry any more.")
                : answer.error;
    }
    Report report;
    if (!unread.isEmpty()) {
        report.trouble = true;
        report.text = QStringLiteral("The %1 of profile %2 could not be read from the desktop keyring.")
                          .arg(unread.join(QStringLiteral(", ")), profile);
        if (!why.isEmpty())
            report.text += QStringLiteral("\r\nThe keyring said: ") + why;
    }
    s.SecretProblem = report.text;
    s.SecretAdvice = signInAgain ? MailReason::SignInAgain : MailReason::None;
    return report;
}

void remove(SecretStore &keyring, const QString &profile)
{
    remover(keyring, profile)();
}

std::function<void()> remover(SecretStore &keyring, const QString &profile)
{
    return [&keyring, profile] {
        if (!removeAll(keyring, profile))
            setLeftovers(leftovers() << profile);
    };
}

Place placeOf(const QString &profile, SecretKind kind)
{
    if (markedInKeyring(profile, kind))
        return Place::Keyring;
    ScrambledSecretStore file;
    return file.read(profile, kind).status == SecretStore::Status::Ok ? Place::SettingsFile : Place::Nowhere;
}

QString placeText(Place place)
{
    switch (place) {
    case Place::Keyring:
        return QStringLiteral("in the desktop keyring");
    case Place::SettingsFile:
        return QStringLiteral("scrambled in the settings file");
    case Place::Nowhere:
        break;
    }
    return QStringLiteral("not stored");
}

} // namespace ProfileSecrets
