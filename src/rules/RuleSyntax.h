#pragma once

#include <QString>

// How a stored rule value is read. Values keep every meaning they had: each
// is still compared whole with a message's From value (case ignored), and
// some are in addition read as a pattern or a header rule:
//
// - Size rule: "Size:", then ">" or "<", a whole number and a unit, B, KB or
//   MB (any case; 1 KB = 1024 bytes, 1 MB = 1024 KB); blanks are optional
//   between the parts: "Size: > 10 MB", "size:<2kb". It compares the size
//   the server listed for the message; ">" is strictly more, "<" strictly
//   less. A message whose size is not known matches no size rule. A value
//   that starts "Size:" but is no size rule ("Size: >= 10 MB") is exact,
//   never a header rule: no message has a "Size:" field.
// - Header rule: a field name (a letter, then letters, digits or "-"), a
//   colon, at least one space, and a non-empty pattern: "Subject: *free*",
//   "List-Id: *promo*". A value holding an address in angle brackets
//   ("<...@...>") or ending in ";" is a From value (a display name may
//   carry a colon, a group ends in ";") and no header rule, unless its
//   pattern holds "*" or "?": "From: *<win@spam.example>*" is a header rule.
// - Address pattern: a value with "*" or "?" and an "@" that holds nothing an
//   address cannot (no white space, none of < > ( ) " , ; : \ [ ]) and no
//   encoded word ("=?"): "*@*.spam.example", "news-*@shop.example".
// - Domain rule: "*@" and a domain without wildcards, "*@example.com": the
//   exact domain, as the stored value already says.
// - Everything else is exact: an address, or a whole From value (display
//   names with "?" or "*" included).
//
// "*" stands for any run of characters, "?" for one; case is ignored.
namespace RuleSyntax {

enum class Kind { Exact, Domain, AddressPattern, Header, Size };

struct Rule {
    Kind kind = Kind::Exact;
    QString field; // Header: the field name as written
    QString pattern; // Header: the pattern for the field's value; AddressPattern: the value
    bool larger = false; // Size: ">" (else "<")
    qint64 bytes = 0; // Size: the limit in bytes
};

Rule read(const QString &value);

// Why a value written as a size rule (it starts "Size:") is none: the
// comparison, number or unit that is wrong. Empty when it is a size rule or
// is not written as one.
QString sizeRuleProblem(const QString &value);

// The longest rule, in characters (code points): a header line of the
// greatest length mail allows.
inline constexpr qsizetype kMaxLength = 998;

// The length of a value in characters (code points, not UTF-16 units).
qsizetype characterCount(QStringView value);

// "it is longer than 998 characters" when it is; else empty.
QString tooLongReason(const QString &value);

} // namespace RuleSyntax
