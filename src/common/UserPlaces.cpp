#include "UserPlaces.h"

#include <QDir>

namespace UserPlaces {

namespace {

QString place(const char *variable, const QString &fallback)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::homePath() + fallback;
}

} // namespace

QString dataHome()
{
    return place("XDG_DATA_HOME", QStringLiteral("/.local/share"));
}

QString configHome()
{
    return place("XDG_CONFIG_HOME", QStringLiteral("/.config"));
}

} // namespace UserPlaces
