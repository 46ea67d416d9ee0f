#pragma once

#include <QString>

// How a stored rule value is read. Values keep every meaning they had: each
// is still compared whole with a message's From value (case ignored), and
// some are in addition read as a pattern or a header rule:
//
// - Header rule: a field name (a letter, then letters, digits or "-"), a
//   colon, at least one space, and a non-empty pattern: "Subject: *free*",
//   "List-Id: *promo*". A value holding an address in angle brackets
//   ("<...@...>") or ending in ";" is a From value (a display name may
//   carry a colon, a group ends in ";") and never a header rule.
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

enum class Kind { Exact, Domain, AddressPattern, Header };

struct Rule {
    Kind kind = Kind::Exact;
    QString field;   // Header: the field name as written
    QString pattern; // Header: the pattern for the field's value; AddressPattern: the value
};

Rule read(const QString &value);

} // namespace RuleSyntax
