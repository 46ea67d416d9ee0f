#include "RuleCommands.h"

#include "MessageBox.h"
#include "MessageFolderModel.h"
#include "RuleClassifier.h"
#include "RuleLists.h"
#include "RuleSyntax.h"
#include "SenderAddress.h"
#include "StringHelpers.h"

#include <algorithm>

namespace RuleCommands {

QString ruleValue(const QString &sender, Value value)
{
    if (value == Value::Domain)
        return DomainRule(sender);
    const QString address = SenderAddress(sender);
    return address.isEmpty() ? sender : address;
}

QString refusal(const QString &sender, Value value)
{
    if (sender.isEmpty())
        return QStringLiteral("the message has no sender");
    const QString address = SenderAddress(sender);
    // Without an address the Sender rule is the whole From value.
    if (address.isEmpty() && value == Value::Sender)
        return RuleSyntax::tooLongReason(sender);
    const QString uncertain = UncertainAddressReason(sender);
    if (!uncertain.isEmpty())
        return uncertain;
    return RuleSyntax::tooLongReason(ruleValue(sender, value));
}

namespace {

// One message box for all the rows no rule was made from.
class Refusals {
public:
    void add(const QString &sender, const QString &reason)
    {
        // A sender of a thousand characters is named by its start.
        constexpr qsizetype kShown = 200;
        const QString shown = sender.size() > kShown ? sender.left(kShown) + QStringLiteral("...") : sender;
        if (m_count++ == 0)
            m_first = QStringLiteral("No rule was made from the sender \"%1\": %2.").arg(shown, reason);
    }

    void report() const
    {
        if (m_count == 0)
            return;
        QString text = m_first;
        if (m_count > 1)
            text += QStringLiteral("\r\nNo rule was made from %1 more selected messages either.").arg(m_count - 1);
        MessageBox::show(text, QStringLiteral("Add Rule"), MessageBox::Icon::Exclamation);
    }

private:
    int m_count = 0;
    QString m_first;
};

// The selected rows that exist, each once, from the last to the first.
QList<int> lastToFirst(const MessageFolderModel &list, QList<int> rows)
{
    rows.erase(std::remove_if(rows.begin(), rows.end(), [&](int row) { return row < 0 || row >= list.count(); }),
               rows.end());
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

template <typename Operation>
void forEachValue(const MessageFolderModel &list, const QList<int> &selectedRows, Value value, Operation operation)
{
    for (const int row : lastToFirst(list, selectedRows))
        operation(list.entry(row).sender, ruleValue(list.entry(row).sender, value));
}

} // namespace

void addToFilter(const MessageFolderModel &list, QList<int> selectedRows, Value value, RuleLists &rules)
{
    Refusals refusals;
    forEachValue(list, selectedRows, value, [&](const QString &sender, const QString &v) {
        // A message without a sender gives no value: a rule of nothing would
        // be stored again at every try and never match.
        if (v.isEmpty() && sender.isEmpty())
            return;
        const QString why = refusal(sender, value);
        if (why.isEmpty())
            rules.AddFilter(v);
        else
            refusals.add(sender, why);
    });
    refusals.report();
}

void addToExempted(const MessageFolderModel &list, QList<int> selectedRows, RuleLists &rules)
{
    Refusals refusals;
    forEachValue(list, selectedRows, Value::Sender, [&](const QString &sender, const QString &v) {
        if (v.isEmpty() && sender.isEmpty())
            return;
        const QString why = refusal(sender, Value::Sender);
        if (why.isEmpty())
            rules.AddExempted(v);
        else
            refusals.add(sender, why);
    });
    refusals.report();
}

void removeFromFilter(const MessageFolderModel &list, QList<int> selectedRows, Value value, RuleLists &rules)
{
    // The empty value deletes the rules without a value, which only a
    // message without a sender could have made.
    forEachValue(list, selectedRows, value, [&](const QString &sender, const QString &v) {
        rules.DeleteFilter(v);
        if (value == Value::Sender && v != sender)
            rules.DeleteFilter(sender);
    });
}

namespace {

QList<QPair<int, SortReason>> rowsSortedAs(const MessageFolderModel &list, const RuleClassifier &rules,
                                           SortReason::Kind kind, bool onlyLearned = false)
{
    QList<QPair<int, SortReason>> rows;
    for (int row = list.count() - 1; row >= 0; --row) {
        const MessageEntry &entry = list.entry(row);
        // A row whose header could not be read was never sorted by a rule.
        if (!entry.hasHeaderBlock() && entry.sender.isEmpty())
            continue;
        if (onlyLearned && entry.sortReason.kind != SortReason::Kind::Learned)
            continue;
        const SortReason reason = rules.classify(entry.sender, entry.headerBlock(), entry.bytes);
        if (reason.kind == kind)
            rows.append({row, reason});
    }
    return rows;
}

} // namespace

QList<QPair<int, SortReason>> rowsToRecycleBin(const MessageFolderModel &inbox, const RuleClassifier &rules)
{
    return rowsSortedAs(inbox, rules, SortReason::Kind::Filter);
}

QList<QPair<int, SortReason>> rowsToInbox(const MessageFolderModel &recycle, const RuleClassifier &rules)
{
    return rowsSortedAs(recycle, rules, SortReason::Kind::Exempted);
}

QList<QPair<int, SortReason>> learnedRowsNowRuled(const MessageFolderModel &list, const RuleClassifier &rules,
                                                  bool recycleBin)
{
    return rowsSortedAs(list, rules, recycleBin ? SortReason::Kind::Filter : SortReason::Kind::Exempted, true);
}

} // namespace RuleCommands
