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

// The largest number a size rule takes: far above any message, far below
// the overflow of its product.
constexpr qint64 kMaxSizeNumber = 1'000'000'000;

struct SizeReading {
    bool written = false; // the value starts "Size:" (blanks allowed before the colon)
    QString problem; // why it is no size rule; empty when it is one
};

// "Size:", then ">" or "<", a whole number and B, KB or MB. A value written
// so is a size rule or none at all: never a header rule on a field named
// "Size", which no message has.
SizeReading readSizeRule(QStringView value, Rule *rule)
{
    SizeReading out;
    if (!value.startsWith(u"size", Qt::CaseInsensitive))
        return out;
    qsizetype pos = 4;
    skipBlanks(value, &pos);
    if (pos >= value.size() || value.at(pos) != u':')
        return out;
    out.written = true;
    const auto none = [&out](const QString &why) {
        out.problem = why;
        return out;
    };
    ++pos;
    skipBlanks(value, &pos);
    if (pos >= value.size() || (value.at(pos) != u'>' && value.at(pos) != u'<'))
        return none(QStringLiteral("\">\" or \"<\" must come before the number (\"Size: > 10 MB\")"));
    const bool larger = value.at(pos) == u'>';
    ++pos;
    if (pos < value.size() && value.at(pos) == u'=')
        return none(QStringLiteral("\"%1=\" is no comparison; only \">\" (more than) and \"<\" (less than) are")
                        .arg(QChar(larger ? u'>' : u'<')));
    skipBlanks(value, &pos);
    if (pos < value.size() && (value.at(pos) == u'-' || value.at(pos) == u'\u2212'))
        return none(QStringLiteral("a size is never negative"));
    qint64 number = 0;
    bool tooLarge = false;
    const qsizetype digits = pos;
    while (pos < value.size() && value.at(pos) >= u'0' && value.at(pos) <= u'9') {
        tooLarge = tooLarge || number > kMaxSizeNumber;
        if (!tooLarge)
            number = number * 10 + (value.at(pos).unicode() - u'0');
        ++pos;
    }
    if (pos == digits)
        return none(QStringLiteral("a whole number must follow \"%1\"").arg(QChar(larger ? u'>' : u'<')));
    if (pos + 1 < value.size() && (value.at(pos) == u'.' || value.at(pos) == u',') && value.at(pos + 1).isDigit())
        return none(QStringLiteral("the number must be whole (1 MB is 1024 KB, 1 KB 1024 B)"));
    if (tooLarge || number > kMaxSizeNumber)
        return none(QStringLiteral("the number is larger than any message"));
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
        return none(unit.isEmpty()
                        ? QStringLiteral("a unit must follow the number: B, KB or MB")
                        : QStringLiteral("the unit must be B, KB or MB, not \"%1\" (1 KB is 1024 bytes, 1 MB "
                                         "1024 KB)")
                              .arg(unit.toString()));
    rule->kind = Kind::Size;
    rule->larger = larger;
    rule->bytes = number * factor;
    return out;
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
    if (readSizeRule(value, &rule).written || readHeaderRule(value, &rule))
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

QString sizeRuleProblem(const QString &value)
{
    Rule rule;
    return readSizeRule(value, &rule).problem;
}

} // namespace RuleSyntax
