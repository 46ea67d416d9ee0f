#include "RuleCheck.h"

#include "RuleSyntax.h"
#include "SenderAddress.h"

#include <QList>

namespace RuleCheck {

namespace {

// No message is larger: IMAP gives sizes as 32-bit numbers, and no server
// keeps a message of gigabytes.
constexpr qint64 kLargestMessage = qint64(4) << 30;

QString comparedWhole()
{
    return QStringLiteral("it is compared whole with the From value");
}

QString neverMatches(const QString &why)
{
    return why + QStringLiteral(": it never matches");
}

bool isWildcard(QChar c)
{
    return c == u'*' || c == u'?';
}

bool hasWildcard(QStringView text)
{
    for (const QChar c : text) {
        if (isWildcard(c))
            return true;
    }
    return false;
}

bool isAddressText(QStringView text)
{
    for (const QChar c : text) {
        if (!IsAddressCharacter(c))
            return false;
    }
    return true;
}

// Where a field name ("X-Spam-Flag") at the start of the value ends at its
// colon; -1 when the value does not start so. One letter is no field name
// but a drive ("C:\\mail").
qsizetype fieldNameColon(const QString &value)
{
    const auto letter = [](QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
    if (value.isEmpty() || !letter(value.front()))
        return -1;
    qsizetype i = 1;
    while (i < value.size() && (letter(value.at(i)) || value.at(i).isDigit() || value.at(i) == u'-'))
        ++i;
    return i > 1 && i < value.size() && value.at(i) == u':' ? i : -1;
}

// Why the domain part of an address rule fits no address's domain; empty
// when it can.
QString domainProblem(QStringView domain)
{
    if (domain.endsWith(u'.'))
        return QStringLiteral("its domain ends in \".\", as no address's domain does");
    if (domain.startsWith(u'.'))
        return QStringLiteral("its domain starts with \".\", as no address's domain does");
    if (domain.contains(u".."))
        return QStringLiteral("its domain holds \"..\", as no address's domain does");
    for (const QStringView label : domain.split(u'.')) {
        if (label.startsWith(u"xn--", Qt::CaseInsensitive) && hasWildcard(label))
            return QStringLiteral("domains are compared in their Unicode spelling, so the \"xn--\" label \"%1\" "
                                  "with a wildcard fits none")
                .arg(label.toString());
    }
    return {};
}

QString sizeWarning(const RuleSyntax::Rule &rule)
{
    if (!rule.larger && rule.bytes == 0)
        return neverMatches(QStringLiteral("no message is smaller than 0 bytes"));
    if (rule.bytes < kLargestMessage)
        return {};
    if (rule.larger)
        return neverMatches(QStringLiteral("no message is larger than %1 MB").arg(kLargestMessage >> 20));
    return QStringLiteral("every message is smaller than %1 MB: it catches every message whose size is known")
        .arg(kLargestMessage >> 20);
}

// "X-Spam-Flag:YES", "Subject:": a header rule lacking the blank after the
// colon, or its pattern. A From value ("Re:Offer <o@shop.example>", a group
// ending in ";") is left alone.
QString headerWarning(const QString &value)
{
    const qsizetype colon = fieldNameColon(value);
    if (colon < 0 || value.contains(u'<') || value.endsWith(u';'))
        return {};
    const QString rest = value.mid(colon + 1);
    if (rest.trimmed().isEmpty())
        return QStringLiteral("no header rule (nothing to match follows the colon): ") + comparedWhole();
    if (rest.front() != u' ')
        return QStringLiteral("no header rule (it needs a blank after the colon: \"%1: %2\"): %3")
            .arg(value.left(colon), rest.trimmed(), comparedWhole());
    return {};
}

// A value of address characters only that is read as exact: an address,
// or a name without one ("MAILER-DAEMON"), or what only looks like a rule.
QString addressWarning(const QString &value)
{
    const qsizetype at = value.indexOf(u'@');
    if (hasWildcard(value)) {
        // A "?" alone is more often a name's punctuation ("Who?").
        if (at < 0 && value.contains(u'*'))
            return QStringLiteral("no pattern (a pattern needs an \"@\", as in \"%1@*\"): %2")
                .arg(value, comparedWhole());
        return {};
    }
    const QString domain = value.mid(at + 1);
    if (at <= 0 && domain.contains(u'.') && domainProblem(domain).isEmpty())
        return QStringLiteral("a domain alone matches no address; write \"*@%1\" for the domain").arg(domain);
    if (value == u"@")
        return QStringLiteral("it names neither a sender nor a domain: ") + comparedWhole();
    if (at < 0)
        return {};
    if (at == value.size() - 1)
        return neverMatches(QStringLiteral("an address needs a domain after the \"@\""));
    const QString problem = domainProblem(QStringView(value).mid(value.lastIndexOf(u'@') + 1));
    return problem.isEmpty() ? QString() : neverMatches(problem);
}

// "*@ spam.example": a pattern or domain rule but for its blanks.
QString spacedWarning(const QString &value)
{
    if (value.contains(u'<'))
        return {};
    QString joined = value;
    joined.remove(u' ').remove(u'\t');
    const RuleSyntax::Kind kind = RuleSyntax::read(joined).kind;
    if (joined == value || (kind != RuleSyntax::Kind::Domain && kind != RuleSyntax::Kind::AddressPattern))
        return {};
    return QStringLiteral("no pattern (it holds a blank, as no address does): %1; write \"%2\"")
        .arg(comparedWhole(), joined);
}

} // namespace

QString warning(const QString &value)
{
    if (value.isEmpty())
        return {};
    if (const QString problem = RuleSyntax::sizeRuleProblem(value); !problem.isEmpty())
        return QStringLiteral("no size rule (%1): %2").arg(problem, comparedWhole());
    const RuleSyntax::Rule rule = RuleSyntax::read(value);
    switch (rule.kind) {
    case RuleSyntax::Kind::Size:
        return sizeWarning(rule);
    case RuleSyntax::Kind::Header:
        return {};
    case RuleSyntax::Kind::Domain: {
        if (value.size() == 2)
            return QStringLiteral("it names no domain: it catches every message whose From holds no address");
        const QString problem = domainProblem(QStringView(value).mid(2));
        return problem.isEmpty() ? QString() : neverMatches(problem);
    }
    case RuleSyntax::Kind::AddressPattern: {
        const QString problem = domainProblem(QStringView(value).mid(value.lastIndexOf(u'@') + 1));
        return problem.isEmpty() ? QString() : neverMatches(problem);
    }
    case RuleSyntax::Kind::Exact:
        break;
    }
    // From values are trimmed.
    if (value.front() == u' ' || value.back() == u' ')
        return neverMatches(QStringLiteral("it starts or ends with a blank, as no From value does"));
    if (QString header = headerWarning(value); !header.isEmpty())
        return header;
    return isAddressText(value) ? addressWarning(value) : spacedWarning(value);
}

} // namespace RuleCheck
