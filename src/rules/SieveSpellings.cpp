#include "SieveSpellings.h"

#include "RuleCollation.h"
#include "WildcardPattern.h"

#include <QHash>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace SieveSpellings {

namespace {

// A character outside ASCII whose folding is more than one character.
struct Expansion {
    std::u32string folded;
    char32_t source;
};

// Which characters fold to what, turned around: built once, from the same
// folding the rule lists use. The choices of a folded character hold it
// first; ASCII, which most rules are, is looked up without hashing.
struct FoldTable {
    QHash<char32_t, std::vector<char32_t>> choices; // folded -> itself, then the others folding to it
    QHash<char32_t, std::vector<Expansion>> expansions; // by the first folded character
    std::vector<Expansion> allExpansions;
    std::array<std::vector<char32_t>, 128> asciiChoices;
    std::array<std::vector<Expansion>, 128> asciiExpansions;

    FoldTable()
    {
        for (char32_t cp = 0x80; cp <= 0x10FFFF; ++cp) {
            if (cp >= 0xD800 && cp <= 0xDFFF)
                continue;
            char32_t out[3];
            const int n = RuleCollation::foldFull(cp, out);
            if (n == 1 && out[0] == cp)
                continue;
            if (n == 1) {
                std::vector<char32_t> &c = choices[out[0]];
                if (c.empty())
                    c.push_back(out[0]);
                c.push_back(cp);
            } else {
                const Expansion e{std::u32string(out, size_t(n)), cp};
                expansions[out[0]].push_back(e);
                allExpansions.push_back(e);
            }
        }
        for (char32_t cp = 0; cp < 128; ++cp) {
            asciiChoices[cp] = choices.value(cp, {cp});
            asciiExpansions[cp] = expansions.value(cp);
        }
    }
};

const FoldTable &table()
{
    static const FoldTable t;
    return t;
}

QString fromCodePoint(char32_t cp)
{
    return QString::fromUcs4(&cp, 1);
}

void appendCodePoint(QString &out, char32_t cp)
{
    if (QChar::requiresSurrogates(cp)) {
        out.append(QChar(QChar::highSurrogate(cp)));
        out.append(QChar(QChar::lowSurrogate(cp)));
    } else {
        out.append(QChar(char16_t(cp)));
    }
}

bool isLatin1Letter(char32_t cp)
{
    return cp >= 0x80 && cp <= 0xFF;
}

// The characters that stand for exactly `folded` (it first); `own` holds
// them when no table entry does.
const std::vector<char32_t> &singleChoices(char32_t folded, std::vector<char32_t> &own)
{
    const FoldTable &t = table();
    if (folded < 128)
        return t.asciiChoices[folded];
    if (const auto it = t.choices.constFind(folded); it != t.choices.cend())
        return *it;
    own.assign(1, folded);
    return own;
}

const std::vector<Expansion> &expansionsAt(char32_t folded)
{
    static const std::vector<Expansion> none;
    const FoldTable &t = table();
    if (folded < 128)
        return t.asciiExpansions[folded];
    const auto it = t.expansions.constFind(folded);
    return it == t.expansions.cend() ? none : *it;
}

bool startsWith(const std::u32string &text, size_t pos, const std::u32string &prefix)
{
    return text.size() - pos >= prefix.size() && text.compare(pos, prefix.size(), prefix) == 0;
}

} // namespace

namespace {

// Whether an ASCII text has no other spelling: no letter another character
// folds to ("k", "s") and no pair a ligature folds to ("ff", "fi", "fl").
// Most rules are such texts, and they need no table.
bool onlySpelling(QStringView text)
{
    char16_t previous = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode() | (c.isUpper() ? 0x20 : 0);
        if (c.unicode() >= 0x80 || u == u'k' || u == u's'
            || (previous == u'f' && (u == u'f' || u == u'i' || u == u'l')))
            return false;
        previous = u;
    }
    return true;
}

// Whether an ASCII pattern meets no character whose folding holds ASCII,
// whole or in part at a star: none of the letters those foldings hold.
bool plainPattern(QStringView pattern)
{
    for (const QChar c : pattern) {
        const char16_t u = c.unicode() | (c.isUpper() ? 0x20 : 0);
        if (c.unicode() >= 0x80 || QStringView(u"afhijklnstwy").contains(QChar(u)))
            return false;
    }
    return true;
}

} // namespace

std::optional<QStringList> spellings(QStringView text, int limit)
{
    if (onlySpelling(text))
        return QStringList{text.toString().toLower()};
    const std::u32string folded = WildcardPattern::fold(text);
    const size_t n = folded.size();
    // How many spellings each rest of the text has, from the end.
    std::vector<qint64> count(n + 1, 0);
    count[n] = 1;
    for (size_t i = n; i-- > 0;) {
        std::vector<char32_t> own;
        qint64 c = qint64(singleChoices(folded[i], own).size()) * count[i + 1];
        for (const Expansion &e : expansionsAt(folded[i])) {
            if (startsWith(folded, i, e.folded))
                c += count[i + e.folded.size()];
        }
        count[i] = std::min<qint64>(c, qint64(limit) + 1);
    }
    if (count[0] > limit)
        return std::nullopt;
    // Each spelling grown from the front.
    std::vector<std::pair<size_t, QString>> partial{{0, QString()}};
    QStringList out;
    while (!partial.empty()) {
        auto [pos, prefix] = std::move(partial.back());
        partial.pop_back();
        if (pos == n) {
            out.append(prefix);
            continue;
        }
        std::vector<char32_t> own;
        for (const char32_t cp : singleChoices(folded[pos], own)) {
            QString grown = prefix;
            appendCodePoint(grown, cp);
            partial.emplace_back(pos + 1, std::move(grown));
        }
        for (const Expansion &e : expansionsAt(folded[pos])) {
            if (startsWith(folded, pos, e.folded))
                partial.emplace_back(pos + e.folded.size(), prefix + fromCodePoint(e.source));
        }
    }
    std::reverse(out.begin(), out.end());
    return out;
}

namespace {

} // namespace

QString regexCharacter(char32_t cp)
{
    // Letters in both cases, so that the expression needs no case-blind
    // comparator (whose idea of case would be the server's locale's).
    QString out;
    if ((cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z')) {
        const char16_t both[] = {u'[', char16_t(cp | 0x20), char16_t(cp & ~0x20u), u']'};
        return QString(reinterpret_cast<const QChar *>(both), 4);
    }
    if (cp < 0x80 && QStringView(u"\\.[]()*+?{}|^$").contains(QChar(char16_t(cp))))
        out.append(u'\\');
    appendCodePoint(out, cp);
    return out;
}

namespace {

QString escapeRegex(char32_t cp)
{
    return regexCharacter(cp);
}

// The expression of one run of literal characters between stars.
class SegmentRegex {
public:
    SegmentRegex(const std::u32string &literal, bool starBefore, bool starAfter, qsizetype maxLength)
        : m_literal(literal)
        , m_starBefore(starBefore)
        , m_starAfter(starAfter)
        , m_maxLength(maxLength)
    {
    }

    QString build() { return at(0, true); }
    bool needed() const { return m_needed; }
    bool tooLong() const { return m_tooLong; }
    char32_t latin1() const { return m_latin1; }

private:
    void use(char32_t source, bool extra)
    {
        m_needed = m_needed || extra || source >= 0x80;
        if (isLatin1Letter(source) && m_latin1 == 0)
            m_latin1 = source;
    }

    QString at(size_t i, bool first)
    {
        // Runs of expansions ("ﬀ" for "ff" again and again) branch at every
        // place: the length is checked as it grows, not at the end.
        if (m_tooLong)
            return {};
        QStringList alternatives;
        if (first && m_starBefore)
            addTailsOfExpansions(&alternatives);
        if (i == m_literal.size())
            return alternatives.isEmpty() ? QString() : QStringLiteral("(|") + alternatives.join(u'|') + u')';
        std::vector<char32_t> own;
        const std::vector<char32_t> &singles = singleChoices(m_literal[i], own);
        QStringList one;
        for (const char32_t cp : singles) {
            use(cp, cp != singles.front());
            one.append(escapeRegex(cp));
        }
        const QString rest = at(i + 1, false);
        alternatives.prepend((one.size() == 1 ? one.front() : u'(' + one.join(u'|') + u')') + rest);
        for (const Expansion &e : expansionsAt(m_literal[i])) {
            if (startsWith(m_literal, i, e.folded)) {
                use(e.source, true);
                alternatives.append(escapeRegex(e.source) + at(i + e.folded.size(), false));
            } else if (m_starAfter && startsWith(e.folded, 0, m_literal.substr(i))) {
                use(e.source, true); // the rest of its folding falls to the star
                alternatives.append(escapeRegex(e.source));
            }
        }
        QString out = alternatives.size() == 1 ? alternatives.front() : u'(' + alternatives.join(u'|') + u')';
        m_tooLong = m_tooLong || out.size() > m_maxLength;
        return out;
    }

    // An expansion whose folding ends with the start of the run (or holds
    // the whole run) when a star stands before it.
    void addTailsOfExpansions(QStringList *alternatives)
    {
        const size_t n = m_literal.size();
        for (const Expansion &e : table().allExpansions) {
            const std::u32string &w = e.folded;
            for (size_t skip = 1; skip < w.size(); ++skip) {
                const size_t take = std::min(w.size() - skip, n);
                if (w.compare(skip, take, m_literal, 0, take) != 0)
                    continue;
                if (take == n && skip + take < w.size() && !m_starAfter)
                    continue; // the run ends inside it, and no star takes the rest
                if (take < n && skip + take < w.size())
                    continue;
                use(e.source, true);
                // The rest of the run after it is matched from `take` on:
                // this alternative stands in for position 0.
                m_tails.emplace_back(take, e.source);
            }
        }
        for (const auto &[take, source] : m_tails) {
            const QString rest = take == n ? QString() : at(take, false);
            alternatives->append(escapeRegex(source) + rest);
        }
        m_tails.clear();
    }

    std::u32string m_literal;
    bool m_starBefore;
    bool m_starAfter;
    qsizetype m_maxLength;
    bool m_tooLong = false;
    bool m_needed = false;
    char32_t m_latin1 = 0;
    std::vector<std::pair<size_t, char32_t>> m_tails;
};

} // namespace

PatternRegex patternRegex(QStringView pattern, qsizetype maxLength)
{
    PatternRegex out;
    if (!pattern.contains(u'?') && plainPattern(pattern))
        return out; // the pattern as it is finds exactly what it finds here
    const std::u32string folded = WildcardPattern::fold(pattern);
    if (folded.find(U'?') != std::u32string::npos) {
        out.reason = QStringLiteral("\"?\" stands for one character here, for one byte on the server");
        return out;
    }
    std::vector<std::u32string> runs;
    std::u32string run;
    for (const char32_t c : folded) {
        if (c != U'*') {
            run.push_back(c);
        } else if (!run.empty()) {
            runs.push_back(std::exchange(run, {}));
        }
    }
    if (!run.empty())
        runs.push_back(run);
    const bool leadingStar = !folded.empty() && folded.front() == U'*';
    const bool trailingStar = !folded.empty() && folded.back() == U'*';
    QString expression = QStringLiteral("^");
    if (leadingStar)
        expression += QStringLiteral(".*");
    for (size_t k = 0; k < runs.size(); ++k) {
        SegmentRegex segment(runs[k], k > 0 || leadingStar, k + 1 < runs.size() || trailingStar, maxLength);
        expression += segment.build();
        if (segment.latin1() != 0) {
            out.reason = QStringLiteral("a header that is not UTF-8 is read here as Latin-1, where \"%1\" can stand "
                                        "in it; the server reads such a byte as an unknown character")
                             .arg(fromCodePoint(segment.latin1()));
            return out;
        }
        out.needed = out.needed || segment.needed();
        if (k + 1 < runs.size() || trailingStar)
            expression += QStringLiteral(".*");
        if (segment.tooLong() || expression.size() > maxLength) {
            out.reason = QStringLiteral("its other spellings under case folding are too many to list");
            return out;
        }
    }
    out.expression = expression + u'$';
    return out;
}

QChar latin1Character(QStringView text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x80 && c.unicode() <= 0xFF)
            return c;
    }
    return {};
}

} // namespace SieveSpellings
