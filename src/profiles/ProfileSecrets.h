#pragma once

#include "ProfileRecord.h"
#include "SecretStore.h"

#include <QString>
#include <functional>

// Where a profile's three secrets (email password, dial-up password, OAuth2
// refresh token) are kept, and the moves between the keyring and the
// settings file. The keyring is asked first; what it does not take stays
// scrambled in the settings file, so a locked or refusing keyring never
// loses a secret. A value "<Name>Store" = "Keyring" beside each secret's
// value says that the keyring holds it.
namespace ProfileSecrets {

struct Report {
    // A secret that should be in the keyring went to the settings file
    // (save), or could not be read from the keyring (load).
    bool trouble = false;
    QString text; // for the user; empty when all went as it should
};

// Stores the secrets of `s` for the profile: into the keyring where it takes
// them (the settings file then holds none, which moves old scrambled ones
// into the keyring), else scrambled into the settings file. An empty secret
// is removed from both, unless it was empty in `loaded` too (the settings as
// read before the edit): a secret the keyring did not give then stays as it
// is. Entries of deleted profiles that the keyring kept are removed first.
Report save(SecretStore &keyring, const QString &profile, const ProfileSettingsRecord &s,
            const ProfileSettingsRecord *loaded = nullptr);

// The same for one secret (a refresh token the provider replaced).
Report saveOne(SecretStore &keyring, const QString &profile, SecretKind kind, const QString &secret);

// Fills the three secrets of `s`, s.SecretProblem and s.SecretAdvice. A secret the keyring
// holds but did not give stays empty and is named in the report, so that the
// caller asks for it instead of logging in with nothing.
Report load(SecretStore &keyring, const QString &profile, ProfileSettingsRecord &s);

// Removes every keyring entry the program may have written for the profile
// (its settings key goes separately). What a locked or refusing keyring
// keeps is noted and removed at a later save.
void remove(SecretStore &keyring, const QString &profile);
// The same, done when the returned function is called.
std::function<void()> remover(SecretStore &keyring, const QString &profile);

enum class Place { Nowhere, Keyring, SettingsFile };
Place placeOf(const QString &profile, SecretKind kind);
// "in the desktop keyring", "scrambled in the settings file", "not stored".
QString placeText(Place place);

} // namespace ProfileSecrets
