// ImapIdle, and the waits of ImapSession it needs.
#include "ImapIdle.h"

#include "CancelFlag.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>

bool ImapSession::awaitGoAhead(quint64 id)
{
    return id != 0 && awaitContinuation(id).has_value();
}

bool ImapSession::writeLine(const QByteArray &line)
{
    return m_connection->isOpen() && !m_connection->isBroken() && m_connection->write(line + "\r\n");
}

ImapSession::QuietEnd ImapSession::waitQuietly(const std::function<bool()> &met, int quietMs)
{
    const WaitLimits usual{m_options.inactivityLimitMs, m_options.cancelGraceMs, m_options.cancelGraceBytes};
    WaitLimits quiet = usual;
    quiet.inactivityLimitMs = qMax(1, quietMs);
    m_connection->watch(m_cancel, quiet);
    QElapsedTimer clock;
    clock.start();
    const Outcome outcome = waitFor(met, MailConnection::CancelMode::Ends);
    m_connection->watch(m_cancel, usual);
    switch (outcome) {
    case Outcome::Completed:
        return QuietEnd::Met;
    case Outcome::Cancelled:
        return QuietEnd::Cancelled;
    case Outcome::Failed:
        break;
    }
    // Silence for the whole span leaves the connection as it was. The
    // span's timer is a coarse one: it may end up to 5% early.
    const qint64 span = quiet.inactivityLimitMs;
    const bool silent = m_connection->isOpen() && !m_connection->isBroken() && clock.elapsed() + span / 20 + 2 >= span;
    return silent ? QuietEnd::Quiet : QuietEnd::Failed;
}

ImapIdle::ImapIdle(ImapSession &session, IdleIntervals intervals)
    : m_session(session)
    , m_intervals(intervals)
{
}

namespace {

ImapSession::DataHandler newsHandler(ImapIdle::News &news)
{
    return [&news](const ImapResponse &r) {
        if (r.keyword == "EXISTS")
            news.exists = r.number;
        else if (r.keyword == "EXPUNGE")
            ++news.expunged;
    };
}

} // namespace

ImapSession::Outcome ImapIdle::wait(News &news)
{
    news = {};
    m_idled = !m_refused && m_session.hasCapability("IDLE");
    return m_idled ? idle(news) : poll(news);
}

ImapSession::Outcome ImapIdle::idle(News &news)
{
    const quint64 id = m_session.send("IDLE", newsHandler(news));
    if (!m_session.awaitGoAhead(id)) {
        const ImapSession::Outcome outcome = m_session.await(id);
        m_session.dropHandlers();
        if (outcome == ImapSession::Outcome::Completed) {
            // Refused after all: the server's word counts, not its list.
            m_refused = true;
            return poll(news);
        }
        return outcome;
    }
    // Keep-alive chatter ("* OK still here") restarts the silence bound, so
    // the renewal is also checked at each arrival.
    const QDeadlineTimer renewal(qMin(m_intervals.renewMs, m_intervals.checkMs));
    // A server may also end the IDLE itself, with its tagged completion.
    const auto ended = [this, id] { return m_session.completed(id); };
    const auto met = [&news, &renewal, &ended] { return news.any() || renewal.hasExpired() || ended(); };
    ImapSession::QuietEnd end = ImapSession::QuietEnd::Quiet;
    do {
        end = m_session.waitQuietly(met, int(qMax<qint64>(1, renewal.remainingTime())));
    } while (end == ImapSession::QuietEnd::Quiet && !met());
    if (end == ImapSession::QuietEnd::Failed) {
        m_session.dropHandlers();
        return ImapSession::Outcome::Failed;
    }
    // Ended with DONE also after a Cancel, so that LOGOUT can follow; an
    // IDLE the server ended takes no DONE (it would be a command, refused).
    const bool cancelled = end == ImapSession::QuietEnd::Cancelled;
    if (ended()) {
        const ImapSession::Outcome outcome = m_session.await(id);
        m_session.dropHandlers();
        return outcome == ImapSession::Outcome::Completed && cancelled ? ImapSession::Outcome::Cancelled : outcome;
    }
    if (!m_session.writeLine("DONE")) {
        m_session.dropHandlers();
        return ImapSession::Outcome::Failed;
    }
    const ImapSession::Outcome outcome =
        m_session.await(id, cancelled ? MailConnection::CancelMode::Bounded : MailConnection::CancelMode::Ends);
    m_session.dropHandlers();
    if (outcome == ImapSession::Outcome::Completed && cancelled)
        return ImapSession::Outcome::Cancelled;
    return outcome;
}

ImapSession::Outcome ImapIdle::poll(News &news)
{
    // Whatever the server says meanwhile, the NOOP goes out on time.
    const QDeadlineTimer due(qMin(m_intervals.pollMs, m_intervals.checkMs));
    const auto met = [&due] { return due.hasExpired(); };
    ImapSession::QuietEnd end = ImapSession::QuietEnd::Quiet;
    do {
        end = m_session.waitQuietly(met, int(qMax<qint64>(1, due.remainingTime())));
    } while (end == ImapSession::QuietEnd::Quiet && !met());
    if (end == ImapSession::QuietEnd::Cancelled)
        return ImapSession::Outcome::Cancelled;
    if (end == ImapSession::QuietEnd::Failed)
        return ImapSession::Outcome::Failed;
    const ImapSession::Outcome outcome = m_session.run("NOOP", newsHandler(news));
    m_session.dropHandlers();
    return outcome;
}
