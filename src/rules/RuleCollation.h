#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Rule values are the same rule when they differ only in the case of their
// letters, in any script: "ÄRGER@x.de" and "ärger@x.de" are one rule. The
// database orders and compares the column by this collation, and the lists
// find their rows by it, so both agree on what "the same value" means.
namespace RuleCollation {

// The collation's name as the schema uses it.
inline constexpr const char *kName = "RULECASE";

// A total order on UTF-8 texts: by their code points after full Unicode case
// folding ("Straße" and "STRASSE" are one value). Needs no allocation: the
// index calls it many times for every lookup.
int compareUtf8(const char *a, int aLength, const char *b, int bLength);

// The full case folding of one code point: up to three code points into
// `out`, their number returned. Code points above U+10FFFF stand for
// themselves.
int foldFull(char32_t cp, char32_t *out);

// Whether two values are the same rule.
bool sameRule(const QString &a, const QString &b);

// A key that two values share exactly when they are the same rule.
QString key(const QString &value);

// A key that two UTF-8 texts share exactly when compareUtf8 finds them
// equal, bytes that are not well-formed UTF-8 included: what the database's
// index finds by a value, a table in memory finds by this key.
QByteArray keyOfUtf8(QByteArrayView utf8);

} // namespace RuleCollation
