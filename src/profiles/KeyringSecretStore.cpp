// The desktop keyring: which keyring answers, and each call made there.
// The Secret Service is spoken to by SecretServiceClient, an old KWallet
// through KeychainLibraryStore.
#include "KeyringSecretStore.h"

#include "KeychainLibraryStore.h"
#include "SecretServiceClient.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>

namespace {

using Status = SecretStore::Status;
using Answer = SecretStore::Answer;

bool registeredOrActivatable(const QStringList &names)
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    for (const QString &name : names) {
        if (bus.interface()->isServiceRegistered(name).value())
            return true;
    }
    const QDBusReply<QStringList> activatable = bus.interface()->activatableServiceNames();
    for (const QString &name : names) {
        if (activatable.isValid() && activatable.value().contains(name))
            return true;
    }
    return false;
}

enum class Backend { None, SecretService, KWallet };

// Asked first because a missing service would come back as an error like
// any other, and no keyring is not a refusal.
Backend backend()
{
    if (registeredOrActivatable({SecretServiceNames::kService}))
        return Backend::SecretService;
    if (registeredOrActivatable({QStringLiteral("org.kde.kwalletd5"), QStringLiteral("org.kde.kwalletd6")}))
        return Backend::KWallet;
    return Backend::None;
}

Answer noKeyring()
{
    return {Status::NoKeyring, {}, QStringLiteral("No desktop keyring is running.")};
}

} // namespace

KeyringSecretStore::KeyringSecretStore(int timeoutMs)
    : m_timeoutMs(timeoutMs)
{
}

QString KeyringSecretStore::lockedText()
{
    return QStringLiteral("The desktop keyring is locked. Unlock it with your keyring manager (in Passwords and "
                          "Keys: right-click the keyring, then Unlock) and try again; Trelvik's window reads it "
                          "again when you open the profile's Setting.");
}

SecretStore::Answer KeyringSecretStore::read(const QString &profile, SecretKind kind)
{
    const QString label = secretLabel(profile, kind);
    switch (backend()) {
    case Backend::None:
        return noKeyring();
    case Backend::KWallet:
        return KeychainLibraryStore::read(label, m_timeoutMs);
    case Backend::SecretService:
        break;
    }
    SecretServiceClient keyring(m_timeoutMs, m_indicator);
    QList<QDBusObjectPath> unlocked;
    QList<QDBusObjectPath> locked;
    if (!keyring.search(SecretServiceClient::attributes(label), &unlocked, &locked))
        return keyring.failure();
    if (unlocked.isEmpty() && locked.isEmpty())
        return {Status::NotFound, {}, QStringLiteral("The keyring has no such entry any more.")};
    if (unlocked.isEmpty()) {
        if (!keyring.unlock(locked))
            return keyring.failure();
        unlocked = locked;
    }
    Answer answer;
    if (!keyring.secretOf(unlocked.constFirst(), &answer.secret))
        return keyring.failure();
    return answer;
}

SecretStore::Answer KeyringSecretStore::write(const QString &profile, SecretKind kind, const QString &secret)
{
    const QString label = secretLabel(profile, kind);
    switch (backend()) {
    case Backend::None:
        return noKeyring();
    case Backend::KWallet:
        return KeychainLibraryStore::write(label, secret, m_timeoutMs);
    case Backend::SecretService:
        break;
    }
    SecretServiceClient keyring(m_timeoutMs, m_indicator);
    QDBusObjectPath collection;
    QDBusObjectPath item;
    if (!keyring.defaultCollection(&collection) || !keyring.create(collection, label, secret, &item))
        return keyring.failure();
    // Older entries of the same name that were not replaced (another
    // collection, other attributes) would be read instead: they go.
    QList<QDBusObjectPath> unlocked;
    QList<QDBusObjectPath> locked;
    if (keyring.search(SecretServiceClient::attributes(label), &unlocked, &locked)) {
        for (const QDBusObjectPath &other : unlocked + locked) {
            if (other != item)
                keyring.deleteItem(other);
        }
    }
    return {};
}

SecretStore::Answer KeyringSecretStore::remove(const QString &profile, SecretKind kind)
{
    const QString label = secretLabel(profile, kind);
    switch (backend()) {
    case Backend::None:
        return noKeyring();
    case Backend::KWallet:
        return KeychainLibraryStore::remove(label, m_timeoutMs);
    case Backend::SecretService:
        break;
    }
    SecretServiceClient keyring(m_timeoutMs, m_indicator);
    QList<QDBusObjectPath> unlocked;
    QList<QDBusObjectPath> locked;
    if (!keyring.search(SecretServiceClient::attributes(label), &unlocked, &locked))
        return keyring.failure();
    if (unlocked.isEmpty() && locked.isEmpty())
        return {Status::NotFound, {}, {}};
    bool allGone = true;
    for (const QDBusObjectPath &item : unlocked + locked)
        allGone = keyring.deleteItem(item) && allGone;
    return allGone ? Answer{} : keyring.failure();
}

namespace {
KeyringSecretStore &theDesktopKeyring()
{
    static KeyringSecretStore keyring;
    return keyring;
}
} // namespace

SecretStore &desktopKeyring()
{
    return theDesktopKeyring();
}

void setDesktopKeyringWaitIndicator(KeyringWaitIndicator indicator)
{
    theDesktopKeyring().setWaitIndicator(std::move(indicator));
}
