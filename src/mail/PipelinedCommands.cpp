#include "PipelinedCommands.h"

PipelinedCommands::PipelinedCommands(Channel &channel, Source source)
    : m_channel(channel)
    , m_source(std::move(source))
{
}

bool PipelinedCommands::fill()
{
    while (!m_stopped) {
        if (!m_held) {
            m_held = m_source();
            if (!m_held) {
                m_sentAll = true;
                return true;
            }
        }
        const qsizetype bytes = m_held->text.size() + 2;
        // One command always goes out, however long: the window bounds what
        // piles up, it must never stall the run.
        if (!m_inFlight.isEmpty() && m_inFlightBytes + bytes > m_window.bytes())
            return true;
        const quint64 id = m_channel.sendAhead(m_held->text, m_held->kind);
        if (id == 0) {
            m_sendFailed = true;
            m_stopped = true;
            return false;
        }
        m_held.reset();
        m_inFlight.enqueue({id, bytes, m_channel.clockMs()});
        m_inFlightBytes += bytes;
    }
    return true;
}

PipelinedCommands::Answer PipelinedCommands::next()
{
    const bool cancelEnds = !m_stopped;
    if (m_channel.cancelRaised())
        m_stopped = true;
    if (!fill() && m_inFlight.isEmpty())
        return Answer::Failed;
    if (m_inFlight.isEmpty()) // stopped before this command went out
        return m_sendFailed ? Answer::Failed : Answer::Cancelled;
    const InFlight oldest = m_inFlight.head();
    const Answer answer = m_channel.awaitAnswer(oldest.id, cancelEnds);
    if (answer == Answer::Arrived) {
        m_inFlight.dequeue();
        m_inFlightBytes -= oldest.bytes;
        m_window.replyArrived(oldest.bytes, oldest.sentAtMs, m_channel.lastAnsweredAtMs());
    }
    return answer;
}

PipelinedCommands::Answer PipelinedCommands::drain()
{
    m_stopped = true;
    if (!m_inFlight.isEmpty() && m_channel.cancelRaised())
        return Answer::Cancelled;
    while (!m_inFlight.isEmpty()) {
        const Answer answer = next();
        if (answer != Answer::Arrived)
            return answer;
    }
    return Answer::Arrived;
}
