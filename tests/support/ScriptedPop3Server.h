#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>

class QSslCertificate;
class QSslKey;
class QTcpServer;
class QTimer;
class QTcpSocket;

namespace testsupport {

// A POP3 server that follows a transcript: on each connection it sends the
// next greeting, then for every command line it receives it checks that the
// line is the next one expected and answers with the given reply. A reply can
// come in pieces, late, never, or as a dropped connection. Every command is
// recorded; a command out of turn is answered "-ERR" and fails verify(), and
// so does any transcript line left unused. Listens on 127.0.0.1, port 0.
class ScriptedPop3Server : public QObject {
    Q_OBJECT
public:
    explicit ScriptedPop3Server(QObject *parent = nullptr);
    ~ScriptedPop3Server() override;

    bool listen();
    // Listens for TLS from the first byte instead, with this certificate
    // (see makeTestCertificate); the transcript starts once it is secured.
    bool listenTls(const QSslCertificate &certificate, const QSslKey &key);
    quint16 port() const;

    // S: the greeting of the next connection; then C: CAPA, S: the
    // capabilities as a list (the default ones when none are given), or
    // "-ERR" when that list is empty.
    ScriptedPop3Server &greet(const QByteArray &line = "+OK POP3 server ready",
                              const QList<QByteArray> &capabilities = {});
    // S: the greeting alone, for a client that never gets to log in.
    ScriptedPop3Server &greetOnly(const QByteArray &line = "+OK POP3 server ready");
    // S: exactly these bytes on connecting (none: the server stays silent).
    ScriptedPop3Server &greetRaw(const QByteArray &bytes);
    // C: CAPA, S: the capability list (or -ERR for an empty one).
    ScriptedPop3Server &capa(const QList<QByteArray> &capabilities);
    // C: command, S: reply (the reply's text as sent, CR LF included).
    ScriptedPop3Server &expect(const QByteArray &command, const QByteArray &reply);
    // The reply sent in these pieces, each one separately.
    ScriptedPop3Server &expectPieces(const QByteArray &command, const QList<QByteArray> &pieces);
    // The command gets no answer at all.
    ScriptedPop3Server &expectSilent(const QByteArray &command);
    // From this command on the server answers nothing; commands that follow
    // (a pipelining client's) are recorded, not checked.
    ScriptedPop3Server &expectStall(const QByteArray &command);
    // On this command the server drops the connection.
    ScriptedPop3Server &expectDrop(const QByteArray &command);
    // Modifiers of the last line added: the reply waits this long first; the
    // action runs when the command arrives (e.g. to press Cancel).
    ScriptedPop3Server &delayed(int ms);
    ScriptedPop3Server &then(std::function<void()> action);
    // After its reply, the last line added keeps sending `chunk` every
    // `intervalMs` (0: as fast as the client reads) for at most `forMs`, or
    // until the connection closes: a reply without end.
    ScriptedPop3Server &trickle(const QByteArray &chunk, int intervalMs, int forMs = 30000);
    // The last line added may be left out by the client: a command that does
    // not match it is checked against the lines after it (for a pipelining
    // client that stops sending part way).
    ScriptedPop3Server &optional();

    // The capabilities greet() offers when given none (e.g. {"PIPELINING"}).
    void setDefaultCapabilities(const QList<QByteArray> &capabilities) { m_defaultCapabilities = capabilities; }

    // Transcript helpers for the usual exchanges.
    ScriptedPop3Server &login(const QByteArray &user = "user", const QByteArray &password = "secret");
    ScriptedPop3Server &stat(int count, qint64 octets = 0);
    ScriptedPop3Server &uidl(const QList<QByteArray> &uids); // uid of message 1, 2, ...
    ScriptedPop3Server &top(int number, const QByteArray &headerLines);
    ScriptedPop3Server &list(int number, qint64 size);
    ScriptedPop3Server &listAll(const QList<qint64> &sizes); // size of message 1, 2, ...
    ScriptedPop3Server &dele(int number, bool accepted = true);
    ScriptedPop3Server &quit();

    // "+OK\r\n" + the header lines (each ended by CR LF) + blank line + ".".
    static QByteArray topReply(const QByteArray &headerLines);
    // Header lines from "Name: value" strings.
    static QByteArray headers(const QList<QByteArray> &lines);

    QList<QByteArray> commands() const { return m_commands; }
    // The message numbers the server removed: those whose DELE it accepted
    // in a session that it ended with "+OK" to QUIT, as RFC 1939 has it.
    QList<int> removed() const { return m_removed; }
    int connections() const { return m_connections; }
    // The most command bytes (CR LF included) the server held at once that
    // it had received but not yet answered in full.
    qint64 maxUnansweredBytes() const { return m_maxUnanswered; }
    // The command bytes still unanswered when this command last arrived
    // (-1 if it never did): 0 means every earlier command had its reply.
    qint64 unansweredBefore(const QByteArray &command) const { return m_unansweredBefore.value(command, -1); }
    // Whether a client connection is still open on the server's side.
    bool clientConnected() const;
    bool verify(QString *why) const;

private:
    enum class Kind { Greeting, Command };
    struct Step {
        Kind kind;
        QByteArray command;
        QList<QByteArray> pieces;
        bool drop = false;
        int delayMs = 0;
        std::function<void()> action;
        bool stall = false;
        bool optional = false;
        QByteArray trickle = {};
        int trickleMs = 0;
        int trickleForMs = 0;
    };
    struct Outgoing {
        int delayMs;
        QByteArray data;
        bool drop;
        qint64 answers = 0; // command bytes answered once this is written
        QByteArray trickle = {}; // then this is sent without end (see trickle())
        int trickleMs = 0;
        int trickleForMs = 0;
    };

    static QByteArray masked(const QByteArray &command);
    void onNewConnection();
    void onReadyRead();
    void answer(const Step &step, qint64 commandBytes = 0);
    // The index of the step that takes this line, skipping optional ones; -1 if none.
    int matchingStep(const QByteArray &line) const;
    void queue(const Outgoing &out);
    void pump();
    void startTrickle(const Outgoing &out);

    QTcpServer *m_server;
    QPointer<QTcpSocket> m_client;
    QByteArray m_input;
    QList<Step> m_steps;
    int m_next = 0;
    QList<QByteArray> m_commands;
    QStringList m_errors;
    QList<Outgoing> m_out;
    bool m_pumping = false;
    int m_connections = 0;
    QList<QByteArray> m_defaultCapabilities;
    bool m_deaf = false; // stalled or dropped: lines are only recorded
    qint64 m_unanswered = 0;
    qint64 m_maxUnanswered = 0;
    QHash<QByteArray, qint64> m_unansweredBefore;
    QList<int> m_marked; // accepted DELEs of the current session
    QList<int> m_removed;
    QTimer *m_trickle = nullptr;
};

} // namespace testsupport

#define VERIFY_SCRIPT(server)                                                                                          \
    do {                                                                                                               \
        QString why_;                                                                                                  \
        QVERIFY2((server).verify(&why_), qPrintable(why_));                                                            \
    } while (false)
