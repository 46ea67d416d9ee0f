#pragma once

#include <QtGlobal>
#include <algorithm>
#include <vector>

// The tokens that speak in a verdict, with their probabilities and weights,
// laid out for looking up: one flat table, open addressing, 24 bytes an entry. A
// message's few hundred tokens are looked up together, their places fetched
// from memory at once rather than one miss after another, which is most of
// what a verdict on a large model costs.
class TokenIndex {
public:
    struct Entry {
        quint64 id = 0; // 0: a free place (the id 0 is kept apart)
        double probability = -1; // below 0: the token does not speak, only its weight counts
        qint32 weight = 0;
    };

    // `forEach` calls its argument with (id, probability, weight) for every token.
    template <typename ForEach>
    void build(qsizetype count, ForEach &&forEach)
    {
        start(count);
        forEach([this](quint64 id, double probability, qint32 weight) { put({id, probability, weight}); });
    }

    // Calls found(place, entry) for each of `ids` that has counts; place is
    // its index in `ids`.
    template <typename Found>
    void lookup(const quint64 *ids, qsizetype count, Found &&found) const;

private:
    void start(qsizetype count);
    void put(const Entry &entry);
    std::size_t slotOf(quint64 id) const { return std::size_t((id ^ (id >> 31)) * 0x9E3779B97F4A7C15ULL >> m_shift); }

    std::vector<Entry> m_table;
    Entry m_zero; // the token whose id is 0
    bool m_hasZero = false;
    int m_shift = 64;
};

template <typename Found>
void TokenIndex::lookup(const quint64 *ids, qsizetype count, Found &&found) const
{
    if (m_table.empty())
        return;
    const std::size_t mask = m_table.size() - 1;
    constexpr qsizetype kAhead = 24; // places asked for before they are read
    for (qsizetype i = 0; i < std::min(count, kAhead); ++i)
        __builtin_prefetch(&m_table[slotOf(ids[i])]);
    for (qsizetype i = 0; i < count; ++i) {
        if (i + kAhead < count)
            __builtin_prefetch(&m_table[slotOf(ids[i + kAhead])]);
        const quint64 id = ids[i];
        if (id == 0) {
            if (m_hasZero)
                found(i, m_zero);
            continue;
        }
        for (std::size_t slot = slotOf(id);; slot = (slot + 1) & mask) {
            const Entry &entry = m_table[slot];
            if (entry.id == id) {
                found(i, entry);
                break;
            }
            if (entry.id == 0)
                break;
        }
    }
}
