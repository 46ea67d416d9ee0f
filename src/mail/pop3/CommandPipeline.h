#pragma once

#include "PipelineWindow.h"
#include "Pop3Session.h"

#include <QElapsedTimer>
#include <QQueue>
#include <QString>
#include <functional>
#include <optional>

// Sends a run of commands ahead of their replies, for a server that offers
// PIPELINING (RFC 2449), and hands the replies back one at a time in the
// order of the commands. The commands still unanswered stay under a window
// that grows while replies keep up and shrinks when they lag (PipelineWindow),
// so a server that reads slowly is never flooded; more go out as replies are
// taken, and the event loop runs (reading, repainting, Cancel) whenever a
// reply has to be awaited, or at least every few milliseconds while replies
// that are already here are worked through.
class CommandPipeline {
public:
    struct Command {
        QString text;
        qint16 mode; // Pop3Session::kSingleReply, kMultiLineReply or kListingReply
    };
    // The next command to send, or none when all have been sent.
    using Source = std::function<std::optional<Command>()>;

    // Replies already here are worked through for at most this long before
    // the event loop gets a turn.
    static constexpr qint64 kTurnEveryMs = 10;

    CommandPipeline(Pop3Session &session, Source source);

    // The reply to the oldest command not yet answered, into the session's
    // reply(). A Cancel stops the sending; it ends this wait only when
    // raised before the pipeline was stopped (the reply of a command sent is
    // then still owed). Reply, Cancelled (also when this command was never
    // sent because of an earlier Cancel), or Failed (failure()).
    Pop3Session::Outcome next();
    // No further command from the source goes out.
    void stop() { m_stopped = true; }
    bool stopped() const { return m_stopped; }
    // Whether every command of the source has gone out.
    bool sentAll() const { return m_sentAll; }
    // Replies owed: commands sent whose replies have not been taken.
    qsizetype owed() const { return m_inFlight.size(); }
    // Stops sending, then reads and drops every reply still owed, so that the
    // next command's reply is told apart. Reply when all came; Failed when
    // the server stalled or went away. After a Cancel nothing is awaited
    // (Cancelled): replies owed to reads protect nothing, so the cancel grace
    // is not spent on them and the session must close instead.
    Pop3Session::Outcome drain();

private:
    struct InFlight {
        quint64 sequence;
        qsizetype bytes;
        qint64 sentAtMs;
    };
    // Sends from the source while the window has room; false when a send failed.
    bool fill();

    Pop3Session &m_session;
    Source m_source;
    PipelineWindow m_window;
    std::optional<Command> m_held; // taken from the source, waiting for room
    QQueue<InFlight> m_inFlight;
    qsizetype m_inFlightBytes = 0;
    bool m_stopped = false;
    bool m_sendFailed = false;
    bool m_sentAll = false;
    QElapsedTimer m_sinceTurn;
};
