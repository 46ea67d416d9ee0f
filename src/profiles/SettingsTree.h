#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

// The settings store's tree of keys as it sits in memory: every key is an
// object with optional "keys" (subkeys) and "values" (texts). Names are
// found without regard to case and keep their first spelling; a change
// gives a new tree and leaves the old one as it was.
namespace SettingsTree {

inline const QString kKeys = QStringLiteral("keys");
inline const QString kValues = QStringLiteral("values");

// "Software\Trelvik\Setting\" names the key "Setting": empty pieces (a
// trailing or doubled separator) name no key of their own.
QStringList splitPath(const QString &keyPath);

// The stored spelling of `name` among the members of `object`, compared
// without regard to case; empty when there is none.
QString findName(const QJsonObject &object, const QString &name);

// The key at `path`, if it exists.
std::optional<QJsonObject> findKey(const QJsonObject &root, const QStringList &path);

// `key` with the value set under `path[depth...]`, creating missing keys.
QJsonObject withValue(QJsonObject key, const QStringList &path, qsizetype depth, const QString &valueName,
                      const QString &value);

// `key` without the subkey at `path[depth...]`; nothing when there is no such key.
std::optional<QJsonObject> withoutKey(QJsonObject key, const QStringList &path, qsizetype depth);

// Whether the key at `keyPath` already holds exactly `value` under `valueName`.
bool holds(const QJsonObject &root, const QString &keyPath, const QString &valueName, const QString &value);

} // namespace SettingsTree
