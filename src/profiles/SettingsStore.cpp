// The settings store is one JSON file holding a tree of keys:
//   {"keys": {"Software": {"keys": {...}, "values": {"LastProfile": "Home"}}}}
// Every key is an object with optional "keys" (subkeys) and "values" (texts).
// Each operation reads the file afresh and a write replaces it atomically, so
// nothing is cached between calls and a crash never leaves half a file.
#include "SettingsStore.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>
#include <QStringList>

#include <algorithm>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

namespace modRegistry {

namespace {

const QString kKeys = QStringLiteral("keys");
const QString kValues = QStringLiteral("values");
const QString kNotFound = QStringLiteral("Not Found");

QString storeFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Trelvik");
}

// "Software\Trelvik\Setting\" names the key "Setting": empty pieces (a
// trailing or doubled separator) name no key of their own.
QStringList splitPath(const QString &keyPath)
{
    return keyPath.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
}

// The stored spelling of `name` among the members of `object`, compared
// without regard to case; empty when there is none.
QString findName(const QJsonObject &object, const QString &name)
{
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it.key();
    }
    return {};
}

bool namesUniqueIgnoringCase(const QJsonObject &object)
{
    QSet<QString> seen;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        const QString folded = it.key().toCaseFolded();
        if (seen.contains(folded))
            return false;
        seen.insert(folded);
    }
    return true;
}

// A key the store can work with: only "keys" and "values"; subkey names are
// non-empty and free of the separator; values are texts; no two names of one
// key differ only in case.
bool isValidKey(const QJsonObject &key, int depth)
{
    if (depth > 64)
        return false;
    for (auto it = key.constBegin(); it != key.constEnd(); ++it) {
        if ((it.key() != kKeys && it.key() != kValues) || !it.value().isObject())
            return false;
    }
    const QJsonObject values = key.value(kValues).toObject();
    if (!namesUniqueIgnoringCase(values))
        return false;
    for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
        if (!it.value().isString())
            return false;
    }
    const QJsonObject subkeys = key.value(kKeys).toObject();
    if (!namesUniqueIgnoringCase(subkeys))
        return false;
    for (auto it = subkeys.constBegin(); it != subkeys.constEnd(); ++it) {
        if (it.key().isEmpty() || it.key().contains(QLatin1Char('\\')) || !it.value().isObject()
            || !isValidKey(it.value().toObject(), depth + 1))
            return false;
    }
    return true;
}

// Keeps a file the store cannot read out of the way, under a name of its own,
// so that the user's settings are never overwritten unseen.
bool moveAside(const QString &path)
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = path + QStringLiteral(".damaged-") + stamp;
    for (int n = 1; QFileInfo::exists(target) && n < 1000; ++n)
        target = path + QStringLiteral(".damaged-") + stamp + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(path, target))
        return false;
    qWarning().noquote() << "Trelvik: the settings file could not be read and was moved to" << target;
    return true;
}

// The whole store, or nothing when the file exists but cannot be used (then
// it must not be written either). A missing file is an empty store.
std::optional<QJsonObject> loadStore()
{
    const QString path = StoreFilePath();
    QFile file(path);
    if (!file.exists())
        return QJsonObject();
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray data = file.readAll();
    const bool readFailed = file.error() != QFileDevice::NoError;
    file.close();
    if (readFailed)
        return std::nullopt;

    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error == QJsonParseError::NoError && doc.isObject() && isValidKey(doc.object(), 0))
        return doc.object();
    if (moveAside(path))
        return QJsonObject();
    return std::nullopt;
}

void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Replaces the file with the given store: a temporary file beside it, synced
// to disk, then renamed over the old one.
void saveStore(const QJsonObject &root)
{
    const QString folder = storeFolder();
    if (!QFileInfo::exists(folder)) {
        QDir().mkpath(QFileInfo(folder).path());
        QDir().mkdir(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QSaveFile file(StoreFilePath());
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    file.write(QJsonDocument(root).toJson(QJsonDocument::Indented));
    if (!file.flush() || ::fsync(file.handle()) != 0) {
        file.cancelWriting();
        return;
    }
    if (file.commit())
        syncFolder(folder);
}

// The key at `path`, if it exists.
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

// `key` with the value set under `path[depth...]`, creating missing keys.
QJsonObject withValue(QJsonObject key, const QStringList &path, qsizetype depth,
                      const QString &valueName, const QString &value)
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

// `key` without the subkey at `path[depth...]`; nothing when there is no such key.
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

} // namespace

QString StoreFilePath()
{
    return storeFolder() + QStringLiteral("/settings.json");
}

QString ReadStoreValue(qint32 root, const QString &keyPath, const QString &valueName,
                       const QString &defaultText)
{
    if (root != HKEY_CURRENT_USER)
        return defaultText;
    const auto store = loadStore();
    if (!store)
        return defaultText;
    const auto key = findKey(*store, splitPath(keyPath));
    if (!key)
        return defaultText;
    const QJsonObject values = key->value(kValues).toObject();
    const QString name = findName(values, valueName);
    if (name.isEmpty())
        return defaultText;
    return values.value(name).toString();
}

void WriteStoreValue(qint32 root, const QString &keyPath, const QString &valueName, qint32 type,
                     const QString &value)
{
    // Every value of this store is a text.
    if (root != HKEY_CURRENT_USER || type != REG_SZ)
        return;
    const auto store = loadStore();
    if (!store)
        return;
    saveStore(withValue(*store, splitPath(keyPath), 0, valueName, value));
}

QString EnumStoreKey(qint32 root, const QString &keyPath, qint32 index)
{
    if (root != HKEY_CURRENT_USER || index < 0)
        return kNotFound;
    const auto store = loadStore();
    if (!store)
        return kNotFound;
    const auto key = findKey(*store, splitPath(keyPath));
    if (!key)
        return kNotFound;
    QStringList names = key->value(kKeys).toObject().keys();
    if (index >= names.size())
        return kNotFound;
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names.at(index);
}

void DeleteStoreKey(qint32 root, const QString &keyPath)
{
    const QStringList path = splitPath(keyPath);
    // An empty path would name the whole store: never delete that.
    if (root != HKEY_CURRENT_USER || path.isEmpty())
        return;
    const auto store = loadStore();
    if (!store)
        return;
    if (const auto changed = withoutKey(*store, path, 0))
        saveStore(*changed);
}

} // namespace modRegistry
