#pragma once

#include "KeyringWaitIndicator.h"
#include "SecretStore.h"

// The desktop keyring, one entry per profile and kind, each labelled as the
// user reads it in a password manager ("Email password of profile Home").
//
// Where a Secret Service runs (GNOME Keyring, KeePassXC, a KWallet offering it) it is
// spoken to over D-Bus directly: that is what tells a locked keyring from a
// missing entry, lets an unlock prompt be waited for without a time limit
// and withdrawn on Cancel, and names each entry. The entries keep the
// attributes of the keychain library that wrote them before (server
// "Trelvik", user = the label), so entries of older versions are found,
// replaced and removed. A desktop with only an old KWallet goes through that
// library as before.
//
// A call waits in a local event loop (the window keeps painting). A locked
// keyring is unlocked only where a wait indicator is set (the window, with a
// Cancel); without one (the command line, the timer) it is reported locked
// at once and nobody is asked.
class KeyringSecretStore : public SecretStore {
public:
    explicit KeyringSecretStore(int timeoutMs = 15000);
    Answer read(const QString &profile, SecretKind kind) override;
    Answer write(const QString &profile, SecretKind kind, const QString &secret) override;
    Answer remove(const QString &profile, SecretKind kind) override;

    void setWaitIndicator(KeyringWaitIndicator indicator) { m_indicator = std::move(indicator); }

    static QString service() { return QStringLiteral("Trelvik"); }
    // What a locked keyring is reported with, and how to unlock it.
    static QString lockedText();

private:
    int m_timeoutMs;
    KeyringWaitIndicator m_indicator;
};

// The keyring the program uses.
SecretStore &desktopKeyring();
// Lets the desktop keyring prompt for its unlock, with this indicator shown.
void setDesktopKeyringWaitIndicator(KeyringWaitIndicator indicator);
