// The settings store is one JSON file holding a tree of keys:
//   {"keys": {"Software": {"keys": {...}, "values": {"LastProfile": "Home"}}}}
// Every key is an object with optional "keys" (subkeys) and "values" (texts).
// The file is read once into memory; every change builds the new tree, writes
// it to a temporary file beside the old one, flushes it and renames it into
// place, and only then becomes the tree in memory. A crash never leaves half
// a file, and a failed write leaves file and memory as they were.
#include "SettingsStore.h"

#include "DurableFile.h"
#include "MessageBox.h"
#include "UserPlaces.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <optional>

#include <sys/stat.h>

namespace modRegistry {

namespace {

const QString kKeys = QStringLiteral("keys");
const QString kValues = QStringLiteral("values");
const QString kNotFound = QStringLiteral("Not Found");
constexpr int kMaxDepth = 64;
const auto kPrivateFile = QFile::ReadOwner | QFile::WriteOwner;
const auto kPrivateFolder = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

QString storeFolder()
{
    return UserPlaces::configHome() + QStringLiteral("/Trelvik");
}

// What tells one state of the file on disk from another.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    qint64 modifiedNs = 0;
    bool operator==(const FileStamp &) const = default;
};

FileStamp stampOf(const QString &path)
{
    FileStamp stamp;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return stamp;
    stamp.exists = true;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return stamp;
}

// The store as read from (or last written to) its file.
struct Store {
    QString path;
    FileStamp stamp;
    bool loaded = false;
    // Empty while the file may be written; otherwise why it must not be
    // (it exists but could not be read, so writing would lose it unseen).
    QString readOnlyReason;
    QJsonObject root;
    // Subkey names in listing order, per key path already listed.
    QHash<QString, QStringList> listings;
    // Folders already made private and cleared of temporaries this run.
    QSet<QString> tidied;
};

Store &theStore()
{
    static Store store;
    return store;
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
    if (object.contains(name))
        return name;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it.key();
    }
    return {};
}

QString kindOf(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null: return QStringLiteral("null");
    case QJsonValue::Bool: return QStringLiteral("true or false");
    case QJsonValue::Double: return QStringLiteral("a number");
    case QJsonValue::String: return QStringLiteral("a text");
    case QJsonValue::Array: return QStringLiteral("a list");
    case QJsonValue::Object: return QStringLiteral("a group");
    default: return QStringLiteral("undefined");
    }
}

QString shownPath(const QString &path)
{
    return path.isEmpty() ? QStringLiteral("(top)") : path;
}

// The key with everything the store cannot work with taken out, each piece
// set aside named in *setAside: members other than "keys" and "values";
// values that are not texts; subkeys that are not keys, have an empty name
// or one with the separator, or lie too deep; and any name that differs from
// an earlier one of the same key only in letter case.
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
            *setAside << QStringLiteral("%1: value \"%2\" (%3, not a text)").arg(shownPath(path), it.key(), kindOf(it.value()));
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
            subkeys.insert(name, soundKey(it.value().toObject(), where, depth + 1, setAside)), seen.insert(name.toCaseFolded());
    }
    if (!values.isEmpty() || storedValues.contains(QString()) || key.contains(kValues))
        sound.insert(kValues, values);
    if (!subkeys.isEmpty() || key.contains(kKeys))
        sound.insert(kKeys, subkeys);
    return sound;
}

// Whether the key needs nothing set aside: the cheap look that every start
// takes, before anything is copied.
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
        if (it.key().isEmpty() || it.key().contains(QLatin1Char('\\')) || seen.contains(folded) || !it.value().isObject()
            || depth >= kMaxDepth || !isSound(it.value().toObject(), depth + 1))
            return false;
        seen.insert(folded);
    }
    return true;
}

QString damagedName(const QString &path)
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = path + QStringLiteral(".damaged-") + stamp;
    for (int n = 1; QFileInfo::exists(target) && n < 1000; ++n)
        target = path + QStringLiteral(".damaged-") + stamp + QLatin1Char('-') + QString::number(n);
    return target;
}

void tell(const QString &text)
{
    MessageBox::show(text, QStringLiteral("Settings"), MessageBox::Icon::Exclamation);
}

// At the first look at a folder in this run: the settings are the user's
// own, whatever a hand, a copy or an earlier version made of the modes; and
// a temporary file a crash left between write and rename is dropped.
void tidy(Store &store, const QString &folder, const QString &path)
{
    if (store.tidied.contains(folder) || !QFileInfo(folder).isDir())
        return;
    store.tidied.insert(folder);
    if (QFile::permissions(folder) != kPrivateFolder)
        QFile::setPermissions(folder, kPrivateFolder);
    if (QFileInfo(path).isFile() && (QFile::permissions(path) & ~(kPrivateFile | QFile::ReadUser | QFile::WriteUser)))
        QFile::setPermissions(path, kPrivateFile);
    DurableFile::removeLeftovers(path);
}

bool commit(Store &store, const QJsonObject &root, QString *error);

// Reads the file into the store. A missing file is an empty store.
void load(Store &store, const QString &path)
{
    store = Store{path, {}, true, {}, {}, {}, std::move(store.tidied)};
    tidy(store, storeFolder(), path);
    store.stamp = stampOf(path);
    if (!store.stamp.exists)
        return;
    QFile file(path);
    QByteArray data;
    if (file.open(QIODevice::ReadOnly)) {
        // A large file is parsed where it lies, not copied first.
        const qint64 size = file.size();
        if (uchar *mapped = size > 0 ? file.map(0, size) : nullptr)
            data = QByteArray::fromRawData(reinterpret_cast<const char *>(mapped), size);
        else
            data = file.readAll();
    }
    if (!file.isOpen() || file.error() != QFileDevice::NoError) {
        store.readOnlyReason = QStringLiteral("The settings file \"%1\" cannot be read: %2.").arg(path, file.errorString());
        tell(store.readOnlyReason + QStringLiteral("\r\nTrelvik goes on without the profiles in it and cannot save "
                                                   "settings until the file can be read."));
        return;
    }

    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &parseError);
    data.clear();
    file.close();   // the parsed tree holds copies of every text
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
        // Nothing in it can be trusted: kept whole, under a name of its own.
        const QString target = damagedName(path);
        if (!QFile::rename(path, target)) {
            store.readOnlyReason = QStringLiteral("The settings file \"%1\" cannot be used and could not be moved aside.").arg(path);
            tell(store.readOnlyReason);
            return;
        }
        store.stamp = stampOf(path);
        tell(QStringLiteral("The settings file \"%1\" could not be read (%2) and was moved to \"%3\".\r\n"
                            "Trelvik starts without profiles.")
                 .arg(path, parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                                         : QStringLiteral("it holds no settings"),
                      target));
        return;
    }

    if (isSound(doc.object(), 0)) {
        store.root = doc.object();
        return;
    }
    QStringList setAside;
    const QJsonObject sound = soundKey(doc.object(), QString(), 0, &setAside);
    if (setAside.isEmpty()) {
        store.root = sound;
        return;
    }
    // Everything sound is kept; the file as it was stays beside it, and is
    // only then replaced, so that nothing of it is lost unseen.
    store.root = sound;
    const QString target = damagedName(path);
    QString why;
    if (!QFile::copy(path, target)) {
        store.readOnlyReason = QStringLiteral("The settings file \"%1\" holds values Trelvik cannot use and could not be "
                                              "copied aside to \"%2\"; no change can be saved.").arg(path, target);
    } else {
        QFile::setPermissions(target, kPrivateFile);
        commit(store, sound, &why);
    }
    QStringList shown = setAside.mid(0, 10);
    if (setAside.size() > shown.size())
        shown << QStringLiteral("... and %1 more").arg(setAside.size() - shown.size());
    QString text = QStringLiteral("Some settings in \"%1\" are of a kind Trelvik cannot use and were set aside:\r\n\r\n%2\r\n\r\n")
                       .arg(path, shown.join(QStringLiteral("\r\n")));
    if (store.readOnlyReason.isEmpty())
        text += QStringLiteral("Every other setting is kept. The file as it was is kept as \"%1\".").arg(target);
    else
        text += store.readOnlyReason;
    if (!why.isEmpty())
        text += QStringLiteral("\r\n") + why;
    tell(text);
}

// The store of the current settings file, read when it was not yet or the
// file changed since.
Store &current()
{
    Store &store = theStore();
    const QString path = StoreFilePath();
    if (!store.loaded || store.path != path || !(stampOf(path) == store.stamp))
        load(store, path);
    return store;
}

// Replaces the file with `root`; on success the store holds it.
bool commit(Store &store, const QJsonObject &root, QString *error)
{
    const QString path = store.path;
    const auto fail = [&](const QString &reason) {
        if (error)
            *error = QStringLiteral("The settings could not be saved to \"%1\": %2").arg(path, reason);
        return false;
    };
    if (!store.readOnlyReason.isEmpty()) {
        if (error)
            *error = store.readOnlyReason;
        return false;
    }
    const QString folder = QFileInfo(path).path();
    if (!QFileInfo(folder).isDir()) {
        if (!QDir().mkpath(QFileInfo(folder).path()))
            return fail(QStringLiteral("its folder cannot be created"));
        if (!QDir().mkdir(folder, kPrivateFolder))
            return fail(QFileInfo::exists(folder) ? QStringLiteral("\"%1\" is not a folder").arg(folder)
                                                  : QStringLiteral("its folder cannot be created"));
    }
    const QByteArray data = QJsonDocument(root).toJson(QJsonDocument::Indented);
    QString reason;
    if (!DurableFile::write(path, data, DurableFile::Access::Private, &reason))
        return fail(reason);
    store.root = root;
    store.stamp = stampOf(path);
    store.listings.clear();
    return true;
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

// Whether the key at `path` already holds exactly `value` under `valueName`.
bool holds(const QJsonObject &root, const QString &keyPath, const QString &valueName, const QString &value)
{
    const auto key = findKey(root, splitPath(keyPath));
    if (!key)
        return false;
    const QJsonObject values = key->value(kValues).toObject();
    const QString name = findName(values, valueName);
    return !name.isEmpty() && values.value(name).toString() == value;
}

bool refuse(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
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
    const auto key = findKey(current().root, splitPath(keyPath));
    if (!key)
        return defaultText;
    const QJsonObject values = key->value(kValues).toObject();
    const QString name = findName(values, valueName);
    if (name.isEmpty())
        return defaultText;
    return values.value(name).toString();
}

bool WriteStoreValue(qint32 root, const QString &keyPath, const QString &valueName, qint32 type,
                     const QString &value, QString *error)
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
    Store &store = current();
    QJsonObject changed = store.root;
    bool anyChange = false;
    for (const StoreValue &v : values) {
        if (holds(changed, v.keyPath, v.valueName, v.value))
            continue;
        changed = withValue(changed, splitPath(v.keyPath), 0, v.valueName, v.value);
        anyChange = true;
    }
    return !anyChange || commit(store, changed, error);
}

QString EnumStoreKey(qint32 root, const QString &keyPath, qint32 index)
{
    if (root != HKEY_CURRENT_USER || index < 0)
        return kNotFound;
    Store &store = current();
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
    Store &store = current();
    const auto changed = withoutKey(store.root, path, 0);
    return !changed || commit(store, *changed, error);
}

} // namespace modRegistry
