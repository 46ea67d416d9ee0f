// Placeholder until the settings store lands: reads give the defaults.
#include "SettingsStore.h"

namespace modRegistry {
QString StoreFilePath() { return {}; }
QString ReadStoreValue(qint32, const QString &, const QString &, const QString &defaultText) { return defaultText; }
void WriteStoreValue(qint32, const QString &, const QString &, qint32, const QString &) {}
QString EnumStoreKey(qint32, const QString &, qint32) { return QStringLiteral("Not Found"); }
void DeleteStoreKey(qint32, const QString &) {}
} // namespace modRegistry
