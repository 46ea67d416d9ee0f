#pragma once

#include "SortReason.h"

#include <QList>
#include <QPair>

class MessageFolderModel;
class RuleClassifier;
class RuleLists;

// The rule commands of the message lists' context menus. Each walks the
// selected rows (0-based rows of the list, in any order) from the last to the
// first and makes a rule value from each row's Sender text. A message without
// a sender gives no value to add (a rule of nothing would never match);
// removing it deletes the rules that hold no value. The add commands make no
// rule from a sender they cannot read with certainty, and say why in one
// message box.
namespace RuleCommands {

// Sender: the sender's address (the whole From value when it holds none),
// so that the rule outlives a change of display name. Domain: "*@" and the
// address's domain.
enum class Value { Sender, Domain };

QString ruleValue(const QString &sender, Value value);

// Why no rule of this kind is made from the sender: none for Domain without
// an address with a domain ("*@" would catch every message without one), an
// address with more than one "@" (whose it is cannot be told), a value
// longer than a rule may be. Empty when the rule can be made.
QString refusal(const QString &sender, Value value);

void addToFilter(const MessageFolderModel &list, QList<int> selectedRows, Value value, RuleLists &rules);
void addToExempted(const MessageFolderModel &list, QList<int> selectedRows, RuleLists &rules);
// Removing a sender removes its address and its whole From value, as
// earlier versions stored it.
void removeFromFilter(const MessageFolderModel &list, QList<int> selectedRows, Value value, RuleLists &rules);

// The rows that the rules now sort into the other folder, from the last row
// to the first (so that moving them in this order keeps the rows still to
// be moved where they are), each with what sorted it. From the Inbox go the
// rows a filter rule catches and no exempted rule keeps; from the Recycle
// Bin come the rows an exempted rule keeps. Every row is sorted as the
// fetch sorts it. Throws RuleDatabaseError when a lookup fails.
QList<QPair<int, SortReason>> rowsToRecycleBin(const MessageFolderModel &inbox, const RuleClassifier &rules);
QList<QPair<int, SortReason>> rowsToInbox(const MessageFolderModel &recycle, const RuleClassifier &rules);
// The rows only the learning sorted that a rule now keeps where they are (a
// filter rule in the Recycle Bin, an exempted rule in the Inbox), each with
// that rule: the user's rule, not the learning, holds them there now, and
// they teach as the rule's rows do.
QList<QPair<int, SortReason>> learnedRowsNowRuled(const MessageFolderModel &list, const RuleClassifier &rules,
                                                  bool recycleBin);

} // namespace RuleCommands
