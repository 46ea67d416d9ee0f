#include "Pop3Framer.h"

#include <cstring>
#include <utility>

namespace {
const QByteArray kCrLf = QByteArrayLiteral("\r\n");
const QByteArray kTerminator = QByteArrayLiteral("\r\n.\r\n");
// Enough of a reply's tail to find a terminator split across arrivals.
constexpr qsizetype kTailKept = 4;
const QString kOutOfStep = QStringLiteral("The server's replies no longer match the commands sent, so the connection "
                                          "was closed without letting the server act on this session.");

// Where the first CR LF "." CR LF at or after `from` starts, or -1. Each LF
// is found by memchr and the bytes around it checked: far cheaper per byte
// than a general search for the five bytes, and a header is mostly bytes
// that are no LF.
qsizetype findTerminator(const QByteArray &buffer, qsizetype from)
{
    if (buffer.size() - from < 5)
        return -1;
    const char *const begin = buffer.constData();
    const char *const end = begin + buffer.size();
    const char *p = begin + from + 1; // the terminator's first LF
    while (end - p >= 4) {
        p = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p - 3)));
        if (!p)
            return -1;
        if (p[-1] == '\r' && p[1] == '.' && p[2] == '\r' && p[3] == '\n')
            return p - 1 - begin;
        ++p;
    }
    return -1;
}

bool isStatusReply(const QByteArray &reply)
{
    if (reply.size() >= 3 && qstrnicmp(reply.constData(), "+OK", 3) == 0)
        return true;
    if (reply.size() >= 4 && qstrnicmp(reply.constData(), "-ERR", 4) == 0)
        return true;
    // A SASL continuation: "+", then a space or the line's end.
    return reply.startsWith("+ ") || reply.startsWith("+\r\n");
}
} // namespace

void Pop3Framer::clear()
{
    m_pending.clear();
    resetReply();
}

void Pop3Framer::resetReply()
{
    m_scanned = 0;
    m_lineEnd = -1;
    m_replyBytes = 0;
    m_overflow = false;
    m_kept.clear();
}

void Pop3Framer::fail(const QString &text, bool outOfStep)
{
    m_break = Break{text, outOfStep};
    clear();
}

// Replies are taken from `pos` on and the buffer is shortened once at the
// end: removing each reply from the front would move the rest of a large
// pipelined batch again for every reply.
std::optional<Pop3Framer::Break> Pop3Framer::frame(QByteArray &buffer, const Sink &sink)
{
    m_break.reset();
    qsizetype pos = 0;
    while (!m_pending.isEmpty()) {
        std::optional<QByteArray> reply = nextReply(buffer, pos);
        if (!reply)
            return std::exchange(m_break, std::nullopt); // the helpers left the buffer as it must be
        const Expected expected = m_pending.takeFirst();
        resetReply();
        if (!isStatusReply(*reply)) {
            // The rest of an earlier reply (a header line "." a server did not
            // stuff, say).
            fail(kOutOfStep, true);
            return std::exchange(m_break, std::nullopt);
        }
        sink(expected, std::move(*reply));
    }
    compact(buffer, pos);
    return std::nullopt;
}

std::optional<QByteArray> Pop3Framer::nextReply(QByteArray &buffer, qsizetype &pos)
{
    if (m_overflow)
        return overflowing(buffer, pos);
    if (!statusLineFound(buffer, pos))
        return std::nullopt;
    // A single-line reply, and a multi-line one refused with "-ERR", end at
    // their first CR LF; the rest belongs to the next reply.
    if (m_pending.first().mode == kSingleReply || buffer.at(pos) == '-')
        return cut(buffer, pos, pos + m_lineEnd + kCrLf.size());
    // The terminator's CR LF may be the status line's own (an empty list).
    const qsizetype from = qMax(m_lineEnd, m_scanned - (kTerminator.size() - 1));
    const qsizetype at = findTerminator(buffer, pos + from);
    if (at >= 0)
        return cut(buffer, pos, at + kTerminator.size());
    unfinished(buffer, pos);
    return std::nullopt;
}

QByteArray Pop3Framer::cut(QByteArray &buffer, qsizetype &pos, qsizetype end)
{
    // A reply that is all the buffer holds, as an awaited reply mostly is,
    // is handed over as it is, not copied; the next arrival starts a new
    // buffer. One that shares the buffer, or would keep much more memory
    // than its own, is copied out.
    if (pos == 0 && end == buffer.size() && buffer.capacity() <= 2 * end) {
        pos = 0;
        return std::exchange(buffer, QByteArray());
    }
    QByteArray reply(buffer.constData() + pos, end - pos);
    pos = end;
    return reply;
}

void Pop3Framer::compact(QByteArray &buffer, qsizetype &pos)
{
    if (pos == 0)
        return;
    buffer.remove(0, pos);
    pos = 0;
}

// Only the tail carried over and the new bytes are here.
std::optional<QByteArray> Pop3Framer::overflowing(QByteArray &buffer, qsizetype &pos)
{
    const qsizetype held = buffer.size() - pos;
    const qsizetype at = findTerminator(buffer, pos);
    if (at >= 0) {
        pos = at + kTerminator.size();
        return m_kept + kTerminator;
    }
    m_replyBytes += held - m_scanned;
    if (m_replyBytes > m_limits.replyBytes) {
        fail(tooLarge());
        return std::nullopt;
    }
    // Keeps its capacity: the next arrival lands in place.
    buffer.remove(0, buffer.size() - qMin(kTailKept, held));
    m_scanned = buffer.size();
    pos = 0;
    return std::nullopt;
}

bool Pop3Framer::statusLineFound(QByteArray &buffer, qsizetype &pos)
{
    if (m_lineEnd >= 0)
        return true;
    const qsizetype held = buffer.size() - pos;
    // The search resumes one byte back: a CR may have ended the last arrival.
    const qsizetype eol = buffer.indexOf(kCrLf, pos + qMax<qsizetype>(0, m_scanned - 1));
    if (eol < 0) {
        m_scanned = held;
        if (held > kStatusLineCap)
            fail(kOutOfStep, true);
        else
            compact(buffer, pos);
        return false;
    }
    m_lineEnd = eol - pos;
    m_scanned = m_lineEnd;
    return true;
}

void Pop3Framer::unfinished(QByteArray &buffer, qsizetype &pos)
{
    const qsizetype held = buffer.size() - pos;
    m_scanned = held;
    if (m_pending.first().mode == kListingReply) {
        // A listing is identity: it is read whole or not used at all.
        if (held > m_limits.listingBytes)
            fail(QStringLiteral("The server's message listing is larger than %1 MB, so the connection was closed.")
                     .arg(m_limits.listingBytes / (1024 * 1024)));
        else
            compact(buffer, pos);
        return;
    }
    if (held > m_limits.replyBytes) {
        fail(tooLarge());
        return;
    }
    if (held <= kReplyCap) {
        compact(buffer, pos);
        return;
    }
    // A reply without end in sight: keep its first part and drop what
    // follows until its end arrives, so memory stays bounded; past the limit
    // the server is given up on, so time does too.
    m_overflow = true;
    m_kept = buffer.mid(pos, kReplyCap);
    m_replyBytes = held;
    buffer.remove(0, buffer.size() - kTailKept);
    m_scanned = buffer.size();
    pos = 0;
}

QString Pop3Framer::tooLarge() const
{
    const qint64 limit = m_limits.replyBytes;
    const QByteArray &command = m_pending.first().command;
    const QString size = limit >= 1024 * 1024 ? QStringLiteral("%1 MB").arg(limit / (1024 * 1024))
                                              : QStringLiteral("%1 bytes").arg(limit);
    return QStringLiteral("The server's reply to %1 went on past %2, so the connection was closed.")
        .arg(command.isEmpty() ? QStringLiteral("a command") : QString::fromLatin1(command), size);
}
