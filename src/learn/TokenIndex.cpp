#include "TokenIndex.h"

#include <algorithm>
#include <bit>

void TokenIndex::start(qsizetype count)
{
    // At most half full: probes stay short, a free place is near.
    const std::size_t slots = std::bit_ceil(std::size_t(std::max<qsizetype>(count, 8)) * 2);
    m_table.assign(slots, Entry{});
    m_shift = 64 - std::countr_zero(slots);
    m_zero = {};
    m_hasZero = false;
}

void TokenIndex::put(const Entry &entry)
{
    if (entry.id == 0) {
        m_zero = entry;
        m_hasZero = true;
        return;
    }
    const std::size_t mask = m_table.size() - 1;
    std::size_t slot = slotOf(entry.id);
    while (m_table[slot].id != 0 && m_table[slot].id != entry.id)
        slot = (slot + 1) & mask;
    m_table[slot] = entry;
}
