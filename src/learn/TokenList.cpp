#include "HeaderTokens.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// Twice the most tokens a message gives, a power of two: the probes stay short.
constexpr std::size_t kSeenSlots = 2048;
static_assert(kSeenSlots >= 2 * HeaderTokens::kMaxTokens);

// The ids and spans of the list being made, in the thread's room like the
// ids seen: written without QList's checks for every token, and copied into
// the list's own once, by finish().
thread_local std::array<quint64, HeaderTokens::kMaxTokens> t_ids;
thread_local std::array<std::pair<quint32, quint32>, HeaderTokens::kMaxTokens> t_spans;

// TokenList::lowered() by table: no branch per byte in the hashing loops.
constexpr std::array<quint8, 256> kLowered = [] {
    std::array<quint8, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[c] = quint8(TokenList::lowered(char(c)));
    return table;
}();

// How much of `word` a token under a tag of `tagSize` bytes keeps: "tag:word"
// cut to the bound before the character the bound falls in; 0 for nothing.
qsizetype keptLength(qsizetype tagSize, QByteArrayView word)
{
    const qsizetype room = HeaderTokens::kMaxTokenBytes - tagSize - 1;
    if (room <= 0)
        return 0;
    qsizetype length = std::min(word.size(), room);
    if (length < word.size()) {
        while (length > 0 && (quint8(word[length]) & 0xc0) == 0x80)
            --length;
    }
    return length;
}

// FNV-1a over the bytes lowered, which are written to `lowered` as well.
quint64 hashOn(quint64 hash, const char *bytes, qsizetype size, char *lowered)
{
    for (qsizetype i = 0; i < size; ++i) {
        const quint8 c = kLowered[quint8(bytes[i])];
        lowered[i] = char(c);
        hash = (hash ^ c) * TokenList::kFnvPrime;
    }
    return hash;
}

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

inline bool TokenList::insertId(quint64 id)
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
    if (m_ids.size() + m_built >= m_limit)
        return;
    // Hashed from the tag's hash on, lowered once into the bytes kept if
    // the token is new.
    const qsizetype length = keptLength(tag.text.size(), word);
    char lowered[HeaderTokens::kMaxTokenBytes];
    if (length > 0)
        keep(tag, QByteArrayView(lowered, length), hashOn(tag.hash, word.data(), length, lowered));
}

void TokenList::add(const Tag &first, const Tag &second, QByteArrayView word)
{
    const qsizetype a = keptLength(first.text.size(), word);
    const qsizetype b = keptLength(second.text.size(), word);
    const qsizetype both = std::min(a, b);
    char lowered[HeaderTokens::kMaxTokenBytes];
    // Two independent chains of multiplies: the processor runs them at once.
    quint64 hashA = first.hash;
    quint64 hashB = second.hash;
    for (qsizetype i = 0; i < both; ++i) {
        const quint8 c = kLowered[quint8(word[i])];
        lowered[i] = char(c);
        hashA = (hashA ^ c) * kFnvPrime;
        hashB = (hashB ^ c) * kFnvPrime;
    }
    hashA = hashOn(hashA, word.data() + both, a - both, lowered + both);
    hashB = hashOn(hashB, word.data() + both, b - both, lowered + both);
    if (a > 0 && m_ids.size() + m_built < m_limit)
        keep(first, QByteArrayView(lowered, a), hashA);
    if (b > 0 && m_ids.size() + m_built < m_limit)
        keep(second, QByteArrayView(lowered, b), hashB);
}

void TokenList::keep(const Tag &tag, QByteArrayView lowered, quint64 hash)
{
    if (!insertId(hash))
        return;
    const char *tagText = tag.text.data();
    const qsizetype tagSize = tag.text.size();
    const qsizetype start = m_arenaUsed;
    const qsizetype full = tagSize + 1 + lowered.size();
    // Sized ahead and cut to the bytes used by finish(): a resize for every
    // token would cost a call into Qt each.
    if (start + full > m_arena.size())
        m_arena.resize(std::max<qsizetype>({12 * 1024, 2 * m_arena.size(), start + full}));
    m_arenaUsed = start + full;
    char *data = m_arena.data() + start;
    std::memcpy(data, tagText, size_t(tagSize)); // in lower case already: see tagOf()
    data[tagSize] = ':';
    std::memcpy(data + tagSize + 1, lowered.data(), size_t(lowered.size()));
    t_ids[m_built] = hash;
    t_spans[m_built] = {quint32(start), quint32(full)};
    ++m_built;
}

void TokenList::setLimit(qsizetype count)
{
    m_limit = std::min(count, HeaderTokens::kMaxTokens);
}

void TokenList::finish()
{
    if (m_built > 0) {
        const auto moveOut = [this](auto &list, const auto &room) {
            std::remove_reference_t<decltype(list)> built(room.begin(), room.begin() + m_built);
            if (list.isEmpty())
                list = std::move(built);
            else
                list += built;
        };
        moveOut(m_ids, t_ids);
        moveOut(m_spans, t_spans);
        m_built = 0;
    }
    m_arena.truncate(m_arenaUsed);
    m_seen = nullptr;
    m_seenZero = false;
}

QByteArrayView TokenList::view(qsizetype index) const
{
    const auto [offset, length] = m_spans.at(index);
    return QByteArrayView(m_arena).sliced(offset, length);
}

qsizetype TokenList::indexOf(quint64 id) const
{
    return m_ids.indexOf(id);
}
