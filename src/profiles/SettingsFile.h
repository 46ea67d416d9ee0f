#pragma once

#include <QHash>
#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// The settings file and its copy in memory. The file is read once and again
// only when it changed on disk; a change writes the whole new tree through
// DurableFile and only then becomes the tree in memory, so that a crash never
// leaves half a file and a failed write leaves file and memory as they were.
namespace SettingsFile {

// What tells one state of the file on disk from another.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    qint64 modifiedNs = 0;
    bool operator==(const FileStamp &) const = default;
};

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

// The store of the current settings file, read when it was not yet or the
// file changed since. A file that cannot be used is moved or copied aside
// and a box tells the user.
Store &current();

// Replaces the file with `root`; on success the store holds it. False, with
// *error naming the file and the reason, when it did not reach the disk.
bool commit(Store &store, const QJsonObject &root, QString *error);

} // namespace SettingsFile
