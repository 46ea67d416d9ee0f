#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The lines that make a user's own active script run Trelvik's first
// (`include :personal`, RFC 6609), added after the script's require
// commands between two marker comments, so that they can be taken out again
// exactly, whatever else the user changed meanwhile. Scripts are handled as
// the server's bytes: a byte that is no UTF-8 stays as it was.
namespace SieveInclude {

// Whether the script carries the lines already.
bool has(const QByteArray &script);
// The script with the lines added; "include" is required only where the
// script does not require it already.
QByteArray add(const QByteArray &script, const QString &name);
// The script without the lines; none when they are not there as added.
std::optional<QByteArray> remove(const QByteArray &script);

} // namespace SieveInclude
