// The settings store is one JSON file holding a tree of keys:
//   {"keys": {"Software": {"keys": {...}, "values": {"LastProfile": "Home"}}}}
// Every key is an object with optional "keys" (subkeys) and "values" (texts).
// Here are the registry's calls over it; SettingsFile keeps the file and its
// copy in memory, SettingsTree finds and changes keys in the tree.
#include "SettingsStore.h"

#include "SettingsFile.h"
#include "SettingsTree.h"

#include <algorithm>

namespace modRegistry {

using namespace SettingsTree;

namespace {

const QString kNotFound = QStringLiteral("Not Found");

bool refuse(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

} // namespace

QString ReadStoreValue(qint32 root, const QString &keyPath, const QString &valueName, const QString &defaultText)
{
    if (root != HKEY_CURRENT_USER)
        return defaultText;
    const auto key = findKey(SettingsFile::current().root, splitPath(keyPath));
    if (!key)
        return defaultText;
    const QJsonObject values = key->value(kValues).toObject();
    const QString name = findName(values, valueName);
    if (name.isEmpty())
        return defaultText;
    return values.value(name).toString();
}

bool WriteStoreValue(qint32 root, const QString &keyPath, const QString &valueName, qint32 type, const QString &value,
                     QString *error)
{
    // Every value of this store is a text.
    if (type != REG_SZ)
        return refuse(error, QStringLiteral("Only texts can be stored."));
    return WriteStoreValues(root, {{keyPath, valueName, value}}, error);
}

bool WriteStoreValues(qint32 root, const QList<StoreValue> &values, QString *error)
{
    if (root != HKEY_CURRENT_USER)
        return refuse(error, QStringLiteral("Only the current user's settings can be stored."));
    SettingsFile::Store &store = SettingsFile::current();
    QJsonObject changed = store.root;
    bool anyChange = false;
    for (const StoreValue &v : values) {
        if (holds(changed, v.keyPath, v.valueName, v.value))
            continue;
        changed = withValue(changed, splitPath(v.keyPath), 0, v.valueName, v.value);
        anyChange = true;
    }
    return !anyChange || SettingsFile::commit(store, changed, error);
}

QString EnumStoreKey(qint32 root, const QString &keyPath, qint32 index)
{
    if (root != HKEY_CURRENT_USER || index < 0)
        return kNotFound;
    SettingsFile::Store &store = SettingsFile::current();
    const QStringList path = splitPath(keyPath);
    const QString listingKey = path.join(QLatin1Char('\\')).toCaseFolded();
    auto listing = store.listings.constFind(listingKey);
    if (listing == store.listings.constEnd()) {
        const auto key = findKey(store.root, path);
        QStringList names = key ? key->value(kKeys).toObject().keys() : QStringList();
        std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
            const int c = a.compare(b, Qt::CaseInsensitive);
            return c != 0 ? c < 0 : a < b;
        });
        listing = store.listings.insert(listingKey, names);
    }
    return index < listing->size() ? listing->at(index) : kNotFound;
}

bool DeleteStoreKey(qint32 root, const QString &keyPath, QString *error)
{
    const QStringList path = splitPath(keyPath);
    // An empty path would name the whole store: never delete that.
    if (root != HKEY_CURRENT_USER || path.isEmpty())
        return refuse(error, QStringLiteral("This key cannot be deleted."));
    SettingsFile::Store &store = SettingsFile::current();
    const auto changed = withoutKey(store.root, path, 0);
    return !changed || SettingsFile::commit(store, *changed, error);
}

} // namespace modRegistry
