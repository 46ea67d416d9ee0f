#include "HeaderTokens.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// Twice the most tokens a message gives, a power of two: the probes stay short.
constexpr std::size_t kSeenSlots = 2048;
static_assert(kSeenSlots >= 2 * HeaderTokens::kMaxTokens);

} // namespace

quint64 TokenList::idOf(QByteArrayView text)
{
    quint64 hash = kFnvBasis;
    for (const char c : text) {
        hash ^= quint8(c);
        hash *= kFnvPrime;
    }
    return hash;
}

bool TokenList::insertId(quint64 id)
{
    if (id == 0) {
        const bool fresh = !m_seenZero;
        m_seenZero = true;
        return fresh;
    }
    // Each thread's own: a message's tokens are gathered on one thread. A
    // list takes at most kMaxTokens slots, and the next list frees just those.
    thread_local std::array<quint64, kSeenSlots> room{};
    thread_local std::array<quint16, HeaderTokens::kMaxTokens> taken;
    thread_local qsizetype takenCount = 0;
    if (!m_seen) {
        for (qsizetype i = 0; i < takenCount; ++i)
            room[taken[i]] = 0;
        takenCount = 0;
        m_seen = room.data();
    }
    // The low bits of FNV-1a are mixed poorly for texts differing at the end.
    std::size_t slot = std::size_t((id ^ (id >> 29)) * 0x9E3779B97F4A7C15ULL >> 53) & (kSeenSlots - 1);
    while (m_seen[slot] != 0) {
        if (m_seen[slot] == id)
            return false;
        slot = (slot + 1) & (kSeenSlots - 1);
    }
    if (takenCount == qsizetype(taken.size()))
        return false; // never: add() stops at kMaxTokens
    m_seen[slot] = id;
    taken[takenCount++] = quint16(slot);
    return true;
}

void TokenList::add(const Tag &tag, QByteArrayView word)
{
    if (word.isEmpty() || m_ids.size() >= m_limit)
        return;
    // The text "tag:word", cut to the bound before the character the bound
    // falls in; hashed from the tag's hash on, and copied only when new.
    const qsizetype room = HeaderTokens::kMaxTokenBytes - tag.text.size() - 1;
    if (room <= 0)
        return;
    qsizetype length = std::min(word.size(), room);
    if (length < word.size()) {
        while (length > 0 && (quint8(word[length]) & 0xc0) == 0x80)
            --length;
        if (length == 0)
            return;
    }
    // Lowered once, into the bytes kept if the token is new.
    char bytes[HeaderTokens::kMaxTokenBytes];
    quint64 hash = tag.hash;
    for (qsizetype i = 0; i < length; ++i) {
        bytes[i] = lowered(word[i]);
        hash ^= quint8(bytes[i]);
        hash *= kFnvPrime;
    }
    if (!insertId(hash))
        return;
    if (m_ids.isEmpty()) {
        // One allocation for a typical header rather than many small ones.
        m_ids.reserve(512);
        m_spans.reserve(512);
        m_arena.reserve(12 * 1024);
    }
    const qsizetype start = m_arena.size();
    const qsizetype full = tag.text.size() + 1 + length;
    m_arena.resize(start + full);
    char *data = m_arena.data() + start;
    for (qsizetype i = 0; i < tag.text.size(); ++i)
        data[i] = lowered(tag.text[i]);
    data[tag.text.size()] = ':';
    std::memcpy(data + tag.text.size() + 1, bytes, size_t(length));
    m_ids.append(hash);
    m_spans.append({quint32(start), quint32(full)});
}

void TokenList::setLimit(qsizetype count)
{
    m_limit = std::min(count, HeaderTokens::kMaxTokens);
}

void TokenList::finish()
{
    m_seen = nullptr;
    m_seenZero = false;
}

QByteArray TokenList::text(qsizetype index) const
{
    const auto [offset, length] = m_spans.at(index);
    return m_arena.mid(offset, length);
}

qsizetype TokenList::indexOf(quint64 id) const
{
    return m_ids.indexOf(id);
}
