#pragma once

#include <QString>
#include <optional>

// The lines that make a user's own active script run Trelvik's first
// (`include :personal`, RFC 6609), added after the script's require
// commands between two marker comments, so that they can be taken out again
// exactly, whatever else the user changed meanwhile.
namespace SieveInclude {

// Whether the script carries the lines already.
bool has(const QString &script);
// The script with the lines added; "include" is required only where the
// script does not require it already.
QString add(const QString &script, const QString &name);
// The script without the lines; none when they are not there as added.
std::optional<QString> remove(const QString &script);

} // namespace SieveInclude
