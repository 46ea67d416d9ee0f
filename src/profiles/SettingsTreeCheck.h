#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

// What of a tree read from the settings file the store can work with. A
// hand, another program or an older version may have put anything there;
// what does not fit is set aside, never guessed at.
namespace SettingsTreeCheck {

// Whether the key needs nothing set aside: the cheap look that every start
// takes, before anything is copied.
bool isSound(const QJsonObject &key, int depth);

// The key with everything the store cannot work with taken out, each piece
// set aside named in *setAside: members other than "keys" and "values";
// values that are not texts; subkeys that are not keys, have an empty name
// or one with the separator, or lie too deep; and any name that differs from
// an earlier one of the same key only in letter case.
QJsonObject soundKey(const QJsonObject &key, const QString &path, int depth, QStringList *setAside);

} // namespace SettingsTreeCheck
