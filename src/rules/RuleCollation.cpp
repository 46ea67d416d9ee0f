#include "RuleCollation.h"

#include <QChar>
#include <QList>
#include <QString>

#include <algorithm>
#include <array>
#include <bitset>
#include <vector>

namespace RuleCollation {

namespace {

// Bytes that are not well-formed UTF-8 stand for themselves, above every
// code point, so that any text has one place in the order.
constexpr char32_t kInvalidBase = 0x110000;

char32_t nextCodePoint(const unsigned char *&p, const unsigned char *end)
{
    const unsigned char lead = *p++;
    if (lead < 0x80)
        return lead;
    int length;
    char32_t cp;
    if ((lead & 0xE0) == 0xC0) {
        length = 1;
        cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 2;
        cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 3;
        cp = lead & 0x07;
    } else {
        return kInvalidBase + lead;
    }
    if (end - p < length)
        return kInvalidBase + lead;
    for (int i = 0; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return kInvalidBase + lead;
    }
    for (int i = 0; i < length; ++i)
        cp = (cp << 6) | (p[i] & 0x3F);
    p += length;
    return cp;
}

// The code points whose full folding is more than one code point ("ß" is
// "ss", "ﬁ" is "fi"). Qt folds one to one, but its upper case follows the
// special casing that full folding also follows, so lower(upper(c)), taken
// twice for "ẞ", gives the full folding. They all lie in these ranges.
struct Expansion {
    char32_t cp;
    std::array<char32_t, 3> folded;
    int length;
};

constexpr char32_t kExpandingRanges[][2] = {{0xC0, 0x58F}, {0x1E00, 0x1FFF}, {0xFB00, 0xFB4F}};

const std::vector<Expansion> &expansions()
{
    static const std::vector<Expansion> table = [] {
        std::vector<Expansion> out;
        for (const auto &range : kExpandingRanges) {
            for (char32_t cp = range[0]; cp <= range[1]; ++cp) {
                QString text = QString::fromUcs4(&cp, 1);
                for (int round = 0; round < 2; ++round)
                    text = text.toUpper().toLower();
                const QList<uint> points = text.toUcs4();
                if (points.size() < 2 || points.size() > 3)
                    continue;
                Expansion e{cp, {0, 0, 0}, int(points.size())};
                for (int i = 0; i < e.length; ++i)
                    e.folded[size_t(i)] = QChar::toCaseFolded(char32_t(points.at(i)));
                out.push_back(e);
            }
        }
        return out;
    }();
    return table;
}

// Whether a code point is one of the table's: asked for every letter
// outside ASCII, so it is one bit look-up.
bool expands(char32_t cp)
{
    static const std::bitset<0x10000> marked = [] {
        std::bitset<0x10000> bits;
        for (const Expansion &e : expansions())
            bits.set(e.cp);
        return bits;
    }();
    return cp < 0x10000 && marked.test(cp);
}

} // namespace

int foldFull(char32_t cp, char32_t *out)
{
    if (cp < 0x80) {
        out[0] = (cp >= 'A' && cp <= 'Z') ? cp + ('a' - 'A') : cp;
        return 1;
    }
    if (cp > 0x10FFFF) {
        out[0] = cp;
        return 1;
    }
    if (expands(cp)) {
        const std::vector<Expansion> &table = expansions();
        const auto it = std::lower_bound(table.begin(), table.end(), cp,
                                         [](const Expansion &e, char32_t c) { return e.cp < c; });
        if (it != table.end() && it->cp == cp) {
            std::copy_n(it->folded.begin(), it->length, out);
            return it->length;
        }
    }
    out[0] = QChar::toCaseFolded(cp);
    return 1;
}

namespace {

// The folded code points of a UTF-8 text, one at a time.
class FoldedReader {
public:
    FoldedReader(const char *text, int length)
        : m_p(reinterpret_cast<const unsigned char *>(text))
        , m_end(m_p + length)
    {
    }

    bool atEnd() const { return m_next == m_count && m_p >= m_end; }

    char32_t next()
    {
        if (m_next == m_count) {
            m_count = foldFull(nextCodePoint(m_p, m_end), m_buffer);
            m_next = 0;
        }
        return m_buffer[m_next++];
    }

private:
    const unsigned char *m_p;
    const unsigned char *m_end;
    char32_t m_buffer[3] = {0, 0, 0};
    int m_count = 0;
    int m_next = 0;
};

} // namespace

int compareUtf8(const char *a, int aLength, const char *b, int bLength)
{
    // Texts are compared by their folded code points in turn, which orders
    // every case variant of a value together and is a consistent total
    // order, as an index needs.
    // Most values are ASCII for most of their length: that part needs no
    // folding table.
    int i = 0;
    const int common = aLength < bLength ? aLength : bLength;
    while (i < common) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (ca >= 0x80 || cb >= 0x80)
            break;
        const unsigned char la = (ca >= 'A' && ca <= 'Z') ? ca + ('a' - 'A') : ca;
        const unsigned char lb = (cb >= 'A' && cb <= 'Z') ? cb + ('a' - 'A') : cb;
        if (la != lb)
            return la < lb ? -1 : 1;
        ++i;
    }
    FoldedReader ra(a + i, aLength - i);
    FoldedReader rb(b + i, bLength - i);
    while (!ra.atEnd() && !rb.atEnd()) {
        const char32_t ca = ra.next();
        const char32_t cb = rb.next();
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (!ra.atEnd())
        return 1;
    return rb.atEnd() ? 0 : -1;
}

bool sameRule(const QString &a, const QString &b)
{
    if (a == b)
        return true;
    const QByteArray ua = a.toUtf8();
    const QByteArray ub = b.toUtf8();
    return compareUtf8(ua.constData(), int(ua.size()), ub.constData(), int(ub.size())) == 0;
}

QString key(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char16_t c = value.at(i).unicode();
        if (c < 0x80) {
            out.append(QChar((c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c));
            continue;
        }
        char32_t cp = c;
        if (QChar::isHighSurrogate(c) && i + 1 < value.size() && value.at(i + 1).isLowSurrogate())
            cp = QChar::surrogateToUcs4(c, value.at(++i).unicode());
        char32_t folded[3];
        const int n = foldFull(cp, folded);
        for (int k = 0; k < n; ++k)
            out.append(QChar::fromUcs4(folded[k]));
    }
    return out;
}

QByteArray keyOfUtf8(QByteArrayView utf8)
{
    // ASCII stands for itself; any other folded code point (up to 0x1100FF,
    // invalid bytes included) is a marker byte and three bytes of its value.
    QByteArray out;
    out.reserve(utf8.size());
    const auto *p = reinterpret_cast<const unsigned char *>(utf8.data());
    const auto *end = p + utf8.size();
    while (p < end) {
        if (*p < 0x80) {
            const unsigned char c = *p++;
            out.append(char((c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c));
            continue;
        }
        char32_t folded[3];
        const int n = foldFull(nextCodePoint(p, end), folded);
        for (int k = 0; k < n; ++k) {
            if (folded[k] < 0x80) {
                out.append(char(folded[k]));
                continue;
            }
            const char wide[] = {'\xFF', char(folded[k] >> 16), char(folded[k] >> 8), char(folded[k])};
            out.append(wide, 4);
        }
    }
    return out;
}

} // namespace RuleCollation
