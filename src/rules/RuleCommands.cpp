// Placeholder until the rule commands land.
#include "RuleCommands.h"

namespace RuleCommands {
void addToFilter(const MessageFolderModel &, QList<int>, Value, RuleLists &) {}
void addToExempted(const MessageFolderModel &, QList<int>, RuleLists &) {}
void removeFromFilter(const MessageFolderModel &, QList<int>, Value, RuleLists &) {}
QList<int> rowsInFilterList(const MessageFolderModel &, Value, const RuleDatabase &) { return {}; }
} // namespace RuleCommands
