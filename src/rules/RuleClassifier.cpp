#include "RuleClassifier.h"

#include "HeaderDisplay.h"
#include "HeaderFields.h"
#include "HeaderScan.h"
#include "RuleCollation.h"
#include "RuleDatabase.h"
#include "RuleSyntax.h"
#include "SenderAddress.h"
#include "StringHelpers.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace {

struct CompiledRule {
    QString value; // as stored: what the reason names
    WildcardPattern pattern;
};

struct SizeRule {
    QString value;
    bool larger;
    qint64 bytes;
};

// An address pattern with its domain in the form messages are compared in,
// so that "*@*.xn--bcher-kva.example" and "*@*.bücher.example" are one.
QString patternForm(const QString &pattern)
{
    const qsizetype at = pattern.lastIndexOf(u'@');
    return at < 0 ? pattern : pattern.left(at + 1) + DomainForm(QStringView(pattern).mid(at + 1));
}

// A cheap look at the bytes: an "@" and a byte beyond ASCII or an "xn--".
bool mayHaveInternationalDomain(QByteArrayView utf8)
{
    const qsizetype at = utf8.lastIndexOf('@');
    if (at < 0)
        return false;
    const QByteArrayView domain = utf8.sliced(at + 1);
    for (const char c : domain) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return true;
    }
    return domain.contains("xn--") || domain.contains("XN--") || domain.contains("Xn--") || domain.contains("xN--");
}

// An address value (or "*@" and a domain) with its domain in the Unicode
// spelling messages are compared in; empty when it is no such value or that
// changes nothing but case.
QString unicodeDomainSpelling(const QString &value)
{
    const qsizetype at = value.lastIndexOf(u'@');
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (!IsAddressCharacter(c) || c == u'?' || (c == u'*' && (i != 0 || at != 1)))
            return {};
    }
    const QString form = value.left(at + 1) + DomainForm(QStringView(value).mid(at + 1));
    return form.compare(value, Qt::CaseInsensitive) == 0 ? QString() : form;
}

} // namespace

struct RuleClassifier::List {
    QString table;
    // RuleCollation::keyOfUtf8 -> the value as stored; of values that are
    // the same rule the first one, as the database's index finds it.
    QHash<QByteArray, QString> exact;
    QList<CompiledRule> addressPatterns;
    QList<SizeRule> sizeRules;
    QHash<QString, QList<CompiledRule>> headerRules; // by lower-case field name
    // The field names in the order their first rule came, so that a message
    // two header rules match always names the same one.
    QStringList headerFieldOrder;
    // The same fields by their place in the classifier's field names.
    QList<qsizetype> headerFieldIndexes;

    void compile(const QString &value)
    {
        const RuleSyntax::Rule rule = RuleSyntax::read(value);
        if (rule.kind == RuleSyntax::Kind::AddressPattern) {
            addressPatterns.append({value, WildcardPattern(patternForm(rule.pattern))});
        } else if (rule.kind == RuleSyntax::Kind::Size) {
            sizeRules.append({value, rule.larger, rule.bytes});
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

    void addExact(QByteArrayView utf8)
    {
        const QByteArray key = RuleCollation::keyOfUtf8(utf8);
        if (exact.contains(key))
            return;
        const QString value = utf8.isEmpty() ? QStringLiteral("") : Utf8Text(utf8);
        exact.insert(key, value);
        // An address or domain rule whose domain mixes the two spellings
        // ("*@xn--bcher-kva.café.example") is also found by the Unicode one,
        // which a message of that domain always looks up.
        if (mayHaveInternationalDomain(utf8)) {
            const QString unicode = unicodeDomainSpelling(value);
            if (!unicode.isEmpty())
                exact.insert(RuleCollation::keyOfUtf8(unicode.toUtf8()), value);
        }
    }

    // The stored value of the exact rule with this key (keyOf()); null for none.
    QString exactMatch(const QByteArray &key) const { return key.isNull() ? QString() : exact.value(key); }
};

namespace {

// The key a value is looked up by in both lists; null for an empty value,
// which no rule matches.
QByteArray keyOf(const QString &value)
{
    return value.isEmpty() ? QByteArray() : RuleCollation::keyOfUtf8(value.toUtf8());
}

} // namespace

// What the lists compare, worked out once per message for both of them.
struct RuleClassifier::Message {
    // The keys of the exact values in the order they are looked up: the
    // sender, its address (unless that is the sender), the address in the
    // other spellings of an internationalised domain (Unicode, ASCII), the
    // domain rule, and the domain rule in those spellings.
    QList<QByteArray> exactKeys;
    bool hasAddress = false;
    std::u32string foldedAddress;
    qint64 size = -1;
    // The fields some header rule names, decoded and folded, by the place of
    // their name in the classifier's field names.
    QList<std::pair<qsizetype, std::u32string>> fields;
};

RuleClassifier::RuleClassifier()
    : m_exempted(std::make_unique<List>())
    , m_filter(std::make_unique<List>())
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
        const std::optional<QList<QByteArray>> values = db.FillRuleBytes(list->table);
        const std::optional<QStringList> candidates = values ? db.FillPatternCandidates(list->table) : std::nullopt;
        if (!candidates)
            throw RuleDatabaseError("The rules of " + list->table.toStdString() + " could not be read.");
        list->exact.reserve(values->size());
        for (const QByteArray &value : *values)
            list->addExact(value);
        for (const QString &value : *candidates)
            list->compile(value);
    }
    classifier.collectFieldNames();
    return classifier;
}

RuleClassifier RuleClassifier::fromLists(const QStringList &filter, const QStringList &exempted)
{
    RuleClassifier classifier;
    const auto fill = [](List &list, const QStringList &values) {
        for (const QString &value : values) {
            if (value.isEmpty())
                continue; // a rule of nothing matches nothing
            list.addExact(value.toUtf8());
            list.compile(value);
        }
    };
    fill(*classifier.m_filter, filter);
    fill(*classifier.m_exempted, exempted);
    classifier.collectFieldNames();
    return classifier;
}

void RuleClassifier::collectFieldNames()
{
    for (const List *list : {m_exempted.get(), m_filter.get()}) {
        for (const QString &field : list->headerFieldOrder) {
            const bool known = std::any_of(m_fieldNames.cbegin(), m_fieldNames.cend(),
                                           [&field](const auto &name) { return name.second == field; });
            if (!known)
                m_fieldNames.append({field.toLatin1(), field});
        }
    }
    for (List *list : {m_exempted.get(), m_filter.get()}) {
        for (const QString &field : list->headerFieldOrder) {
            const auto found = std::find_if(m_fieldNames.cbegin(), m_fieldNames.cend(),
                                            [&field](const auto &name) { return name.second == field; });
            list->headerFieldIndexes.append(found - m_fieldNames.cbegin());
        }
    }
}

MessageClassifier RuleClassifier::lazy(const RuleDatabase &db)
{
    auto compiled = std::make_shared<std::optional<RuleClassifier>>();
    return [&db, compiled](const QString &sender, QByteArrayView header, qint64 size) {
        if (!*compiled)
            compiled->emplace(fromDatabase(db));
        return (*compiled)->classify(sender, header, size);
    };
}

QString RuleClassifier::match(const List &list, const Message &message) const
{
    for (const QByteArray &key : message.exactKeys) {
        if (QString stored = list.exactMatch(key); !stored.isNull())
            return stored;
    }
    if (message.hasAddress) {
        for (const CompiledRule &rule : list.addressPatterns) {
            if (rule.pattern.matches(message.foldedAddress))
                return rule.value;
        }
    }
    for (qsizetype k = 0; k < list.headerFieldOrder.size() && !message.fields.isEmpty(); ++k) {
        const qsizetype field = list.headerFieldIndexes.at(k);
        const auto isField = [field](const auto &value) { return value.first == field; };
        if (std::none_of(message.fields.cbegin(), message.fields.cend(), isField))
            continue;
        for (const CompiledRule &rule : *list.headerRules.constFind(list.headerFieldOrder.at(k))) {
            for (const auto &[index, value] : message.fields) {
                if (index == field && rule.pattern.matches(value))
                    return rule.value;
            }
        }
    }
    if (message.size >= 0) {
        for (const SizeRule &rule : list.sizeRules) {
            if (rule.larger ? message.size > rule.bytes : message.size < rule.bytes)
                return rule.value;
        }
    }
    return {};
}

SortReason RuleClassifier::classify(const QString &sender, QByteArrayView header, qint64 size) const
{
    Message message;
    message.size = size;
    const QString address = SenderAddress(sender);
    message.hasAddress = !address.isEmpty();
    const QString domain = AddressDomain(address);
    message.exactKeys.append(keyOf(sender));
    // A bare address is its own sender: one lookup does.
    if (address.compare(sender, Qt::CaseInsensitive) != 0)
        message.exactKeys.append(keyOf(address));
    QString comparedAddress = address;
    QStringList otherDomainRules;
    // An internationalised domain is looked up in both spellings; a plain
    // one (nearly every one) costs nothing more.
    if (IsInternationalDomain(domain)) {
        const QString unicode = DomainForm(domain);
        const QString local = address.left(address.size() - domain.size());
        comparedAddress = local + unicode;
        for (const QString &form : {unicode, AceDomainForm(domain)}) {
            if (form.isEmpty() || form.compare(domain, Qt::CaseInsensitive) == 0)
                continue;
            message.exactKeys.append(keyOf(local + form));
            otherDomainRules.append(QStringLiteral("*@") + form);
        }
    }
    message.exactKeys.append(keyOf(QStringLiteral("*@") + domain));
    for (const QString &rule : std::as_const(otherDomainRules))
        message.exactKeys.append(keyOf(rule));
    message.foldedAddress = WildcardPattern::fold(comparedAddress);

    if (!m_fieldNames.isEmpty()) {
        HeaderFields::forEach(header, [&](QByteArrayView name, QByteArrayView raw) {
            for (qsizetype k = 0; k < m_fieldNames.size(); ++k) {
                const QByteArray &bytes = m_fieldNames.at(k).first;
                if (name.size() == bytes.size() && name.compare(bytes, Qt::CaseInsensitive) == 0) {
                    message.fields.append(
                        {k, WildcardPattern::fold(HeaderDisplay::decodedText(HeaderScan::text(raw)))});
                    return;
                }
            }
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
