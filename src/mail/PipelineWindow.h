#pragma once

#include <QtGlobal>

// How many bytes of commands a pipelining client may have unanswered, grown
// as TCP's slow start grows its window: it starts small, grows by each
// answered command's size while replies come back in about the usual round
// trip (so it doubles every round trip), never past its bound, and halves
// (at most once a round trip, never below its start) when a reply comes
// back late: later than twice the smoothed round trip. Its bound follows the
// shortest round trip seen: a window only needs to cover what one round trip
// of the link carries, and every reply in flight may have to be held when
// the server sends faster than the rows are made.
class PipelineWindow {
public:
    // Room for the commands of about 1,300 messages (a TOP is some 12 bytes).
    // Their replies are hundreds of times as long (headers of 2 to 8 KB):
    // some 7 MB, more than a link of a few ms carries in a round trip.
    static constexpr qsizetype kInitialBytes = 16 * 1024;
    // Over a round trip of 100 ms or more: the commands of some 5,400
    // messages (up to 30 MB of replies), about two round trips' worth of
    // rows at some 25,000 rows a second. A shorter round trip bounds it in
    // proportion, never below the start.
    static constexpr qsizetype kMaxBytes = 64 * 1024;
    static constexpr qint64 kMaxFromRoundTripMs = 100;
    // Round trips this much longer than twice the usual one count as late;
    // below it, scheduling noise.
    static constexpr qint64 kLagSlackMs = 20;

    qsizetype bytes() const { return m_bytes; }
    // What it may grow to over the shortest round trip seen so far.
    qsizetype bound() const;
    // The reply to a command of `commandBytes` sent at `sentAtMs` arrived at
    // `arrivedAtMs` (one clock for both).
    void replyArrived(qsizetype commandBytes, qint64 sentAtMs, qint64 arrivedAtMs);

private:
    qsizetype m_bytes = kInitialBytes;
    double m_smoothedMs = -1;
    qint64 m_shortestMs = -1;
    qint64 m_shrunkAtMs = -1;
};
