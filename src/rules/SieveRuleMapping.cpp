#include "SieveRuleMapping.h"

#include "RuleSyntax.h"
#include "SenderAddress.h"
#include "SieveSpellings.h"

#include <algorithm>
#include <functional>
#include <optional>

SieveCapabilities SieveCapabilities::typical()
{
    return {{QStringLiteral("fileinto"),
             QStringLiteral("reject"),
             QStringLiteral("envelope"),
             QStringLiteral("encoded-character"),
             QStringLiteral("vacation"),
             QStringLiteral("subaddress"),
             QStringLiteral("comparator-i;ascii-numeric"),
             QStringLiteral("relational"),
             QStringLiteral("regex"),
             QStringLiteral("imap4flags"),
             QStringLiteral("copy"),
             QStringLiteral("include"),
             QStringLiteral("variables"),
             QStringLiteral("body"),
             QStringLiteral("enotify"),
             QStringLiteral("environment"),
             QStringLiteral("mailbox"),
             QStringLiteral("date"),
             QStringLiteral("index"),
             QStringLiteral("ihave"),
             QStringLiteral("duplicate"),
             QStringLiteral("mime"),
             QStringLiteral("foreverypart"),
             QStringLiteral("extracttext")}};
}

namespace SieveRuleMapping {

namespace {

constexpr int kMaxSpellings = 64;
constexpr qsizetype kMaxRegex = 4000;

// An invalid byte in a header shows as this character in what the server's
// header test sees; here the whole value is then read as Latin-1.
const QString kUnknown = QString(QChar(0xFFFD));

bool isAscii(QStringView text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

bool isLatin1(QStringView text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0xFF)
            return false;
    }
    return true;
}

// A Latin-1 text as the octets a header not in UTF-8 carries, spelt with
// the "encoded-character" extension.
QString latin1Octets(QStringView text)
{
    QString out;
    for (const QChar c : text) {
        if (c.unicode() < 0x80)
            out.append(c);
        else
            out.append(QStringLiteral("${hex:%1}").arg(c.unicode(), 2, 16, QChar(u'0')));
    }
    return out;
}

// A text as a ":matches" key that stands for itself.
QString matchesLiteral(QString text)
{
    for (const char16_t special : {u'\\', u'*', u'?'})
        text.replace(QChar(special), QStringLiteral("\\") + QChar(special));
    return text;
}

// The spellings of an address or domain the server must be given, by how a
// header shows them to it.
struct Keys {
    QStringList ascii; // the same in every reading
    QStringList utf8; // when the header is UTF-8
    QStringList latin1; // when it is not: octets, for "encoded-character"
    // When the UTF-8 spellings are too many to list: one expression for the
    // whole sender that finds them all.
    QString utf8Regex;
    QString reason;
};

// The spellings of a domain: its case foldings, and its other IDNA spelling.
std::optional<QStringList> domainSpellings(const QString &domain, QString *reason)
{
    if (IsInternationalDomain(domain) && domain.contains(QLatin1String("xn--"), Qt::CaseInsensitive)) {
        *reason = QStringLiteral("its domain is written in its \"xn--\" spelling, which here also stands for every "
                                 "Unicode spelling that normalises to it; write the domain in Unicode");
        return std::nullopt;
    }
    std::optional<QStringList> out = SieveSpellings::spellings(domain, kMaxSpellings);
    if (out && IsInternationalDomain(domain)) {
        const QString ace = AceDomainForm(domain);
        if (!ace.isEmpty())
            out->append(ace);
    }
    return out;
}

// An ASCII address or domain with more spellings than are worth listing
// (every "s" may be a long s): the text itself, and an expression for the rest.
Keys manySpellings(const QString &local, const QString &domain)
{
    Keys keys;
    const QString whole = local.isNull() ? QStringLiteral("*@") + domain : local + u'@' + domain;
    const SieveSpellings::PatternRegex regex = SieveSpellings::patternRegex(whole, kMaxRegex);
    if (!isAscii(whole) || IsInternationalDomain(domain) || !regex.reason.isEmpty()) {
        keys.reason = regex.reason.isEmpty()
            ? QStringLiteral("it has more than %1 spellings under case folding").arg(kMaxSpellings)
            : regex.reason;
        return keys;
    }
    keys.ascii.append(local.isNull() ? domain : whole);
    keys.utf8Regex = regex.expression;
    return keys;
}

Keys addressKeys(const QString &local, const QString &domain)
{
    Keys keys;
    const std::optional<QStringList> locals = SieveSpellings::spellings(local, kMaxSpellings);
    const std::optional<QStringList> domains = domainSpellings(domain, &keys.reason);
    if (!keys.reason.isEmpty())
        return keys;
    if (!locals || !domains || locals->size() * domains->size() > kMaxSpellings)
        return manySpellings(local, domain);
    for (const QString &l : *locals) {
        for (const QString &d : *domains) {
            const QString key = l.isNull() ? d : l + u'@' + d;
            if (isAscii(key)) {
                keys.ascii.append(key);
                continue;
            }
            keys.utf8.append(key);
            if (isLatin1(key))
                keys.latin1.append(latin1Octets(key));
        }
    }
    return keys;
}

// A test over the keys: the ASCII ones always, the others only in the
// reading of the header they belong to.
QString keyedTest(const Keys &keys, const std::function<QString(const QStringList &)> &test)
{
    QStringList parts;
    if (!keys.ascii.isEmpty())
        parts.append(test(keys.ascii));
    if (!keys.utf8.isEmpty())
        parts.append(
            QStringLiteral("allof (not header :contains \"from\" %1, %2)").arg(quoted(kUnknown), test(keys.utf8)));
    if (!keys.latin1.isEmpty())
        parts.append(
            QStringLiteral("allof (header :contains \"from\" %1, %2)").arg(quoted(kUnknown), test(keys.latin1)));
    if (!keys.utf8Regex.isEmpty())
        parts.append(QStringLiteral("allof (not header :contains \"from\" %1, string :regex :comparator \"i;octet\" "
                                    "\"${sender}\" %2)")
                         .arg(quoted(kUnknown), quoted(keys.utf8Regex)));
    return parts.size() == 1 ? parts.front() : QStringLiteral("anyof (") + parts.join(QStringLiteral(", ")) + u')';
}

QStringList needsForAddress(const Keys &keys)
{
    QStringList out{QStringLiteral("relational"), QStringLiteral("comparator-i;ascii-numeric"), QStringLiteral("regex"),
                    QStringLiteral("variables")};
    if (!keys.latin1.isEmpty())
        out.append(QStringLiteral("encoded-character"));
    return out;
}

Mapping exactAddress(const QString &value)
{
    Mapping m;
    const qsizetype at = value.lastIndexOf(u'@');
    const Keys keys = addressKeys(value.left(at), value.mid(at + 1));
    if (!keys.reason.isEmpty()) {
        m.reason = keys.reason;
        return m;
    }
    m.extensions = needsForAddress(keys);
    m.tests.append({Place::Sender, keyedTest(keys, [](const QStringList &k) {
                        return QStringLiteral("string :is :comparator \"i;ascii-casemap\" \"${sender}\" ")
                            + quotedList(k);
                    })});
    return m;
}

Mapping domainRule(const QString &domain)
{
    Mapping m;
    const Keys keys = addressKeys(QString(), domain);
    if (!keys.reason.isEmpty()) {
        m.reason = keys.reason;
        return m;
    }
    m.extensions = needsForAddress(keys);
    m.tests.append({Place::Sender, keyedTest(keys, [](const QStringList &k) {
                        QStringList patterns;
                        for (const QString &spelling : k)
                            patterns.append(QStringLiteral("*@") + matchesLiteral(spelling));
                        return QStringLiteral("string :matches :comparator \"i;ascii-casemap\" \"${sender}\" ")
                            + quotedList(patterns);
                    })});
    return m;
}

// Whether a pattern's domain is matched label by label ("*", "*.x.example"
// or "x.example"), so that its "xn--" spelling and its Unicode one fare
// alike.
bool wholeLabels(QStringView domain)
{
    if (domain == u"*")
        return true;
    const QStringView rest = domain.startsWith(u"*.") ? domain.sliced(2) : domain;
    return !rest.contains(u'*') && !rest.contains(u'?');
}

Mapping addressPattern(const QString &pattern)
{
    Mapping m;
    const qsizetype at = pattern.lastIndexOf(u'@');
    const QString domain = pattern.mid(at + 1);
    if (!isAscii(domain) || IsInternationalDomain(domain)) {
        m.reason = QStringLiteral("a pattern with an international domain is compared here in its Unicode "
                                  "spelling, which the server cannot do");
    } else if (!wholeLabels(domain)) {
        m.reason = QStringLiteral("a wildcard inside a domain's label would meet the \"xn--\" spelling of "
                                  "international domains on the server, and their Unicode spelling here");
    }
    if (!m.reason.isEmpty())
        return m;
    const SieveSpellings::PatternRegex regex = SieveSpellings::patternRegex(pattern, kMaxRegex);
    if (!regex.reason.isEmpty()) {
        m.reason = regex.reason;
        return m;
    }
    m.extensions = needsForAddress({});
    QString matches = pattern;
    matches.replace(u'\\', QStringLiteral("\\\\"));
    const QString plain = QStringLiteral("string :matches :comparator \"i;ascii-casemap\" \"${sender}\" ")
        + quoted(matches);
    QString test = plain;
    if (regex.needed) {
        // The other spellings only where the header is UTF-8; the plain
        // pattern finds what the Latin-1 reading finds.
        test = QStringLiteral("anyof (%1, allof (not header :contains \"from\" %2, string :regex :comparator "
                              "\"i;octet\" \"${sender}\" %3))")
                   .arg(plain, quoted(kUnknown), quoted(regex.expression));
    }
    m.tests.append({Place::Sender, test});
    return m;
}

Mapping headerRule(const RuleSyntax::Rule &rule)
{
    Mapping m;
    const SieveSpellings::PatternRegex regex = SieveSpellings::patternRegex(rule.pattern, kMaxRegex);
    if (!regex.reason.isEmpty()) {
        m.reason = regex.reason;
        return m;
    }
    if (!regex.needed) {
        QString matches = rule.pattern;
        matches.replace(u'\\', QStringLiteral("\\\\"));
        m.tests.append(
            {Place::Anywhere, QStringLiteral("header :matches %1 %2").arg(quoted(rule.field), quoted(matches))});
        return m;
    }
    m.extensions.append(QStringLiteral("regex"));
    m.tests.append({Place::Anywhere,
                    QStringLiteral("header :regex :comparator \"i;octet\" %1 %2")
                        .arg(quoted(rule.field), quoted(regex.expression))});
    return m;
}

bool isBareAddress(const QString &value)
{
    const qsizetype at = value.lastIndexOf(u'@');
    if (at <= 0 || at == value.size() - 1 || value.contains(u'='))
        return false;
    for (const QChar c : value) {
        if (!IsAddressCharacter(c))
            return false;
    }
    return true;
}

Mapping mapped(const QString &value)
{
    const RuleSyntax::Rule rule = RuleSyntax::read(value);
    switch (rule.kind) {
    case RuleSyntax::Kind::Size:
        return {{{Place::Anywhere,
                  QStringLiteral("size %1 %2")
                      .arg(rule.larger ? QStringLiteral(":over") : QStringLiteral(":under"))
                      .arg(rule.bytes)}},
                {},
                {}};
    case RuleSyntax::Kind::Header:
        return headerRule(rule);
    case RuleSyntax::Kind::AddressPattern:
        return addressPattern(rule.pattern);
    case RuleSyntax::Kind::Domain:
        if (value.size() == 2)
            return {{}, QStringLiteral("it names no domain"), {}};
        return domainRule(value.mid(2));
    case RuleSyntax::Kind::Exact:
        break;
    }
    if (isBareAddress(value))
        return exactAddress(value);
    return {{},
            QStringLiteral("it is a whole From line; the server compares From lines only after decoding them, "
                           "so it could find lines this rule does not"),
            {}};
}

} // namespace

Mapping map(const QString &value, const SieveCapabilities &capabilities)
{
    if (value.contains(QLatin1String("${"))) {
        return {{}, QStringLiteral("it holds \"${\", which the server reads as the start of an encoded character"), {}};
    }
    // A line break or other control in a string makes the whole script
    // unreadable to the server; no header it compares holds one (a tab aside).
    const bool control = std::any_of(value.cbegin(), value.cend(),
                                     [](QChar c) { return (c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7F; });
    if (control)
        return {{}, QStringLiteral("it holds a line break or another control character, which no header holds"), {}};
    Mapping m = mapped(value);
    for (const QString &extension : std::as_const(m.extensions)) {
        if (!capabilities.has(extension)) {
            m.tests.clear();
            m.reason = QStringLiteral("the server offers no \"%1\", which its test needs").arg(extension);
            break;
        }
    }
    return m;
}

QString quoted(QStringView text)
{
    QString out;
    out.reserve(text.size() + 2);
    out.append(u'"');
    for (const QChar c : text) {
        if (c == u'"' || c == u'\\')
            out.append(u'\\');
        out.append(c);
    }
    out.append(u'"');
    return out;
}

QString quotedList(const QStringList &texts)
{
    if (texts.size() == 1)
        return quoted(texts.front());
    QStringList parts;
    for (const QString &text : texts)
        parts.append(quoted(text));
    return u'[' + parts.join(QStringLiteral(", ")) + u']';
}

} // namespace SieveRuleMapping
