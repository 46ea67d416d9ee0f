#include "HeaderTokens.h"

#include <algorithm>
#include <cstring>
#include <vector>

quint64 TokenList::idOf(QByteArrayView text)
{
    // FNV-1a (add() computes the same as it copies): quick for short texts, and spreads them well enough that two
    // of a user's tokens sharing an id is rare and costs only a little evidence.
    quint64 hash = 14695981039346656037ULL;
    for (const char c : text) {
        hash ^= quint8(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

void TokenList::add(QByteArrayView tag, QByteArrayView word)
{
    if (word.isEmpty() || m_ids.size() >= HeaderTokens::kMaxTokens)
        return;
    if (m_ids.isEmpty()) {
        // One allocation for a typical header rather than many small ones.
        m_ids.reserve(512);
        m_spans.reserve(512);
        m_arena.reserve(16 * 1024);
    }
    // The text "tag:word", cut to the bound before the character the bound
    // falls in, then lower-cased (ASCII) and hashed in one pass.
    const qsizetype wordBytes = std::min(word.size(), HeaderTokens::kMaxTokenBytes);
    const qsizetype full = tag.size() + 1 + wordBytes;
    const qsizetype start = m_arena.size();
    m_arena.resize(start + full);
    char *data = m_arena.data() + start;
    std::memcpy(data, tag.data(), size_t(tag.size()));
    data[tag.size()] = ':';
    std::memcpy(data + tag.size() + 1, word.data(), size_t(wordBytes));
    qsizetype length = std::min(full, HeaderTokens::kMaxTokenBytes);
    while (length < full && length > 0 && (quint8(data[length]) & 0xc0) == 0x80)
        --length;
    m_arena.resize(start + length);
    quint64 hash = 14695981039346656037ULL;
    for (qsizetype i = 0; i < length; ++i) {
        char c = data[i];
        if (c >= 'A' && c <= 'Z') {
            c = char(c + ('a' - 'A'));
            data[i] = c;
        }
        hash ^= quint8(c);
        hash *= 1099511628211ULL;
    }
    m_ids.append(hash);
    m_spans.append({quint32(start), quint32(length)});
}

void TokenList::finish()
{
    // Sorted as (id, place) pairs: comparing in place is far quicker than
    // through an index, and a repeat keeps its first text.
    const qsizetype n = m_ids.size();
    std::vector<std::pair<quint64, quint32>> order(n);
    const quint64 *ids = m_ids.constData();
    for (qsizetype i = 0; i < n; ++i)
        order[i] = {ids[i], quint32(i)};
    std::sort(order.begin(), order.end());
    QList<quint64> unique;
    QList<std::pair<quint32, quint32>> spans;
    unique.reserve(n);
    spans.reserve(n);
    for (const auto &[id, place] : order) {
        if (unique.isEmpty() || unique.back() != id) {
            unique.append(id);
            spans.append(m_spans.at(place));
        }
    }
    m_ids = std::move(unique);
    m_spans = std::move(spans);
}

QByteArray TokenList::text(qsizetype index) const
{
    const auto [offset, length] = m_spans.at(index);
    return m_arena.mid(offset, length);
}

qsizetype TokenList::indexOf(quint64 id) const
{
    const auto it = std::lower_bound(m_ids.begin(), m_ids.end(), id);
    return it != m_ids.end() && *it == id ? it - m_ids.begin() : -1;
}
