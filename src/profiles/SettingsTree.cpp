#include "SettingsTree.h"

namespace SettingsTree {

QStringList splitPath(const QString &keyPath)
{
    return keyPath.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
}

QString findName(const QJsonObject &object, const QString &name)
{
    if (object.contains(name))
        return name;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it.key();
    }
    return {};
}

std::optional<QJsonObject> findKey(const QJsonObject &root, const QStringList &path)
{
    QJsonObject key = root;
    for (const QString &piece : path) {
        const QJsonObject subkeys = key.value(kKeys).toObject();
        const QString name = findName(subkeys, piece);
        if (name.isEmpty())
            return std::nullopt;
        key = subkeys.value(name).toObject();
    }
    return key;
}

QJsonObject withValue(QJsonObject key, const QStringList &path, qsizetype depth, const QString &valueName,
                      const QString &value)
{
    if (depth == path.size()) {
        QJsonObject values = key.value(kValues).toObject();
        const QString existing = findName(values, valueName);
        values.insert(existing.isEmpty() ? valueName : existing, value);
        key.insert(kValues, values);
        return key;
    }
    QJsonObject subkeys = key.value(kKeys).toObject();
    const QString existing = findName(subkeys, path.at(depth));
    const QString name = existing.isEmpty() ? path.at(depth) : existing;
    subkeys.insert(name, withValue(subkeys.value(name).toObject(), path, depth + 1, valueName, value));
    key.insert(kKeys, subkeys);
    return key;
}

std::optional<QJsonObject> withoutKey(QJsonObject key, const QStringList &path, qsizetype depth)
{
    QJsonObject subkeys = key.value(kKeys).toObject();
    const QString name = findName(subkeys, path.at(depth));
    if (name.isEmpty())
        return std::nullopt;
    if (depth + 1 == path.size()) {
        subkeys.remove(name);
    } else {
        const auto changed = withoutKey(subkeys.value(name).toObject(), path, depth + 1);
        if (!changed)
            return std::nullopt;
        subkeys.insert(name, *changed);
    }
    key.insert(kKeys, subkeys);
    return key;
}

bool holds(const QJsonObject &root, const QString &keyPath, const QString &valueName, const QString &value)
{
    const auto key = findKey(root, splitPath(keyPath));
    if (!key)
        return false;
    const QJsonObject values = key->value(kValues).toObject();
    const QString name = findName(values, valueName);
    return !name.isEmpty() && values.value(name).toString() == value;
}

} // namespace SettingsTree
