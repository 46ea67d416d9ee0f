#include "ScriptedImapServer.h"

#include <QTimer>

namespace {

QByteArray joinedLines(const QByteArrayList &lines)
{
    QByteArray out;
    for (const QByteArray &line : lines)
        out += line + "\r\n";
    return out;
}

} // namespace

ScriptedImapServer &ScriptedImapServer::greet(const QByteArray &line)
{
    serve(line + "\r\n");
    return *this;
}

ScriptedImapServer &ScriptedImapServer::expect(const QByteArray &command, const QByteArrayList &untagged,
                                               const QByteArray &status)
{
    m_steps.append({true, command, joinedLines(untagged), status});
    return *this;
}

ScriptedImapServer &ScriptedImapServer::expectLine(const QByteArray &line, const QByteArrayList &untagged,
                                                   const QByteArray &status)
{
    m_steps.append({false, line, joinedLines(untagged), status});
    return *this;
}

ScriptedImapServer &ScriptedImapServer::inPieces(qsizetype size)
{
    if (!m_steps.isEmpty())
        m_steps.last().pieces = size;
    return *this;
}

ScriptedImapServer &ScriptedImapServer::late(int ms)
{
    if (!m_steps.isEmpty())
        m_steps.last().lateMs = ms;
    return *this;
}

ScriptedImapServer &ScriptedImapServer::whenTaken(std::function<void()> action)
{
    if (!m_steps.isEmpty())
        m_steps.last().taken = std::move(action);
    return *this;
}

ScriptedImapServer &ScriptedImapServer::thenHangUp()
{
    if (!m_steps.isEmpty())
        m_steps.last().hangUp = true;
    return *this;
}

bool ScriptedImapServer::write(const QByteArray &bytes)
{
    if (!MemoryConnection::write(bytes))
        return false;
    m_input += bytes;
    for (qsizetype eol; (eol = m_input.indexOf("\r\n")) >= 0;) {
        const QByteArray line = m_input.left(eol);
        m_input.remove(0, eol + 2);
        take(line);
    }
    return true;
}

void ScriptedImapServer::take(const QByteArray &line)
{
    const Step *step = m_next < m_steps.size() ? &m_steps.at(m_next) : nullptr;
    QByteArray text = line;
    if (!step || step->command) {
        const qsizetype space = line.indexOf(' ');
        m_lastTag = space < 0 ? line : line.left(space);
        text = space < 0 ? QByteArray() : line.mid(space + 1);
        m_commands.append(text);
        m_sentAhead.append(piecesLeft() > 0);
    }
    if (!step || step->line != text) {
        m_errors << QStringLiteral("unexpected line \"%1\" (expected \"%2\")")
                        .arg(QString::fromLatin1(line),
                             step ? QString::fromLatin1(step->line) : QStringLiteral("none"));
        serve(m_lastTag + " BAD unexpected\r\n");
        return;
    }
    ++m_next;
    if (step->taken)
        step->taken();
    if (step->lateMs <= 0)
        return answer(*step, m_lastTag);
    QTimer::singleShot(step->lateMs, this, [this, step = *step, tag = m_lastTag] { answer(step, tag); });
}

void ScriptedImapServer::answer(const Step &step, const QByteArray &tag)
{
    const QByteArray bytes = step.answer + (step.status.isEmpty() ? QByteArray() : tag + ' ' + step.status + "\r\n");
    if (step.pieces > 0)
        serveInPieces(bytes, step.pieces);
    else if (!bytes.isEmpty())
        serve(bytes);
    if (step.hangUp)
        hangUpWhenServed();
}

bool ScriptedImapServer::verify(QString *why) const
{
    QStringList problems = m_errors;
    for (qsizetype i = m_next; i < m_steps.size(); ++i)
        problems << QStringLiteral("unused line \"%1\"").arg(QString::fromLatin1(m_steps.at(i).line));
    if (why)
        *why = problems.join(QStringLiteral("; "));
    return problems.isEmpty();
}
