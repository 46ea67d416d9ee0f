#pragma once

#include "SortReason.h"
#include "WildcardPattern.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class RuleDatabase;

// Sorts one message by both rule lists: an exempted match keeps it in the
// Inbox whatever the filter list says; else a filter match sends it to the
// Recycle Bin; else no rule matched. Asked with the message's From value as
// the lists show it and its whole header (a TOP reply, status line allowed).
using MessageClassifier = std::function<SortReason(const QString &sender, const QString &header)>;

// The rules of both lists ready for sorting many messages. Exact values
// (whole From values, addresses, "*@domain") are looked up in the
// database's index or an in-memory table; patterns and header rules are
// compiled once, when the classifier is made (RuleSyntax says which is which).
//
// A list matches a message when it holds, case ignored:
// the whole From value; or its address; or "*@" and the address's domain
// ("*@" alone for a From value without an address); or an address pattern
// that the address matches; or a header rule that one of the message's
// fields of that name matches (unfolded, encoded words decoded).
class RuleClassifier {
public:
    // Reads the patterns and header rules of both tables; exact values stay
    // in the database, which must stay open while the classifier is used.
    // Throws RuleDatabaseError when the rules cannot be read.
    static RuleClassifier fromDatabase(const RuleDatabase &db);
    // Both lists given whole.
    static RuleClassifier fromLists(const QStringList &filter, const QStringList &exempted);
    // A classifier for a fetch: the rules are read from the database at the
    // first message, once. Failures come as RuleDatabaseError.
    static MessageClassifier lazy(const RuleDatabase &db);

    SortReason classify(const QString &sender, const QString &header) const;

    RuleClassifier(RuleClassifier &&) noexcept;
    RuleClassifier &operator=(RuleClassifier &&) noexcept;
    ~RuleClassifier();

private:
    struct List;
    struct Message;
    RuleClassifier();
    QString match(const List &list, const Message &message) const;

    std::unique_ptr<List> m_exempted;
    std::unique_ptr<List> m_filter;
};
