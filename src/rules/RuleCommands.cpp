#include "RuleCommands.h"

#include "MessageFolderModel.h"
#include "RuleDatabase.h"
#include "RuleLists.h"
#include "StringHelpers.h"

#include <algorithm>

namespace RuleCommands {

namespace {

QString ruleValue(const MessageEntry &entry, Value value)
{
    return value == Value::Domain ? DomainRule(entry.sender) : entry.sender;
}

// The selected rows that exist, each once, from the last to the first.
QList<int> lastToFirst(const MessageFolderModel &list, QList<int> rows)
{
    rows.erase(std::remove_if(rows.begin(), rows.end(), [&](int row) { return row < 0 || row >= list.count(); }),
               rows.end());
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

template<typename Operation>
void forEachValue(const MessageFolderModel &list, const QList<int> &selectedRows, Value value, Operation operation)
{
    for (const int row : lastToFirst(list, selectedRows))
        operation(ruleValue(list.entry(row), value));
}

} // namespace

void addToFilter(const MessageFolderModel &list, QList<int> selectedRows, Value value, RuleLists &rules)
{
    forEachValue(list, selectedRows, value, [&](const QString &v) {
        // A message without a sender gives no value: a rule of nothing would
        // be stored again at every try and never match.
        if (!v.isEmpty())
            rules.AddFilter(v);
    });
}

void addToExempted(const MessageFolderModel &list, QList<int> selectedRows, RuleLists &rules)
{
    forEachValue(list, selectedRows, Value::Sender, [&](const QString &v) {
        if (!v.isEmpty())
            rules.AddExempted(v);
    });
}

void removeFromFilter(const MessageFolderModel &list, QList<int> selectedRows, Value value, RuleLists &rules)
{
    // The empty value deletes the rules without a value, which only a
    // message without a sender could have made.
    forEachValue(list, selectedRows, value, [&](const QString &v) { rules.DeleteFilter(v); });
}

QList<int> rowsInFilterList(const MessageFolderModel &inbox, Value value, const RuleDatabase &db)
{
    const QString table = QStringLiteral("tbfilter");
    QList<int> rows;
    for (int row = inbox.count() - 1; row >= 0; --row) {
        try {
            if (db.IsInList(ruleValue(inbox.entry(row), value), table))
                rows.append(row);
        } catch (const RuleDatabaseError &) {
            // A row whose lookup failed stays where it is.
        }
    }
    return rows;
}

} // namespace RuleCommands
