#pragma once

#include <QString>

// The few file-system steps that keep the rule database safe: files made
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

} // namespace DurableFile
