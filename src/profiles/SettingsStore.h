#pragma once

#include <QString>

// The per-user settings store: a hierarchy of keys holding text values, with
// the registry's rules (names compared without regard to case, the first
// spelling kept; subkeys listed by index in a stable order; whole key paths
// created on write; a key deleted with its values; a write on disk when it
// returns). Key paths use "\" as separator, e.g. "Software\Trelvik\Setting\Home";
// a trailing "\" names the key itself. Values are texts of any length. No
// operation fails visibly: a missing key or value reads as the default, and a
// settings file that cannot be parsed is moved aside (settings.json.damaged-*)
// and the store starts empty.
namespace modRegistry {

inline constexpr qint32 HKEY_CURRENT_USER = qint32(0x80000001u);
inline constexpr qint32 REG_SZ = 1;

// Where the store lives: settings file under the per-user config directory.
QString StoreFilePath();

QString ReadStoreValue(qint32 root, const QString &keyPath, const QString &valueName,
                       const QString &defaultText);
void WriteStoreValue(qint32 root, const QString &keyPath, const QString &valueName, qint32 type,
                     const QString &value);
// The name of the subkey at `index` (from 0), or "Not Found".
QString EnumStoreKey(qint32 root, const QString &keyPath, qint32 index);
void DeleteStoreKey(qint32 root, const QString &keyPath);

} // namespace modRegistry
