#include "RuleSyntax.h"

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
    if (pattern.isEmpty() || looksLikeFromValue(value))
        return false;
    rule->kind = Kind::Header;
    rule->field = value.left(colon);
    rule->pattern = pattern;
    return true;
}

bool canBeInAddress(QChar c)
{
    if (c.isSpace())
        return false;
    switch (c.unicode()) {
    case '<': case '>': case '(': case ')': case '"': case ',': case ';': case ':': case '\\': case '[': case ']':
        return false;
    default:
        return true;
    }
}

} // namespace

Rule read(const QString &value)
{
    Rule rule;
    if (readHeaderRule(value, &rule))
        return rule;
    bool wildcard = false;
    for (const QChar c : value) {
        if (!canBeInAddress(c))
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

} // namespace RuleSyntax
