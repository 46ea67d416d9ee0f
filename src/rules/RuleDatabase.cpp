// Placeholder until the rule database lands: an empty, always-open store.
#include "RuleDatabase.h"

#include <QStandardPaths>

QString RuleDatabase::defaultFolder() { return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trelvik"); }
RuleDatabase::RuleDatabase(const QString &folder) : m_folder(folder) {}
RuleDatabase::~RuleDatabase() = default;
QString RuleDatabase::databasePath() const { return m_folder + QLatin1Char('/') + QLatin1String(kFileName); }
QString RuleDatabase::backupPath() const { return m_folder + QLatin1Char('/') + QLatin1String(kBackupName); }
bool RuleDatabase::CompactRuleDatabase() { return true; }
bool RuleDatabase::OpenRuleDatabase(QString *) { return true; }
void RuleDatabase::CloseRuleDatabase() {}
bool RuleDatabase::IsInList(const QString &, const QString &) const { return false; }
bool RuleDatabase::InsertRule(const QString &, const QString &) { return false; }
bool RuleDatabase::DeleteRule(const QString &, const QString &) { return false; }
std::optional<QStringList> RuleDatabase::FillRules(const QString &) const { return QStringList(); }
