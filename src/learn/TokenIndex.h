#pragma once

#include <QtGlobal>
#include <algorithm>
#include <vector>

// The tokens that speak in a verdict, with their probabilities and weights,
// laid out for looking up: one flat table, open addressing, 32 bytes an entry
// (two to a cache line, none across two). A
// message's few hundred tokens are looked up together, their places fetched
// from memory at once rather than one miss after another, which is most of
// what a verdict on a large model costs.
class TokenIndex {
public:
    // A token's probability of spam f as the two logarithms a verdict sums,
    // log f and log(1 - f): taken once per token here rather than twice per
    // token in every verdict, where they were most of its cost.
    struct Logs {
        double ofSpam = 0;
        double ofGood = 0;
        // log(f / (1 - f)): its size orders tokens by strength, its sign by side.
        double odds() const { return ofSpam - ofGood; }
    };
    struct alignas(32) Entry {
        quint64 id = 0; // 0: a free place (the id 0 is kept apart)
        Logs logs;
        qint32 weight = 0;
        // How often it was seen on the side it leans to, which a reason
        // tells; 0 when it does not speak and only its weight counts.
        quint32 seen = 0;
    };

    static_assert(sizeof(Entry) == 32);

    // `forEach` calls its argument with an Entry for every token.
    template <typename ForEach>
    void build(qsizetype count, ForEach &&forEach)
    {
        start(count);
        forEach([this](const Entry &entry) { put(entry); });
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
