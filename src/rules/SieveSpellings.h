#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>
#include <optional>

// The rule lists ignore case by full Unicode case folding ("ß" is "ss", the
// Kelvin sign is "k"); a Sieve server offers "i;ascii-casemap", which ignores
// the case of ASCII letters only. What a rule finds on the server has to be
// spelt out: every other text that folds to the same one.
namespace SieveSpellings {

// Every text whose full case folding equals that of `text`, ASCII letters
// in lower case only (the server's comparator ignores their case). Nullopt
// when there are more than `limit` of them.
std::optional<QStringList> spellings(QStringView text, int limit);

// One character in a POSIX extended regular expression compared octet by
// octet: a letter as "[xX]", a special character escaped.
QString regexCharacter(char32_t cp);

// A wildcard pattern ("*" only) as a POSIX extended regular expression for
// "i;octet": a decoded header value matches it exactly when its
// full case folding matches the pattern.
struct PatternRegex {
    QString expression; // empty when `reason` says why there is none
    QString reason;
    // Whether the pattern itself, under "i;ascii-casemap", would miss some
    // of those values: only then is the expression needed.
    bool needed = false;
};
PatternRegex patternRegex(QStringView pattern, qsizetype maxLength);

// The first character of `text` that a header which is not UTF-8 (read here
// as Latin-1, on the server as unknown characters) could stand for, or a
// null char. Such texts cannot be found alike by both.
QChar latin1Character(QStringView text);

} // namespace SieveSpellings
