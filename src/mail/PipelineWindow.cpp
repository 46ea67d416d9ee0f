#include "PipelineWindow.h"

#include <algorithm>

qsizetype PipelineWindow::bound() const
{
    if (m_shortestMs < 0 || m_shortestMs >= kMaxFromRoundTripMs)
        return kMaxBytes;
    return std::max(kInitialBytes, qsizetype(kMaxBytes * m_shortestMs / kMaxFromRoundTripMs));
}

void PipelineWindow::replyArrived(qsizetype commandBytes, qint64 sentAtMs, qint64 arrivedAtMs)
{
    const qint64 sample = std::max<qint64>(0, arrivedAtMs - sentAtMs);
    const double roundTrip = double(sample);
    m_shortestMs = m_shortestMs < 0 ? sample : std::min(m_shortestMs, sample);
    const bool late = m_smoothedMs >= 0 && roundTrip > 2 * m_smoothedMs + double(kLagSlackMs);
    // Smoothed as TCP does (1/8 of each new sample): a server that has
    // become slower for good is soon its usual self again.
    m_smoothedMs = m_smoothedMs < 0 ? roundTrip : m_smoothedMs + (roundTrip - m_smoothedMs) / 8;
    // Replies to commands sent before the last halving belong to the round
    // trip that halved it: they neither grow it nor halve it again.
    if (sentAtMs < m_shrunkAtMs)
        return;
    if (late) {
        m_bytes = std::max(kInitialBytes, m_bytes / 2);
        m_shrunkAtMs = arrivedAtMs;
    } else {
        m_bytes = std::min(bound(), m_bytes + commandBytes);
    }
}
