#pragma once

#include <QtGlobal>

// How many bytes of commands a pipelining client may have unanswered, grown
// as TCP's slow start grows its window: it starts small, grows by each
// answered command's size while replies come back in about the usual round
// trip (so it doubles every round trip), never past its bound, and halves
// (at most once a round trip, never below its start) when a reply comes
// back late: later than twice the smoothed round trip.
class PipelineWindow {
public:
    // Room for the commands of about 1,300 messages (a TOP is some 12 bytes):
    // a mailbox of that size is read in one round trip. Its replies are
    // hundreds of times as long (headers of 2 to 8 KB), and every one in
    // flight may have to be held when the server sends faster than the
    // rows are made, so the bound keeps that to some 15 MB: still more than
    // a 100 ms link carries in a round trip at 100 MB/s.
    static constexpr qsizetype kInitialBytes = 16 * 1024;
    static constexpr qsizetype kMaxBytes = 32 * 1024;
    // Round trips this much longer than twice the usual one count as late;
    // below it, scheduling noise.
    static constexpr qint64 kLagSlackMs = 20;

    qsizetype bytes() const { return m_bytes; }
    // The reply to a command of `commandBytes` sent at `sentAtMs` arrived at
    // `arrivedAtMs` (one clock for both).
    void replyArrived(qsizetype commandBytes, qint64 sentAtMs, qint64 arrivedAtMs);

private:
    qsizetype m_bytes = kInitialBytes;
    double m_smoothedMs = -1;
    qint64 m_shrunkAtMs = -1;
};
