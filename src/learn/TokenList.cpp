#include "HeaderTokens.h"

#include <algorithm>
#include <numeric>

quint64 TokenList::idOf(QByteArrayView text)
{
    // FNV-1a: quick for short texts, and spreads them well enough that two
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
    const qsizetype start = m_arena.size();
    m_arena.append(tag).append(':').append(word.first(std::min(word.size(), HeaderTokens::kMaxTokenBytes)));
    qsizetype length = m_arena.size() - start;
    if (length > HeaderTokens::kMaxTokenBytes) {
        // Cut before the character the bound falls in, not inside it.
        length = HeaderTokens::kMaxTokenBytes;
        while (length > 0 && (quint8(m_arena[start + length]) & 0xc0) == 0x80)
            --length;
    }
    m_arena.truncate(start + length);
    char *data = m_arena.data() + start;
    for (qsizetype i = 0; i < length; ++i) {
        if (data[i] >= 'A' && data[i] <= 'Z')
            data[i] = char(data[i] + ('a' - 'A'));
    }
    m_ids.append(idOf(QByteArrayView(data, length)));
    m_spans.append({quint32(start), quint32(length)});
}

void TokenList::finish()
{
    QList<qsizetype> order(m_ids.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) { return m_ids[a] < m_ids[b]; });
    QList<quint64> ids;
    QList<std::pair<quint32, quint32>> spans;
    ids.reserve(order.size());
    spans.reserve(order.size());
    for (const qsizetype i : order) {
        if (!ids.isEmpty() && ids.back() == m_ids[i])
            continue;
        ids.append(m_ids[i]);
        spans.append(m_spans[i]);
    }
    m_ids = std::move(ids);
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
