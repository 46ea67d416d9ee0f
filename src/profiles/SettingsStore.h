#pragma once

#include <QList>
#include <QString>

// The per-user settings store: a hierarchy of keys holding text values, with
// the registry's rules (names compared without regard to case, the first
// spelling kept; subkeys listed by index in a stable order; whole key paths
// created on write; a key deleted with its values; a write on disk when it
// returns). Key paths use "\" as separator, e.g. "Software\Trelvik\Setting\Home";
// a trailing "\" names the key itself. Values are texts of any length.
//
// The file is read once and kept in memory; it is read again only when it
// changed on disk. Every write replaces the whole file atomically and says
// whether it reached the disk (with the file and the reason when not); the
// store in memory changes only with the file. A missing key or value reads
// as the default. At the first read the folder and file are made private and
// temporaries left by a crash removed; a file that cannot be parsed is moved
// aside (settings.json.damaged-<stamp>) and the store starts empty; values
// and keys of a wrong kind are set aside while the rest is kept, the file as
// it was staying beside it. Either way a box tells the user.
namespace modRegistry {

inline constexpr qint32 HKEY_CURRENT_USER = qint32(0x80000001u);
inline constexpr qint32 REG_SZ = 1;

// Where the store lives: settings file under the per-user config directory.
QString StoreFilePath();

QString ReadStoreValue(qint32 root, const QString &keyPath, const QString &valueName, const QString &defaultText);
// False (and *error, naming the file and the reason) when the value could
// not be written; writing the value already stored writes nothing.
bool WriteStoreValue(qint32 root, const QString &keyPath, const QString &valueName, qint32 type, const QString &value,
                     QString *error = nullptr);

// One value of a write of several.
struct StoreValue {
    QString keyPath;
    QString valueName;
    QString value;
};
// Writes all the values in one replacement of the file: all of them or none.
bool WriteStoreValues(qint32 root, const QList<StoreValue> &values, QString *error = nullptr);

// The name of the subkey at `index` (from 0), or "Not Found".
QString EnumStoreKey(qint32 root, const QString &keyPath, qint32 index);
// Deleting a key that is not there succeeds.
bool DeleteStoreKey(qint32 root, const QString &keyPath, QString *error = nullptr);

} // namespace modRegistry
