#pragma once

#include "MemoryConnection.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

// A ManageSieve server in memory that follows a transcript: each command the
// client writes (its literals' bytes included, CR LF between lines) must be
// the next one expected, and gets its answer in pieces of a few bytes, each
// on a turn of the event loop of its own. A command out of turn is answered
// NO and fails verify(), as does a transcript line left unused.
class ScriptedSieveServer : public MemoryConnection {
public:
    explicit ScriptedSieveServer(qsizetype pieceSize = 5)
        : m_pieceSize(pieceSize)
    {
    }
    ScriptedSieveServer &greet(const QByteArray &lines)
    {
        serveInPieces(lines, m_pieceSize);
        return *this;
    }
    ScriptedSieveServer &expect(const QByteArray &command, const QByteArray &answer)
    {
        m_steps.append({command, answer});
        return *this;
    }
    // What the server says once TLS is up (its capabilities again).
    ScriptedSieveServer &afterTls(const QByteArray &lines)
    {
        m_afterTls = lines;
        return *this;
    }
    bool verify(QString *why) const
    {
        QStringList errors = m_errors;
        for (qsizetype i = m_next; i < m_steps.size(); ++i)
            errors << QStringLiteral("never sent: ") + QString::fromUtf8(m_steps.at(i).command);
        *why = errors.join(QLatin1String("; "));
        return errors.isEmpty();
    }

    HandshakeResult secure(const TlsTrust &trust) override
    {
        const HandshakeResult result = MemoryConnection::secure(trust);
        serveInPieces(m_afterTls, m_pieceSize);
        return result;
    }
    bool write(const QByteArray &bytes) override
    {
        if (!MemoryConnection::write(bytes))
            return false;
        m_input += bytes;
        while (takeCommand()) {
        }
        return true;
    }

private:
    struct Step {
        QByteArray command;
        QByteArray answer;
    };
    // One whole command off the input: lines joined while one ends in a
    // literal's length, whose bytes follow.
    bool takeCommand()
    {
        qsizetype at = 0;
        for (;;) {
            const qsizetype end = m_input.indexOf("\r\n", at);
            if (end < 0)
                return false;
            const QByteArray line = m_input.mid(at, end - at);
            const qsizetype open = line.lastIndexOf('{');
            if (!line.endsWith('}') || open < 0) {
                answer(m_input.left(end));
                m_input.remove(0, end + 2);
                return true;
            }
            QByteArray digits = line.mid(open + 1, line.size() - open - 2);
            digits.replace("+", "");
            const qsizetype size = digits.toLongLong();
            if (m_input.size() < end + 2 + size)
                return false;
            at = end + 2 + size;
        }
    }
    void answer(const QByteArray &command)
    {
        if (m_next < m_steps.size() && m_steps.at(m_next).command == command) {
            serveInPieces(m_steps.at(m_next++).answer, m_pieceSize);
            return;
        }
        m_errors << QStringLiteral("unexpected: ") + QString::fromUtf8(command.left(200));
        serve("NO \"unexpected command\"\r\n");
    }

    qsizetype m_pieceSize;
    QList<Step> m_steps;
    qsizetype m_next = 0;
    QByteArray m_input;
    QByteArray m_afterTls;
    QStringList m_errors;
};

#define VERIFY_SIEVE_SCRIPT(server)                                                                                    \
    do {                                                                                                               \
        QString why_;                                                                                                  \
        QVERIFY2((server).verify(&why_), qPrintable(why_));                                                            \
    } while (false)
