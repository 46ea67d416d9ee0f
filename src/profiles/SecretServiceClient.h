#pragma once

#include "KeyringWaitIndicator.h"
#include "SecretStore.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QList>
#include <QMap>

class QDBusMessage;

// One conversation with the Secret Service (org.freedesktop.secrets) over
// D-Bus. Its calls are made without blocking and waited for in a local event
// loop, each bounded, with the wait indicator shown when the keyring is slow
// or its prompt is open. A call that fails keeps its reason for failure().
// The prompts (unlock, confirmations) are handled in SecretServicePrompt.cpp.
class SecretServiceClient {
public:
    using Attributes = QMap<QString, QString>;

    SecretServiceClient(int timeoutMs, const KeyringWaitIndicator &indicator);
    ~SecretServiceClient();
    SecretServiceClient(const SecretServiceClient &) = delete;
    SecretServiceClient &operator=(const SecretServiceClient &) = delete;

    // The attributes that find a profile's entry of a kind.
    static Attributes attributes(const QString &label);

    // Items with these attributes, unlocked and locked.
    bool search(const Attributes &attributes, QList<QDBusObjectPath> *unlocked, QList<QDBusObjectPath> *locked);
    // Unlocks the objects through the keyring's own prompt, where the user
    // may answer it (a wait indicator is set); else says it is locked.
    bool unlock(const QList<QDBusObjectPath> &objects);
    bool secretOf(const QDBusObjectPath &item, QString *secret);
    // The collection new entries go to: the default one, made when missing.
    bool defaultCollection(QDBusObjectPath *collection);
    // Stores the secret under the label, replacing any entry of the same
    // attributes; the item made is returned.
    bool create(const QDBusObjectPath &collection, const QString &label, const QString &secret, QDBusObjectPath *item);
    bool deleteItem(const QDBusObjectPath &item);

    SecretStore::Answer failure() const { return {m_status, {}, m_error}; }

private:
    // How a prompt the user finished ended.
    struct PromptOutcome {
        bool dismissed = true;
        QDBusVariant result;
    };

    bool openSession();
    bool fail(SecretStore::Status status, const QString &error);
    // Waits for the call, showing the indicator once it is slow; false on an
    // error, after the time limit, or on Cancel (with the reason kept).
    bool call(const QString &path, const QString &iface, const QString &method, const QVariantList &arguments,
              QDBusMessage *reply);
    // Shows the keyring's prompt and waits for the user to finish it, as
    // long as that takes; Cancel withdraws it. False when it could not be
    // shown or was cancelled; `outcome` says how it ended otherwise.
    bool runPrompt(const QDBusObjectPath &prompt, PromptOutcome *outcome);

    QDBusConnection m_bus;
    int m_timeoutMs;
    const KeyringWaitIndicator &m_indicator;
    QString m_session;
    SecretStore::Status m_status = SecretStore::Status::Refused;
    QString m_error;
    bool m_lockedError = false;
    bool m_undoLateItem = false;
};

// The names of the Secret Service on the bus.
namespace SecretServiceNames {
inline const QString kService = QStringLiteral("org.freedesktop.secrets");
inline const QString kServicePath = QStringLiteral("/org/freedesktop/secrets");
inline const QString kServiceIface = QStringLiteral("org.freedesktop.Secret.Service");
inline const QString kCollectionIface = QStringLiteral("org.freedesktop.Secret.Collection");
inline const QString kItemIface = QStringLiteral("org.freedesktop.Secret.Item");
inline const QString kPromptIface = QStringLiteral("org.freedesktop.Secret.Prompt");
inline const QString kLockedError = QStringLiteral("org.freedesktop.Secret.Error.IsLocked");
// The path that names no object (no prompt, no collection).
inline const QString kNoPath = QStringLiteral("/");
} // namespace SecretServiceNames
