#include "CommandPipeline.h"

CommandPipeline::CommandPipeline(Pop3Session &session, Source source)
    : m_session(session)
    , m_engine(*this, [source = std::move(source)]() -> std::optional<PipelinedCommands::Command> {
        const std::optional<Command> command = source();
        if (!command)
            return std::nullopt;
        return PipelinedCommands::Command{command->text.toUtf8(), command->mode};
    })
{
}

Pop3Session::Outcome CommandPipeline::outcomeOf(PipelinedCommands::Answer answer)
{
    switch (answer) {
    case PipelinedCommands::Answer::Arrived:
        return Pop3Session::Outcome::Reply;
    case PipelinedCommands::Answer::Cancelled:
        return Pop3Session::Outcome::Cancelled;
    case PipelinedCommands::Answer::Failed:
        break;
    }
    return Pop3Session::Outcome::Failed;
}

quint64 CommandPipeline::sendAhead(const QByteArray &command, int kind)
{
    return m_session.sendAhead(QString::fromUtf8(command), qint16(kind));
}

PipelinedCommands::Answer CommandPipeline::awaitAnswer(quint64 id, bool cancelEnds)
{
    switch (m_session.awaitAhead(id, cancelEnds)) {
    case Pop3Session::Outcome::Reply:
        return PipelinedCommands::Answer::Arrived;
    case Pop3Session::Outcome::Cancelled:
        return PipelinedCommands::Answer::Cancelled;
    case Pop3Session::Outcome::Failed:
        break;
    }
    return PipelinedCommands::Answer::Failed;
}
