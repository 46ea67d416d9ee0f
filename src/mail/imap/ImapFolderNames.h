#pragma once

#include <QByteArray>
#include <QList>

// What a server's folders of a special use are usually called, where it
// marks none (no SPECIAL-USE, or an old server).
namespace ImapFolderNames {

// The usual names of a folder of this use (\Junk, \Trash), best first.
QList<QByteArray> usual(const QByteArray &specialUse);
// The name matches `usual` as it is or under INBOX (as servers that keep
// every folder inside INBOX have it), case ignored.
bool named(const QByteArray &name, const QByteArray &usual);

} // namespace ImapFolderNames
