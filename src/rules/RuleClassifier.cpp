#include "RuleClassifier.h"

#include "HeaderDisplay.h"
#include "HeaderFields.h"
#include "RuleCollation.h"
#include "RuleDatabase.h"
#include "RuleSyntax.h"
#include "SenderAddress.h"

#include <optional>

namespace {

struct CompiledRule {
    QString value; // as stored: what the reason names
    WildcardPattern pattern;
};

} // namespace

struct RuleClassifier::List {
    QString table;
    const RuleDatabase *db = nullptr;   // exact values, when they live there
    QHash<QString, QString> exact;      // RuleCollation::key -> stored value, otherwise
    QList<CompiledRule> addressPatterns;
    QHash<QString, QList<CompiledRule>> headerRules; // by lower-case field name
    // The field names in the order their first rule came, so that a message
    // two header rules match always names the same one.
    QStringList headerFieldOrder;

    void compile(const QString &value)
    {
        const RuleSyntax::Rule rule = RuleSyntax::read(value);
        if (rule.kind == RuleSyntax::Kind::AddressPattern) {
            addressPatterns.append({value, WildcardPattern(rule.pattern)});
        } else if (rule.kind == RuleSyntax::Kind::Header) {
            const QString field = rule.field.toLower();
            auto it = headerRules.find(field);
            if (it == headerRules.end()) {
                headerFieldOrder.append(field);
                it = headerRules.insert(field, {});
            }
            it->append({value, WildcardPattern(rule.pattern)});
        }
    }

    QString exactMatch(const QString &value) const
    {
        if (value.isEmpty())
            return {};
        if (db)
            return db->StoredRule(value, table);
        return exact.value(RuleCollation::key(value));
    }
};

// What the lists compare, worked out once per message.
struct RuleClassifier::Message {
    QString sender;
    QString address;
    QString domainRule;
    std::u32string foldedAddress;
    QHash<QString, QList<std::u32string>> fields; // the fields some header rule names, decoded and folded
};

RuleClassifier::RuleClassifier() : m_exempted(std::make_unique<List>()), m_filter(std::make_unique<List>())
{
    m_exempted->table = QStringLiteral("tbexempted");
    m_filter->table = QStringLiteral("tbfilter");
}

RuleClassifier::RuleClassifier(RuleClassifier &&) noexcept = default;
RuleClassifier &RuleClassifier::operator=(RuleClassifier &&) noexcept = default;
RuleClassifier::~RuleClassifier() = default;

RuleClassifier RuleClassifier::fromDatabase(const RuleDatabase &db)
{
    RuleClassifier classifier;
    for (List *list : {classifier.m_exempted.get(), classifier.m_filter.get()}) {
        list->db = &db;
        const std::optional<QStringList> candidates = db.FillPatternCandidates(list->table);
        if (!candidates)
            throw RuleDatabaseError("The rules of " + list->table.toStdString() + " could not be read.");
        for (const QString &value : *candidates)
            list->compile(value);
    }
    return classifier;
}

RuleClassifier RuleClassifier::fromLists(const QStringList &filter, const QStringList &exempted)
{
    RuleClassifier classifier;
    const auto fill = [](List &list, const QStringList &values) {
        for (const QString &value : values) {
            if (value.isEmpty())
                continue; // a rule of nothing matches nothing
            list.exact.insert(RuleCollation::key(value), value);
            list.compile(value);
        }
    };
    fill(*classifier.m_filter, filter);
    fill(*classifier.m_exempted, exempted);
    return classifier;
}

MessageClassifier RuleClassifier::lazy(const RuleDatabase &db)
{
    auto compiled = std::make_shared<std::optional<RuleClassifier>>();
    return [&db, compiled](const QString &sender, const QString &header) {
        if (!*compiled)
            compiled->emplace(fromDatabase(db));
        return (*compiled)->classify(sender, header);
    };
}

QString RuleClassifier::match(const List &list, const Message &message) const
{
    QString stored = list.exactMatch(message.sender);
    // A bare address is its own sender: one lookup does.
    if (stored.isNull() && message.address.compare(message.sender, Qt::CaseInsensitive) != 0)
        stored = list.exactMatch(message.address);
    if (stored.isNull())
        stored = list.exactMatch(message.domainRule);
    if (!stored.isNull())
        return stored;
    if (!message.address.isEmpty()) {
        for (const CompiledRule &rule : list.addressPatterns) {
            if (rule.pattern.matches(message.foldedAddress))
                return rule.value;
        }
    }
    for (const QString &field : list.headerFieldOrder) {
        const auto values = message.fields.constFind(field);
        if (values == message.fields.cend())
            continue;
        for (const CompiledRule &rule : *list.headerRules.constFind(field)) {
            for (const std::u32string &value : *values) {
                if (rule.pattern.matches(value))
                    return rule.value;
            }
        }
    }
    return {};
}

SortReason RuleClassifier::classify(const QString &sender, const QString &header) const
{
    Message message;
    message.sender = sender;
    message.address = SenderAddress(sender);
    message.domainRule = QStringLiteral("*@") + message.address.mid(message.address.lastIndexOf(u'@') + 1);
    message.foldedAddress = WildcardPattern::fold(message.address);

    if (!m_exempted->headerRules.isEmpty() || !m_filter->headerRules.isEmpty()) {
        HeaderFields::forEach(header, [&](QStringView name, QStringView raw) {
            const QString key = name.toString().toLower();
            if (!m_exempted->headerRules.contains(key) && !m_filter->headerRules.contains(key))
                return;
            message.fields[key].append(WildcardPattern::fold(HeaderDisplay::decodedText(raw.toString())));
        });
    }

    const QString exempted = match(*m_exempted, message);
    if (!exempted.isNull())
        return {SortReason::Kind::Exempted, exempted};
    const QString filtered = match(*m_filter, message);
    if (!filtered.isNull())
        return {SortReason::Kind::Filter, filtered};
    return {};
}
