#include "CommandPipeline.h"

CommandPipeline::CommandPipeline(Pop3Session &session, Source source)
    : m_session(session)
    , m_source(std::move(source))
{
    m_sinceTurn.start();
}

bool CommandPipeline::fill()
{
    while (!m_stopped) {
        if (!m_held) {
            m_held = m_source();
            if (!m_held) {
                m_sentAll = true;
                return true;
            }
        }
        const qsizetype bytes = m_held->text.toUtf8().size() + 2;
        // One command always goes out, however long: the window bounds what
        // piles up, it must never stall the run.
        if (!m_inFlight.isEmpty() && m_inFlightBytes + bytes > m_window.bytes())
            return true;
        const quint64 sequence = m_session.sendAhead(m_held->text, m_held->mode);
        if (sequence == 0) {
            m_sendFailed = true;
            m_stopped = true;
            return false;
        }
        m_held.reset();
        m_inFlight.enqueue({sequence, bytes, m_session.clockMs()});
        m_inFlightBytes += bytes;
    }
    return true;
}

Pop3Session::Outcome CommandPipeline::next()
{
    const bool cancelEnds = !m_stopped;
    if (m_session.cancelRaised())
        m_stopped = true;
    if (!fill() && m_inFlight.isEmpty())
        return Pop3Session::Outcome::Failed;
    if (m_inFlight.isEmpty()) // stopped before this command went out
        return m_sendFailed ? Pop3Session::Outcome::Failed : Pop3Session::Outcome::Cancelled;

    const InFlight oldest = m_inFlight.head();
    if (m_session.replyArrived(oldest.sequence)) {
        if (m_sinceTurn.elapsed() >= kTurnEveryMs) {
            m_session.yieldToEventLoop();
            m_sinceTurn.restart();
        }
    }
    const bool waited = !m_session.replyArrived(oldest.sequence);
    const Pop3Session::Outcome outcome = m_session.awaitAhead(oldest.sequence, cancelEnds);
    if (waited)
        m_sinceTurn.restart();
    if (outcome == Pop3Session::Outcome::Reply) {
        m_inFlight.dequeue();
        m_inFlightBytes -= oldest.bytes;
        m_window.replyArrived(oldest.bytes, oldest.sentAtMs, m_session.lastFramedAtMs());
    }
    return outcome;
}

Pop3Session::Outcome CommandPipeline::drain()
{
    m_stopped = true;
    if (!m_inFlight.isEmpty() && m_session.cancelRaised())
        return Pop3Session::Outcome::Cancelled;
    while (!m_inFlight.isEmpty()) {
        const Pop3Session::Outcome outcome = next();
        if (outcome != Pop3Session::Outcome::Reply)
            return outcome;
    }
    return Pop3Session::Outcome::Reply;
}
