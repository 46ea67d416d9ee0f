#pragma once

#include "SecretStore.h"

// The Secret Service keyring (GNOME Keyring, KWallet) through QtKeychain,
// service "Trelvik", one entry per profile and kind. QtKeychain answers
// asynchronously; each call waits for its job in a local event loop, bounded
// so that a keyring that never answers reads as a refusal.
class KeyringSecretStore : public SecretStore {
public:
    explicit KeyringSecretStore(int timeoutMs = 15000);
    Answer read(const QString &profile, SecretKind kind) override;
    Answer write(const QString &profile, SecretKind kind, const QString &secret) override;
    Answer remove(const QString &profile, SecretKind kind) override;

    static QString service() { return QStringLiteral("Trelvik"); }

private:
    int m_timeoutMs;
};

// The keyring the program uses.
SecretStore &desktopKeyring();
