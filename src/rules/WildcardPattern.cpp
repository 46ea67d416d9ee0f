#include "WildcardPattern.h"

#include "RuleCollation.h"

namespace {

constexpr char32_t kAnyOne = U'?';

bool equalAt(const std::u32string &text, size_t pos, const std::u32string &segment)
{
    for (size_t i = 0; i < segment.size(); ++i) {
        if (segment[i] != kAnyOne && segment[i] != text[pos + i])
            return false;
    }
    return true;
}

// The first place at or after `from` where the segment matches.
size_t findSegment(const std::u32string &text, const std::u32string &segment, size_t from)
{
    if (segment.find(kAnyOne) == std::u32string::npos)
        return text.find(segment, from);
    for (size_t pos = from; pos + segment.size() <= text.size(); ++pos) {
        if (equalAt(text, pos, segment))
            return pos;
    }
    return std::u32string::npos;
}

} // namespace

std::u32string WildcardPattern::fold(QStringView text)
{
    std::u32string out;
    out.reserve(size_t(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            ++i;
        }
        if (c < 0x80) {
            out.push_back((c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c);
        } else {
            char32_t folded[3];
            out.append(folded, size_t(RuleCollation::foldFull(c, folded)));
        }
    }
    return out;
}

WildcardPattern::WildcardPattern(const QString &pattern)
{
    const std::u32string folded = fold(pattern);
    m_hasStar = folded.find(U'*') != std::u32string::npos;
    m_anchoredStart = folded.empty() || folded.front() != U'*';
    m_anchoredEnd = folded.empty() || folded.back() != U'*';
    std::u32string piece;
    for (const char32_t c : folded) {
        if (c != U'*') {
            piece.push_back(c);
        } else if (!piece.empty()) {
            m_segments.push_back(piece);
            piece.clear();
        }
    }
    if (!piece.empty() || m_segments.empty())
        m_segments.push_back(piece);
}

bool WildcardPattern::matches(const std::u32string &text) const
{
    if (!m_hasStar) {
        const std::u32string &whole = m_segments.front();
        return text.size() == whole.size() && equalAt(text, 0, whole);
    }
    size_t first = 0;
    size_t last = m_segments.size();
    size_t pos = 0;
    if (m_anchoredStart) {
        const std::u32string &head = m_segments.front();
        if (text.size() < head.size() || !equalAt(text, 0, head))
            return false;
        pos = head.size();
        first = 1;
    }
    if (m_anchoredEnd && last > first)
        --last;
    // Each middle piece at its first place: taking the earliest never rules
    // out a match that a later place would allow.
    for (size_t i = first; i < last; ++i) {
        const size_t found = findSegment(text, m_segments[i], pos);
        if (found == std::u32string::npos)
            return false;
        pos = found + m_segments[i].size();
    }
    if (m_anchoredEnd && last < m_segments.size()) {
        const std::u32string &tail = m_segments.back();
        return text.size() - pos >= tail.size() && equalAt(text, text.size() - tail.size(), tail);
    }
    return true;
}
