#pragma once

#include <QString>
#include <string>
#include <vector>

// A rule pattern compiled once: "*" matches any run of characters, "?" one
// character (a whole code point of the folded text), everything else itself,
// case ignored the way the rule lists ignore it (full Unicode case folding:
// "ß" is "ss").
class WildcardPattern {
public:
    explicit WildcardPattern(const QString &pattern);

    // A text prepared for matching: folded, one element per code point.
    static std::u32string fold(QStringView text);

    bool matches(const std::u32string &foldedText) const;
    bool matches(QStringView text) const { return matches(fold(text)); }

private:
    std::vector<std::u32string> m_segments; // the pieces between the stars
    bool m_hasStar = false;
    bool m_anchoredStart = true; // no star before the first piece
    bool m_anchoredEnd = true; // no star after the last piece
};
