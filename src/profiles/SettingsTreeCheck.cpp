#include "SettingsTreeCheck.h"

#include "SettingsTree.h"

#include <QJsonValue>
#include <QSet>

namespace SettingsTreeCheck {

namespace {

using SettingsTree::kKeys;
using SettingsTree::kValues;

constexpr int kMaxDepth = 64;

QString kindOf(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("true or false");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a text");
    case QJsonValue::Array:
        return QStringLiteral("a list");
    case QJsonValue::Object:
        return QStringLiteral("a group");
    default:
        return QStringLiteral("undefined");
    }
}

QString shownPath(const QString &path)
{
    return path.isEmpty() ? QStringLiteral("(top)") : path;
}

} // namespace

QJsonObject soundKey(const QJsonObject &key, const QString &path, int depth, QStringList *setAside)
{
    QJsonObject sound;
    for (auto it = key.constBegin(); it != key.constEnd(); ++it) {
        if ((it.key() != kKeys && it.key() != kValues) || !it.value().isObject())
            *setAside << QStringLiteral("%1: \"%2\" (%3, not part of the store)")
                             .arg(shownPath(path), it.key(), kindOf(it.value()));
    }
    QJsonObject values;
    QSet<QString> seen;
    const QJsonObject storedValues = key.value(kValues).toObject();
    for (auto it = storedValues.constBegin(); it != storedValues.constEnd(); ++it) {
        const QString folded = it.key().toCaseFolded();
        if (seen.contains(folded))
            *setAside << QStringLiteral("%1: value \"%2\" (its name differs from another only in letter case)")
                             .arg(shownPath(path), it.key());
        else if (!it.value().isString())
            *setAside << QStringLiteral("%1: value \"%2\" (%3, not a text)")
                             .arg(shownPath(path), it.key(), kindOf(it.value()));
        else
            values.insert(it.key(), it.value()), seen.insert(folded);
    }
    QJsonObject subkeys;
    seen.clear();
    const QJsonObject storedKeys = key.value(kKeys).toObject();
    for (auto it = storedKeys.constBegin(); it != storedKeys.constEnd(); ++it) {
        const QString name = it.key();
        const QString where = path.isEmpty() ? name : path + QLatin1Char('\\') + name;
        if (name.isEmpty() || name.contains(QLatin1Char('\\')))
            *setAside << QStringLiteral("%1: key \"%2\" (a name the store cannot use)").arg(shownPath(path), name);
        else if (seen.contains(name.toCaseFolded()))
            *setAside << QStringLiteral("%1 (its name differs from another only in letter case)").arg(where);
        else if (!it.value().isObject())
            *setAside << QStringLiteral("%1 (%2, not a key)").arg(where, kindOf(it.value()));
        else if (depth >= kMaxDepth)
            *setAside << QStringLiteral("%1 (too deep)").arg(where);
        else
            subkeys.insert(name, soundKey(it.value().toObject(), where, depth + 1, setAside)),
                seen.insert(name.toCaseFolded());
    }
    if (!values.isEmpty() || storedValues.contains(QString()) || key.contains(kValues))
        sound.insert(kValues, values);
    if (!subkeys.isEmpty() || key.contains(kKeys))
        sound.insert(kKeys, subkeys);
    return sound;
}

bool isSound(const QJsonObject &key, int depth)
{
    for (auto it = key.constBegin(); it != key.constEnd(); ++it) {
        if ((it.key() != kKeys && it.key() != kValues) || !it.value().isObject())
            return false;
    }
    QSet<QString> seen;
    const QJsonObject values = key.value(kValues).toObject();
    for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
        if (!it.value().isString())
            return false;
        const QString folded = it.key().toCaseFolded();
        if (seen.contains(folded))
            return false;
        seen.insert(folded);
    }
    seen.clear();
    const QJsonObject subkeys = key.value(kKeys).toObject();
    for (auto it = subkeys.constBegin(); it != subkeys.constEnd(); ++it) {
        const QString folded = it.key().toCaseFolded();
        if (it.key().isEmpty() || it.key().contains(QLatin1Char('\\')) || seen.contains(folded)
            || !it.value().isObject() || depth >= kMaxDepth || !isSound(it.value().toObject(), depth + 1))
            return false;
        seen.insert(folded);
    }
    return true;
}

} // namespace SettingsTreeCheck
