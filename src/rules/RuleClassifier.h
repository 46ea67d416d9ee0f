#pragma once

#include "MessageClassifier.h"
#include "SortReason.h"
#include "WildcardPattern.h"

#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <utility>

class RuleDatabase;

// The rules of both lists ready for sorting many messages: an exempted
// match keeps a message in the Inbox whatever the filter list says; else a
// filter match sends it to the Recycle Bin; else no rule matched. Exact values
// (whole From values, addresses, "*@domain") are looked up in an in-memory
// table that finds what the database's index finds; patterns and header
// rules are compiled once, when the classifier is made (RuleSyntax says
// which is which).
//
// A list matches a message when it holds, case ignored (full case folding):
// the whole From value; or its address; or "*@" and the address's domain
// (after its last "@", as mail is routed; "*@" alone for a From value without
// an address); or an address pattern that the address matches; or a header
// rule that one of the message's fields of that name matches (raw UTF-8 read
// as UTF-8, unfolded, encoded words decoded); or a size rule the listed size
// meets. Domains compare in one form whichever way they are written: an
// IDNA label ("xn--", any case) is the same as its Unicode spelling, in the
// message and in the rules alike.
class RuleClassifier {
public:
    // Reads every rule of both tables, once; the database is not asked again.
    // Throws RuleDatabaseError when the rules cannot be read.
    static RuleClassifier fromDatabase(const RuleDatabase &db);
    // Both lists given whole.
    static RuleClassifier fromLists(const QStringList &filter, const QStringList &exempted);
    // A classifier for a fetch: the rules are read from the database at the
    // first message, once. Failures come as RuleDatabaseError.
    static MessageClassifier lazy(const RuleDatabase &db);

    SortReason classify(const QString &sender, QByteArrayView header, qint64 size = -1) const;

    RuleClassifier(RuleClassifier &&) noexcept;
    RuleClassifier &operator=(RuleClassifier &&) noexcept;
    ~RuleClassifier();

private:
    struct List;
    struct Message;
    RuleClassifier();
    void collectFieldNames();
    QString match(const List &list, const Message &message) const;

    std::unique_ptr<List> m_exempted;
    std::unique_ptr<List> m_filter;
    // The field names some header rule of either list names: the bytes a
    // header's name is compared with (case ignored) and the key it goes by.
    QList<std::pair<QByteArray, QString>> m_fieldNames;
};
