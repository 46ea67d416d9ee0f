#include "SettingsFile.h"

#include "DurableFile.h"
#include "MessageBox.h"
#include "SettingsStore.h"
#include "SettingsTreeCheck.h"
#include "UserPlaces.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <optional>
#include <QFileInfo>
#include <QJsonDocument>

#include <sys/stat.h>

namespace SettingsFile {

namespace {

const auto kPrivateFile = QFile::ReadOwner | QFile::WriteOwner;
const auto kPrivateFolder = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

QString storeFolder()
{
    return UserPlaces::configHome() + QStringLiteral("/Trelvik");
}

FileStamp stampOf(const QString &path)
{
    FileStamp stamp;
    struct stat st { };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return stamp;
    stamp.exists = true;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return stamp;
}

Store &theStore()
{
    static Store store;
    return store;
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

// The file's bytes, mapped where it can be; nullopt (the store made
// read-only and the user told) when it cannot be read.
std::optional<QByteArray> readBytes(Store &store, QFile &file)
{
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
        store.readOnlyReason =
            QStringLiteral("The settings file \"%1\" cannot be read: %2.").arg(file.fileName(), file.errorString());
        tell(store.readOnlyReason
             + QStringLiteral("\r\nTrelvik goes on without the profiles in it and cannot save "
                              "settings until the file can be read."));
        return std::nullopt;
    }
    return data;
}

// A file that is no settings tree at all: nothing in it can be trusted, so
// it is kept whole, under a name of its own, and the store starts empty.
void setDamagedFileAside(Store &store, const QString &path, const QJsonParseError &parseError)
{
    const QString target = damagedName(path);
    if (!QFile::rename(path, target)) {
        store.readOnlyReason =
            QStringLiteral("The settings file \"%1\" cannot be used and could not be moved aside.").arg(path);
        tell(store.readOnlyReason);
        return;
    }
    store.stamp = stampOf(path);
    tell(QStringLiteral("The settings file \"%1\" could not be read (%2) and was moved to \"%3\".\r\n"
                        "Trelvik starts without profiles.")
             .arg(path,
                  parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                               : QStringLiteral("it holds no settings"),
                  target));
}

// Everything sound is kept; the file as it was stays beside it, and is
// only then replaced, so that nothing of it is lost unseen.
void keepSoundPart(Store &store, const QString &path, const QJsonObject &sound, const QStringList &setAside)
{
    store.root = sound;
    const QString target = damagedName(path);
    QString why;
    if (!QFile::copy(path, target)) {
        store.readOnlyReason = QStringLiteral(
                                   "The settings file \"%1\" holds values Trelvik cannot use and could not be "
                                   "copied aside to \"%2\"; no change can be saved.")
                                   .arg(path, target);
    } else {
        QFile::setPermissions(target, kPrivateFile);
        commit(store, sound, &why);
    }
    QStringList shown = setAside.mid(0, 10);
    if (setAside.size() > shown.size())
        shown << QStringLiteral("... and %1 more").arg(setAside.size() - shown.size());
    QString text =
        QStringLiteral("Some settings in \"%1\" are of a kind Trelvik cannot use and were set aside:\r\n\r\n%2\r\n\r\n")
            .arg(path, shown.join(QStringLiteral("\r\n")));
    if (store.readOnlyReason.isEmpty())
        text += QStringLiteral("Every other setting is kept. The file as it was is kept as \"%1\".").arg(target);
    else
        text += store.readOnlyReason;
    if (!why.isEmpty())
        text += QStringLiteral("\r\n") + why;
    tell(text);
}

// Reads the file into the store. A missing file is an empty store.
void load(Store &store, const QString &path)
{
    store = Store{path, {}, true, {}, {}, {}, std::move(store.tidied)};
    tidy(store, storeFolder(), path);
    store.stamp = stampOf(path);
    if (!store.stamp.exists)
        return;
    QFile file(path);
    std::optional<QByteArray> data = readBytes(store, file);
    if (!data)
        return;
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(*data, &parseError);
    data.reset();
    file.close(); // the parsed tree holds copies of every text
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
        setDamagedFileAside(store, path, parseError);
        return;
    }
    if (SettingsTreeCheck::isSound(doc.object(), 0)) {
        store.root = doc.object();
        return;
    }
    QStringList setAside;
    const QJsonObject sound = SettingsTreeCheck::soundKey(doc.object(), QString(), 0, &setAside);
    if (setAside.isEmpty())
        store.root = sound;
    else
        keepSoundPart(store, path, sound, setAside);
}

} // namespace

Store &current()
{
    Store &store = theStore();
    const QString path = modRegistry::StoreFilePath();
    if (!store.loaded || store.path != path || !(stampOf(path) == store.stamp))
        load(store, path);
    return store;
}

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

} // namespace SettingsFile

QString modRegistry::StoreFilePath()
{
    return SettingsFile::storeFolder() + QStringLiteral("/settings.json");
}
