#pragma once

#include <QString>

// The per-user places of the base-directory rules. A relative
// $XDG_DATA_HOME or $XDG_CONFIG_HOME is ignored, as those rules say: read
// from another current folder it would name another place, and the program
// would see an empty database or no profiles.
namespace UserPlaces {

// $XDG_DATA_HOME, or $HOME/.local/share.
QString dataHome();
// $XDG_CONFIG_HOME, or $HOME/.config.
QString configHome();

} // namespace UserPlaces
