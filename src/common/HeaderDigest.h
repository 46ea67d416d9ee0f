#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

// A short fingerprint of a message's header block as the server sent it
// (TOP n 0, without its status line and closing dot line), taken before
// anything is decoded. The fields that servers add or rewrite as a message
// is read (Status, X-Status, X-Keywords, X-UID, X-UIDL, Content-Length,
// Lines; names in any case, with their folded continuation lines) are left
// out, as are the differences between CR LF and LF line ends, so the same
// message gives the same digest in the fetch and at its deletion. Empty for
// an empty block: no header, nothing to confirm.
namespace HeaderDigest {

QByteArray of(QByteArrayView headerBlock);
// Whether a field (by its name, in any case) is one of those left out.
bool changedByServer(QByteArrayView name);
// The header block of a TOP reply as received: the reply without its status
// line and closing dot line. The view is of the reply's own bytes.
QByteArrayView blockOfReply(QByteArrayView reply);
// The same of a reply read a character a byte.
QByteArray blockOfReply(QStringView reply);

} // namespace HeaderDigest
