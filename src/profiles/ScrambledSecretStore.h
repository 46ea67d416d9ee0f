#pragma once

#include "SecretStore.h"

// Secrets in the settings file, in the reversible scrambled form the program
// has always used: where they go when no keyring answers, and where older
// profiles (and files copied from a machine without a keyring) have them.
// A text longer than one scrambled form holds (a long refresh token) is kept
// as several forms joined by ";".
class ScrambledSecretStore : public SecretStore {
public:
    Answer read(const QString &profile, SecretKind kind) override;
    Answer write(const QString &profile, SecretKind kind, const QString &secret) override;
    Answer remove(const QString &profile, SecretKind kind) override;
};
