#pragma once

#include "ProfileRecord.h"
#include "ProfileSecrets.h"

#include <QString>
#include <QStringList>

class SecretStore;

// How a write to the settings file went: on failure nothing was written and
// `error` names the file and the reason, for the user.
struct StoreWriteResult {
    bool ok = true;
    QString error;
    explicit operator bool() const { return ok; }
};

// Where the profiles are kept: each one's settings under its key of the
// settings store ("Software\Trelvik\Setting\" + name, value names in
// ProfileKeys.h), its secrets in the keyring or scrambled in the settings
// file, and the name of the one used last. Holds nothing itself: every call
// reads or writes the store.
class ProfileStore {
public:
    // The desktop keyring.
    ProfileStore();
    explicit ProfileStore(SecretStore &keyring);

    // The named profile's settings with the defaults for missing values and
    // its secrets; a secret the keyring kept is named in SecretProblem.
    ProfileSettingsRecord read(const QString &name) const;
    // Reads the secrets of `s` again (the keyring may have been unlocked).
    ProfileSecrets::Report readSecrets(const QString &name, ProfileSettingsRecord &s) const;
    // The stored profiles' names in the store's order, as the profile box
    // lists them.
    QStringList names() const;

    // Whose learning the named profile uses (ProfileSettingsRecord::
    // learningName), read without its secrets.
    static QString learningName(const QString &name);

    // The profile selected at the last start or switch; empty when none.
    QString lastProfile() const;
    StoreWriteResult rememberLastProfile(const QString &name) const;

    struct SaveOptions {
        // The settings as read before the edit: see ProfileSecrets::save.
        const ProfileSettingsRecord *loaded = nullptr;
        // Who signed in with OAuth2, to show the next time.
        QString oauthAccount;
        // The server changed: a trusted certificate no longer counts.
        bool withdrawTrust = false;
        // A new profile is also the one selected at the next start.
        bool makeLast = false;
    };
    struct SaveResult {
        StoreWriteResult settings; // failed: nothing was saved
        ProfileSecrets::Report secrets;
    };
    // Writes the settings in one replacement of the settings file (every
    // value or none), then the secrets, which `s` holds trimmed.
    SaveResult save(const QString &name, const ProfileSettingsRecord &s, const SaveOptions &options) const;

    // Deletes the profile's key with its values; the keyring entries go only
    // once the key is gone.
    StoreWriteResult remove(const QString &name) const;

    // Stores the certificate fingerprint (SHA-256, hex) the user trusts for
    // the profile's server; an empty fingerprint withdraws the trust.
    // Separators and letter case are dropped so that any spelling compares
    // alike; the record a run holds is the caller's to update.
    StoreWriteResult saveTrustedCertificate(const QString &profile, const QString &fingerprint) const;
    // A refresh token the provider replaced.
    ProfileSecrets::Report saveRefreshToken(const QString &profile, const QString &token) const;

private:
    SecretStore &m_keyring;
};
