#pragma once

#include "MemoryConnection.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <functional>

// An IMAP server in memory that follows a transcript: for each line the
// client writes it checks that it is the next one expected (C:) and serves
// the answer (S:): untagged lines, then the tagged status under the tag the
// client gave. A line out of turn is answered BAD and fails verify(), and so
// does any transcript line left unused.
class ScriptedImapServer : public MemoryConnection {
    Q_OBJECT
public:
    using MemoryConnection::MemoryConnection;

    // S: the greeting (CR LF added).
    ScriptedImapServer &greet(const QByteArray &line);
    // C: "<tag> command"; S: each untagged line (CR LF added; a literal's
    // bytes may sit inside a line), then "<tag> status". An empty status
    // sends no tagged line (the answer is a continuation, say).
    ScriptedImapServer &expect(const QByteArray &command, const QByteArrayList &untagged = {},
                               const QByteArray &status = "OK done");
    // C: a line that is no command (a SASL response, a literal's rest);
    // answered as expect() does, under the last command's tag.
    ScriptedImapServer &expectLine(const QByteArray &line, const QByteArrayList &untagged = {},
                                   const QByteArray &status = "OK done");
    // Modifiers of the last line added: its answer arrives in pieces of
    // `size` bytes; it starts only `ms` after the line came; the server hangs
    // up once it is served; `action` runs as the line comes (a test's
    // Cancel, say), before anything of the answer arrives.
    ScriptedImapServer &inPieces(qsizetype size);
    ScriptedImapServer &late(int ms);
    ScriptedImapServer &thenHangUp();
    ScriptedImapServer &whenTaken(std::function<void()> action);

    // The commands received, without their tags.
    const QList<QByteArray> &commands() const { return m_commands; }
    // For each command, whether answers to earlier ones were still on their
    // way when it came: it was sent ahead of them.
    const QList<bool> &sentAhead() const { return m_sentAhead; }
    bool verify(QString *why) const;

    bool write(const QByteArray &bytes) override;

private:
    struct Step {
        bool command;
        QByteArray line;
        QByteArray answer; // untagged part
        QByteArray status;
        qsizetype pieces = 0;
        int lateMs = 0;
        bool hangUp = false;
        std::function<void()> taken = {};
    };
    void take(const QByteArray &line);
    void answer(const Step &step, const QByteArray &tag);

    QList<Step> m_steps;
    qsizetype m_next = 0;
    QByteArray m_input;
    QByteArray m_lastTag = "*";
    QList<QByteArray> m_commands;
    QList<bool> m_sentAhead;
    QStringList m_errors;
};

#define VERIFY_IMAP_SCRIPT(server)                                                                                     \
    do {                                                                                                               \
        QString why_;                                                                                                  \
        QVERIFY2((server).verify(&why_), qPrintable(why_));                                                            \
    } while (false)
