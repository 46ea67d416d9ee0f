#pragma once

#include <QList>

class MessageFolderModel;
class RuleDatabase;
class RuleLists;

// The rule commands of the message lists' context menus. Each walks the
// selected rows (0-based rows of the list, in any order) from the last to the
// first and makes a rule value from each row's Sender text. A message without
// a sender gives no value to add (a rule of nothing would never match);
// removing it deletes the rules that hold no value.
namespace RuleCommands {

enum class Value { Sender, Domain };

void addToFilter(const MessageFolderModel &list, QList<int> selectedRows, Value value, RuleLists &rules);
void addToExempted(const MessageFolderModel &list, QList<int> selectedRows, RuleLists &rules);
void removeFromFilter(const MessageFolderModel &list, QList<int> selectedRows, Value value, RuleLists &rules);

// Every Inbox row whose value of this kind is in the filter list, from the
// last row to the first, so that moving them in this order keeps the rows
// still to be moved where they are. A row whose lookup fails is not moved.
QList<int> rowsInFilterList(const MessageFolderModel &inbox, Value value, const RuleDatabase &db);

} // namespace RuleCommands
