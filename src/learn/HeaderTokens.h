#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <utility>
#include <vector>

// The bounds of a header's tokens (see HeaderTokens::of below).
namespace HeaderTokens {
constexpr qsizetype kMaxHeaderBytes = 256 * 1024;
constexpr qsizetype kMaxTokenBytes = 64;
constexpr qsizetype kMaxFieldTagBytes = 24; // a field's own words go under its name cut to this
constexpr qsizetype kMaxTokens = 800;
constexpr qsizetype kRoomAfterFields = 160; // of kMaxTokens: the relay chain's and the checks'
constexpr qsizetype kRoomForChecks = 64; // of those: the checks' alone
} // namespace HeaderTokens

// A message's tokens: each an id (a 64-bit hash of its text) once, in the
// order first seen, with its text kept beside it for the reasons a verdict
// gives.
class TokenList {
public:
    const QList<quint64> &ids() const { return m_ids; }
    qsizetype size() const { return m_ids.size(); }
    // The text of the token at `index` ("from.domain:example.com").
    QByteArray text(qsizetype index) const { return view(index).toByteArray(); }
    // The same, valid while the list lives unchanged.
    QByteArrayView view(qsizetype index) const;
    // The index of `id`, or -1.
    qsizetype indexOf(quint64 id) const;
    // Whether the list holds the token of this text.
    bool contains(QByteArrayView text) const { return indexOf(idOf(text)) >= 0; }

    static quint64 idOf(QByteArrayView text);

    // For the tokenizer: the hash of "tag:", to add many words under one tag
    // without hashing the tag again. Tags are written in lower case (the
    // tokenizer's own names and the walk's lower-cased field names), and
    // kept as written.
    struct Tag {
        QByteArrayView text;
        quint64 hash = 0;
    };
    static constexpr Tag tagOf(QByteArrayView tag)
    {
        quint64 hash = kFnvBasis;
        for (const char c : tag) {
            Q_ASSERT(c == lowered(c));
            hash ^= quint8(c);
            hash *= kFnvPrime;
        }
        hash ^= quint8(':');
        hash *= kFnvPrime;
        return {tag, hash};
    }
    // Adds a text (lower-cased) unless it is in already; finish() once every
    // token is in, before the thread begins another list.
    void add(QByteArrayView tag, QByteArrayView word) { add(tagOf(tag), word); }
    void add(const Tag &tag, QByteArrayView word);
    // The same word under two tags, first then second: hashed in one pass,
    // the two hashes side by side.
    void add(const Tag &first, const Tag &second, QByteArrayView word);
    // Adds stop at `count` tokens (at most kMaxTokens, the default), so that
    // room is kept for what comes later.
    void setLimit(qsizetype count);
    void finish();

    // FNV-1a: quick for short texts, and spreads them well enough that two
    // of a user's tokens sharing an id is rare and costs only a little
    // evidence. The stored counts are keyed by it, so it stays.
    static constexpr quint64 kFnvBasis = 14695981039346656037ULL;
    static constexpr quint64 kFnvPrime = 1099511628211ULL;
    // ASCII lower case: tags and tokens are compared as bytes.
    static constexpr char lowered(char c) { return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c; }

private:
    bool insertId(quint64 id);
    // Keeps the token of `lowered` (the word, lower-cased) under `tag`
    // unless its hash is in already.
    void keep(const Tag &tag, QByteArrayView lowered, quint64 hash);

    QList<quint64> m_ids;
    QList<std::pair<quint32, quint32>> m_spans; // offset and length in m_arena, by the place in m_ids
    QByteArray m_arena;
    qsizetype m_built = 0; // tokens kept and not yet in m_ids: see finish()
    qsizetype m_arenaUsed = 0; // of m_arena, while tokens are added
    qsizetype m_limit = HeaderTokens::kMaxTokens;
    // While tokens are added: the ids seen, open addressing (0 is a free
    // slot); the room is the thread's, reused from message to message, and
    // only the slots the last list took are cleared for the next.
    quint64 *m_seen = nullptr;
    bool m_seenZero = false;
};

// The evidence a message header carries, as tokens tagged by the field they
// came from ("from.domain:example.com", "subject:offer", "rcvd.host:..."),
// plus the structural checks that hold ("check:no-date"). Fields that only
// say what another filter thought (X-Spam-*, X-Virus-*) give none.
//
// Bounded: only the first kMaxHeaderBytes are read, a token is at most
// kMaxTokenBytes long and a message gives at most kMaxTokens, so a hostile
// header costs no more than a large honest one.
namespace HeaderTokens {

// The header may start with a status line ("+OK") or an mbox "From " line,
// its lines may end in CR LF or LF; it ends at the first blank line.
TokenList of(QByteArrayView header);

// Where the header's fields end: the offset of the blank line that ends them,
// or -1 when the bytes hold no blank line.
qsizetype headerEnd(QByteArrayView bytes);

} // namespace HeaderTokens
