#pragma once

#include "PipelineWindow.h"

#include <QByteArray>
#include <QQueue>
#include <functional>
#include <optional>

// Sends a run of commands ahead of their answers and hands the answers back
// one at a time, in the order of the commands, for any protocol whose
// server answers in order (POP3 with PIPELINING, IMAP). The commands still
// unanswered stay under a window that grows while answers keep up and
// shrinks when they lag (PipelineWindow), so a server that reads slowly is
// never flooded; more go out as answers are taken. The event loop runs only
// where the channel waits for an answer that has not come.
class PipelinedCommands {
public:
    enum class Answer { Arrived, Cancelled, Failed };

    // What a protocol's session gives the engine.
    class Channel {
    public:
        // Writes a command without waiting; an id for its answer, 0 when it
        // could not be written.
        virtual quint64 sendAhead(const QByteArray &command, int kind) = 0;
        // Waits for the answer to `id` (a Cancel ends the wait only with
        // `cancelEnds`; otherwise it bounds it) and makes it the current one.
        virtual Answer awaitAnswer(quint64 id, bool cancelEnds) = 0;
        virtual bool cancelRaised() const = 0;
        // One clock for when commands went out and answers were framed.
        virtual qint64 clockMs() const = 0;
        // When the answer awaitAnswer() last took was framed.
        virtual qint64 lastAnsweredAtMs() const = 0;

    protected:
        ~Channel() = default;
    };

    struct Command {
        QByteArray text; // without its line end
        int kind = 0; // how the protocol frames its answer
    };
    // The next command to send, or none when all have been sent.
    using Source = std::function<std::optional<Command>()>;

    PipelinedCommands(Channel &channel, Source source);

    // The answer to the oldest command not yet answered. A Cancel stops the
    // sending; it ends this wait only when raised before the pipeline was
    // stopped (the answer of a command sent is then still owed). Arrived,
    // Cancelled (also when this command was never sent because of an
    // earlier Cancel or stop), or Failed.
    Answer next();
    // No further command from the source goes out.
    void stop() { m_stopped = true; }
    bool stopped() const { return m_stopped; }
    // Whether every command of the source has gone out.
    bool sentAll() const { return m_sentAll; }
    // Answers owed: commands sent whose answers have not been taken.
    qsizetype owed() const { return m_inFlight.size(); }
    // Stops sending, then takes and drops every answer still owed, so that
    // the next command's answer is told apart. Arrived when all came; Failed
    // when the server stalled or went away. After a Cancel nothing is
    // awaited (Cancelled): answers owed to reads protect nothing, so the
    // cancel grace is not spent on them and the session must close instead.
    Answer drain();

private:
    struct InFlight {
        quint64 id;
        qsizetype bytes;
        qint64 sentAtMs;
    };
    // Sends from the source while the window has room; false when a send failed.
    bool fill();

    Channel &m_channel;
    Source m_source;
    PipelineWindow m_window;
    std::optional<Command> m_held; // taken from the source, waiting for room
    QQueue<InFlight> m_inFlight;
    qsizetype m_inFlightBytes = 0;
    bool m_stopped = false;
    bool m_sendFailed = false;
    bool m_sentAll = false;
};
