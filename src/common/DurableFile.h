#pragma once

#include <QByteArray>
#include <QString>

// The file-system steps that keep the program's files safe: files made
// private from their first byte, data on disk before a rename makes it
// visible, and renames that replace their target in one step.
namespace DurableFile {

// Creates an empty file readable and writable by the user alone (0600),
// replacing any file of that name.
bool createPrivate(const QString &path, QString *error);
// Flushes a file, or a folder's entries, to the disk.
bool sync(const QString &path, QString *error);
// Renames `from` to `to`, replacing `to` atomically when it exists.
bool replace(const QString &from, const QString &to, QString *error);
bool exists(const QString &path);
// Removes a file; a file that is not there is no error.
bool remove(const QString &path, QString *error);

// Replacing a file so that it holds either its old content or the whole new
// one, never less: the new content goes to a temporary file beside it, every
// write and the flush are checked, and only then a rename puts it in place.
// On any failure the temporary is removed, the old file stays as it was and
// *error holds the system's reason ("No space left on device").
//
// The temporary has a name of its own (".settings.json.trelvik-unsaved-
// Ab12Cd") that nobody would give a file, so that the leftover of a crash
// between write and rename can be told from the user's own files.
enum class Access {
    Private, // 0600, whatever the file had
    LikeTarget, // the old file's mode; a new file gets the usual one (umask)
};

bool write(const QString &path, const QByteArray &data, Access access, QString *error);

// Whether `fileName` names a temporary that write() made for a file named
// `targetName` (both without folder).
bool isTemporaryOf(const QString &fileName, const QString &targetName);
// Removes the temporaries a crash left beside `path`; nothing else.
void removeLeftovers(const QString &path);

} // namespace DurableFile
