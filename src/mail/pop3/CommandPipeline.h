#pragma once

#include "PipelinedCommands.h"
#include "Pop3Session.h"

#include <QString>
#include <functional>
#include <optional>

// POP3's use of the pipelining engine (PipelinedCommands), for a server that
// offers PIPELINING (RFC 2449): commands go out ahead of their replies, and
// the replies come back one at a time, in the order of the commands, into
// the session's reply().
class CommandPipeline : private PipelinedCommands::Channel {
public:
    struct Command {
        QString text;
        qint16 mode; // Pop3Session::kSingleReply, kMultiLineReply or kListingReply
    };
    // The next command to send, or none when all have been sent.
    using Source = std::function<std::optional<Command>()>;

    CommandPipeline(Pop3Session &session, Source source);

    // As PipelinedCommands::next(), drain() and the rest, in the session's terms.
    Pop3Session::Outcome next() { return outcomeOf(m_engine.next()); }
    void stop() { m_engine.stop(); }
    bool stopped() const { return m_engine.stopped(); }
    bool sentAll() const { return m_engine.sentAll(); }
    qsizetype owed() const { return m_engine.owed(); }
    Pop3Session::Outcome drain() { return outcomeOf(m_engine.drain()); }

private:
    static Pop3Session::Outcome outcomeOf(PipelinedCommands::Answer answer);
    quint64 sendAhead(const QByteArray &command, int kind) override;
    PipelinedCommands::Answer awaitAnswer(quint64 id, bool cancelEnds) override;
    bool cancelRaised() const override { return m_session.cancelRaised(); }
    qint64 clockMs() const override { return m_session.clockMs(); }
    qint64 lastAnsweredAtMs() const override { return m_session.lastFramedAtMs(); }

    Pop3Session &m_session;
    PipelinedCommands m_engine;
};
