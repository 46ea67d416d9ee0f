#pragma once

#include "SecretStore.h"

// The keychain library, for a desktop whose only keyring is an old KWallet:
// one entry per label, under the program's service name. Each call waits in
// a local event loop for at most `timeoutMs`.
namespace KeychainLibraryStore {

SecretStore::Answer read(const QString &label, int timeoutMs);
// A write that ends after the time limit is undone then.
SecretStore::Answer write(const QString &label, const QString &secret, int timeoutMs);
SecretStore::Answer remove(const QString &label, int timeoutMs);

} // namespace KeychainLibraryStore
