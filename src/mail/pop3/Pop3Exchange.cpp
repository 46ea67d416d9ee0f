// Pop3Session's exchange: commands out, replies framed and handed to the
// command that awaits them, one at a time or sent ahead (pipelining).
#include "Pop3Session.h"

#include "CancelFlag.h"
#include "Pop3Parsers.h"

#include <algorithm>

namespace {
const QByteArray kCrLf = QByteArrayLiteral("\r\n");
const QString kLost = QStringLiteral("The connection to the server has been lost.");
} // namespace

Pop3Session::Outcome Pop3Session::QueryCapabilities()
{
    m_capabilities.clear();
    const Outcome outcome = sendAndWait(QStringLiteral("CAPA"), kMultiLineReply, MailConnection::CancelMode::Ends);
    if (outcome != Outcome::Reply)
        return outcome;
    for (const QString &line : MultiLineBody(serverReply()).value_or(QStringList{})) {
        if (!line.trimmed().isEmpty())
            m_capabilities.append(line.trimmed());
    }
    return outcome;
}

bool Pop3Session::hasCapability(const QString &name) const
{
    for (const QString &line : m_capabilities) {
        if (line.section(QLatin1Char(' '), 0, 0).compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

Pop3Session::Outcome Pop3Session::QuitServer()
{
    // After a Cancel the flag is still up; QUIT must still go out and be
    // answered, within what is left of the cancel grace.
    return sendAndWait(QStringLiteral("QUIT"), kSingleReply, MailConnection::CancelMode::Bounded);
}

Pop3Session::Outcome Pop3Session::command(const QString &text, qint16 mode, bool cancelEnds)
{
    if (!cancelEnds && m_cancel.isSet())
        return m_lastOutcome = Outcome::Cancelled; // not sent: nothing owed
    return sendAndWait(text, mode, cancelEnds ? MailConnection::CancelMode::Ends : MailConnection::CancelMode::Bounded);
}

Pop3Session::Outcome Pop3Session::lost(const QString &text)
{
    setFailure(text, QStringLiteral("Error"));
    return m_lastOutcome = Outcome::Failed;
}

Pop3Session::Outcome Pop3Session::sendAndWait(const QString &text, qint16 mode, MailConnection::CancelMode cancel)
{
    if (cancel == MailConnection::CancelMode::Ends && m_cancel.isSet())
        return m_lastOutcome = Outcome::Cancelled;
    if (m_connection->isBroken())
        return m_lastOutcome = Outcome::Failed;
    if (!m_connection->isOpen())
        return lost(kLost);
    m_reply.clear();
    m_awaited = expectReply(mode, false, text);
    // User names and passwords go out as UTF-8, as in AUTH PLAIN.
    if (!m_connection->write(text.toUtf8() + kCrLf))
        return lost(kLost);
    // Out now rather than at the event loop's next look: one exchange per
    // round trip is all an unpipelined session gets.
    m_connection->flush();
    // The reply may already be waiting in the buffer (a server that answers
    // ahead of time, or several replies that arrived together).
    frameReplies();
    return m_lastOutcome = wait(m_awaited, cancel);
}

quint64 Pop3Session::sendAhead(const QString &text, qint16 mode)
{
    if (m_connection->isBroken()) {
        m_lastOutcome = Outcome::Failed;
        return 0;
    }
    if (!m_connection->write(text.toUtf8() + kCrLf)) {
        lost(kLost);
        return 0;
    }
    return expectReply(mode, true, text);
}

Pop3Session::Outcome Pop3Session::awaitAhead(quint64 sequence, bool cancelEnds)
{
    if (!replyArrived(sequence) && !m_connection->isOpen())
        m_connection->readArrived(); // what came before the connection closed
    if (!replyArrived(sequence) && m_connection->isBroken())
        return m_lastOutcome = Outcome::Failed;
    if (!replyArrived(sequence)) {
        // A closed connection sends no further reply; waiting for one would
        // only run into the time limit.
        if (!m_connection->isOpen())
            return lost(QStringLiteral("The server closed the connection."));
        const Outcome outcome =
            wait(sequence, cancelEnds ? MailConnection::CancelMode::Ends : MailConnection::CancelMode::Bounded);
        if (outcome != Outcome::Reply)
            return m_lastOutcome = outcome;
    }
    const auto found = std::find_if(m_ahead.begin(), m_ahead.end(),
                                    [sequence](const auto &ahead) { return ahead.first == sequence; });
    if (found == m_ahead.end())
        return lost(QStringLiteral("The reply to a command was lost."));
    m_reply = std::move(found->second.reply);
    m_lastFramedAtMs = found->second.framedAtMs;
    if (found == m_ahead.begin())
        m_ahead.pop_front();
    else
        m_ahead.erase(found);
    return m_lastOutcome = Outcome::Reply;
}

bool Pop3Session::cancelRaised() const
{
    return m_cancel.isSet();
}

Pop3Session::Outcome Pop3Session::wait(quint64 sequence, MailConnection::CancelMode cancel)
{
    if (m_lastFramed >= sequence)
        return Outcome::Reply;
    // Before the connection's checks: what is shown now may raise Cancel.
    Q_EMIT aboutToWait();
    switch (m_connection->wait([this, sequence] { return m_lastFramed >= sequence; }, cancel)) {
    case MailConnection::WaitEnd::Met:
        return Outcome::Reply;
    case MailConnection::WaitEnd::Cancelled:
        return Outcome::Cancelled;
    case MailConnection::WaitEnd::Failed:
        break;
    }
    const MailResult why = m_connection->failure();
    setFailure(why.text, why.title);
    return Outcome::Failed;
}

quint64 Pop3Session::expectReply(qint16 mode, bool keep, const QString &command)
{
    const quint64 sequence = m_nextSequence++;
    // Only a command's keyword is kept to name it: a SASL response line is
    // itself a credential. Each keyword is made once: a fetch names a
    // command for every message.
    static const QList<QByteArray> keywords = {"TOP",  "CAPA", "UIDL", "LIST", "STAT", "USER", "PASS", "AUTH",
                                               "STLS", "DELE", "QUIT", "RETR", "NOOP", "RSET", "APOP"};
    const qsizetype space = command.indexOf(QLatin1Char(' '));
    const QStringView word = QStringView(command).first(space < 0 ? command.size() : space);
    const auto known = std::find_if(keywords.cbegin(), keywords.cend(), [word](const QByteArray &keyword) {
        return word.compare(QLatin1StringView(keyword), Qt::CaseInsensitive) == 0;
    });
    m_framer.expect({sequence, mode, keep, known == keywords.cend() ? QByteArray() : *known});
    return sequence;
}

void Pop3Session::frameReplies()
{
    if (m_connection->isBroken())
        return;
    const std::optional<Pop3Framer::Break> broke =
        m_framer.frame(m_connection->received(), [this](const Pop3Framer::Expected &expected, QByteArray reply) {
            handOver(expected, std::move(reply));
        });
    if (!broke)
        return;
    m_outOfStep = m_outOfStep || broke->outOfStep;
    m_connection->breakOff(broke->text);
}

void Pop3Session::handOver(const Pop3Framer::Expected &expected, QByteArray reply)
{
    m_lastFramed = expected.sequence;
    // Replies to commands whose wait was abandoned are dropped here.
    if (expected.keep)
        m_ahead.push_back({expected.sequence, {std::move(reply), clockMs()}});
    else if (expected.sequence == m_awaited)
        m_reply = std::move(reply);
}

void Pop3Session::connectionBroken()
{
    const MailResult why = m_connection->failure();
    setFailure(why.text, why.title);
    m_framer.clear();
    Q_EMIT broken();
}
