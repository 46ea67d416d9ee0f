#include "RuleSyntax.h"

#include "SenderAddress.h"

namespace RuleSyntax {

namespace {

bool isWildcard(QChar c)
{
    return c == u'*' || c == u'?';
}

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isFieldNameChar(QChar c)
{
    return isAsciiLetter(c) || (c >= u'0' && c <= u'9') || c == u'-';
}

// A From value's marks: an address in angle brackets, or a group's end.
bool looksLikeFromValue(const QString &value)
{
    const qsizetype open = value.indexOf(u'<');
    if (open >= 0) {
        const qsizetype at = value.indexOf(u'@', open);
        if (at >= 0 && value.indexOf(u'>', at) >= 0)
            return true;
    }
    return value.endsWith(u';');
}

bool hasWildcard(QStringView text)
{
    for (const QChar c : text) {
        if (isWildcard(c))
            return true;
    }
    return false;
}

void skipBlanks(QStringView value, qsizetype *pos)
{
    while (*pos < value.size() && (value.at(*pos) == u' ' || value.at(*pos) == u'\t'))
        ++*pos;
}

// The largest limit a size rule takes: far above any message, far below
// the overflow of its product.
constexpr qint64 kMaxSizeNumber = 1'000'000'000;

bool readSizeRule(QStringView value, Rule *rule)
{
    if (!value.startsWith(u"size", Qt::CaseInsensitive))
        return false;
    qsizetype pos = 4;
    skipBlanks(value, &pos);
    if (pos >= value.size() || value.at(pos) != u':')
        return false;
    ++pos;
    skipBlanks(value, &pos);
    if (pos >= value.size() || (value.at(pos) != u'>' && value.at(pos) != u'<'))
        return false;
    const bool larger = value.at(pos) == u'>';
    ++pos;
    skipBlanks(value, &pos);
    qint64 number = 0;
    const qsizetype digits = pos;
    while (pos < value.size() && value.at(pos) >= u'0' && value.at(pos) <= u'9') {
        number = number * 10 + (value.at(pos).unicode() - u'0');
        if (number > kMaxSizeNumber)
            return false;
        ++pos;
    }
    if (pos == digits)
        return false;
    skipBlanks(value, &pos);
    const QStringView unit = value.mid(pos);
    qint64 factor = 0;
    if (unit.compare(u"B", Qt::CaseInsensitive) == 0)
        factor = 1;
    else if (unit.compare(u"KB", Qt::CaseInsensitive) == 0)
        factor = 1024;
    else if (unit.compare(u"MB", Qt::CaseInsensitive) == 0)
        factor = 1024 * 1024;
    if (factor == 0)
        return false;
    rule->kind = Kind::Size;
    rule->larger = larger;
    rule->bytes = number * factor;
    return true;
}

bool readHeaderRule(const QString &value, Rule *rule)
{
    if (value.isEmpty() || !isAsciiLetter(value.at(0)))
        return false;
    qsizetype colon = 1;
    while (colon < value.size() && isFieldNameChar(value.at(colon)))
        ++colon;
    if (colon >= value.size() || value.at(colon) != u':')
        return false;
    qsizetype start = colon + 1;
    if (start >= value.size() || value.at(start) != u' ')
        return false;
    while (start < value.size() && value.at(start) == u' ')
        ++start;
    const QString pattern = value.mid(start).trimmed();
    if (pattern.isEmpty() || (looksLikeFromValue(value) && !hasWildcard(pattern)))
        return false;
    rule->kind = Kind::Header;
    rule->field = value.left(colon);
    rule->pattern = pattern;
    return true;
}

} // namespace

Rule read(const QString &value)
{
    Rule rule;
    if (readSizeRule(value, &rule) || readHeaderRule(value, &rule))
        return rule;
    bool wildcard = false;
    for (const QChar c : value) {
        if (!IsAddressCharacter(c))
            return rule;
        wildcard = wildcard || isWildcard(c);
    }
    if (!wildcard || !value.contains(u'@') || value.contains(QLatin1String("=?")))
        return rule;
    if (value.startsWith(QLatin1String("*@"))) {
        bool more = false;
        for (qsizetype i = 2; i < value.size() && !more; ++i)
            more = isWildcard(value.at(i)) || value.at(i) == u'@';
        if (!more) {
            rule.kind = Kind::Domain;
            return rule;
        }
    }
    rule.kind = Kind::AddressPattern;
    rule.pattern = value;
    return rule;
}

qsizetype characterCount(QStringView value)
{
    qsizetype n = 0;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (!(value.at(i).isLowSurrogate() && i > 0 && value.at(i - 1).isHighSurrogate()))
            ++n;
    }
    return n;
}

QString tooLongReason(const QString &value)
{
    if (value.size() <= kMaxLength || characterCount(value) <= kMaxLength)
        return {};
    return QStringLiteral("it is longer than %1 characters").arg(kMaxLength);
}

QString neverMatchesReason(const QString &value)
{
    if (value == u"*@")
        return QStringLiteral("\"*@\" names no domain and would catch every message without an address");
    if (read(value).kind != Kind::Exact)
        return {};
    if (value.contains(u' ') || value.contains(u'<'))
        return {};
    // "Subject:*x*": a header rule needs a blank after the colon.
    const qsizetype colon = value.indexOf(u':');
    if (colon > 0 && hasWildcard(value)) {
        bool name = isAsciiLetter(value.at(0));
        for (qsizetype i = 1; i < colon && name; ++i)
            name = isFieldNameChar(value.at(i));
        if (name)
            return QStringLiteral("a header rule needs a blank after the colon (\"%1: %2\")")
                .arg(value.left(colon), value.mid(colon + 1));
    }
    // A domain alone is no address: "*@" marks a domain rule.
    if (!value.contains(u':') && !value.contains(u'"')) {
        const qsizetype at = value.lastIndexOf(u'@');
        const QString domain = value.mid(at + 1);
        if (at <= 0 && domain.contains(u'.') && !domain.startsWith(u'.') && !domain.endsWith(u'.'))
            return QStringLiteral("a domain alone matches no address; write \"*@%1\" for the domain").arg(domain);
    }
    return {};
}

} // namespace RuleSyntax
