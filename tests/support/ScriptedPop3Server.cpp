#include "ScriptedPop3Server.h"

#include <QHostAddress>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QElapsedTimer>
#include <QTimer>

#include <memory>

namespace testsupport {

namespace {
// Pause between the pieces of one reply, so that each arrives on its own.
constexpr int kPieceGapMs = 15;
} // namespace

ScriptedPop3Server::ScriptedPop3Server(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &ScriptedPop3Server::onNewConnection);
}

ScriptedPop3Server::~ScriptedPop3Server()
{
    if (m_client)
        m_client->abort();
}

bool ScriptedPop3Server::listen()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

bool ScriptedPop3Server::listenTls(const QSslCertificate &certificate, const QSslKey &key)
{
    auto *server = new QSslServer(this);
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setLocalCertificate(certificate);
    config.setPrivateKey(key);
    config.setPeerVerifyMode(QSslSocket::VerifyNone);
    server->setSslConfiguration(config);
    // A TLS connection is handed over once secured.
    connect(server, &QTcpServer::pendingConnectionAvailable, this, &ScriptedPop3Server::onNewConnection);
    delete m_server;
    m_server = server;
    return m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 ScriptedPop3Server::port() const
{
    return m_server->serverPort();
}

ScriptedPop3Server &ScriptedPop3Server::greet(const QByteArray &line, const QList<QByteArray> &capabilities)
{
    return greetOnly(line).capa(capabilities.isEmpty() ? m_defaultCapabilities : capabilities);
}

ScriptedPop3Server &ScriptedPop3Server::greetOnly(const QByteArray &line)
{
    m_steps.append({Kind::Greeting, {}, {line + "\r\n"}, false, 0, {}});
    return *this;
}

ScriptedPop3Server &ScriptedPop3Server::greetRaw(const QByteArray &bytes)
{
    m_steps.append(
        {Kind::Greeting, {}, bytes.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{bytes}, false, 0, {}});
    return *this;
}

ScriptedPop3Server &ScriptedPop3Server::capa(const QList<QByteArray> &capabilities)
{
    if (capabilities.isEmpty())
        return expect("CAPA", "-ERR unknown command\r\n");
    QByteArray reply = "+OK Capability list follows\r\n";
    for (const QByteArray &c : capabilities)
        reply += c + "\r\n";
    return expect("CAPA", reply + ".\r\n");
}

ScriptedPop3Server &ScriptedPop3Server::expect(const QByteArray &command, const QByteArray &reply)
{
    return expectPieces(command, {reply});
}

ScriptedPop3Server &ScriptedPop3Server::expectPieces(const QByteArray &command, const QList<QByteArray> &pieces)
{
    m_steps.append({Kind::Command, command, pieces, false, 0, {}});
    return *this;
}

ScriptedPop3Server &ScriptedPop3Server::expectSilent(const QByteArray &command)
{
    return expectPieces(command, {});
}

ScriptedPop3Server &ScriptedPop3Server::expectStall(const QByteArray &command)
{
    m_steps.append({Kind::Command, command, {}, false, 0, {}, true});
    return *this;
}

ScriptedPop3Server &ScriptedPop3Server::optional()
{
    if (!m_steps.isEmpty())
        m_steps.last().optional = true;
    return *this;
}

ScriptedPop3Server &ScriptedPop3Server::expectDrop(const QByteArray &command)
{
    m_steps.append({Kind::Command, command, {}, true, 0, {}});
    return *this;
}

ScriptedPop3Server &ScriptedPop3Server::delayed(int ms)
{
    if (!m_steps.isEmpty())
        m_steps.last().delayMs = ms;
    return *this;
}

ScriptedPop3Server &ScriptedPop3Server::then(std::function<void()> action)
{
    if (!m_steps.isEmpty())
        m_steps.last().action = std::move(action);
    return *this;
}

ScriptedPop3Server &ScriptedPop3Server::trickle(const QByteArray &chunk, int intervalMs, int forMs)
{
    if (!m_steps.isEmpty()) {
        m_steps.last().trickle = chunk;
        m_steps.last().trickleMs = intervalMs;
        m_steps.last().trickleForMs = forMs;
    }
    return *this;
}

void ScriptedPop3Server::startTrickle(const Outgoing &out)
{
    delete m_trickle;
    m_trickle = new QTimer(this);
    m_trickle->setInterval(out.trickleMs);
    const QByteArray chunk = out.trickle;
    const int forMs = out.trickleForMs;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    connect(m_trickle, &QTimer::timeout, this, [this, chunk, forMs, clock] {
        if (!m_client || m_client->state() != QAbstractSocket::ConnectedState || clock->elapsed() > forMs) {
            m_trickle->stop();
            return;
        }
        // Never more than a little waiting in our own buffer.
        if (m_client->bytesToWrite() < 4 * chunk.size() + 1024)
            m_client->write(chunk);
    });
    m_trickle->start();
}

ScriptedPop3Server &ScriptedPop3Server::login(const QByteArray &user, const QByteArray &password)
{
    expect("USER " + user, "+OK send your password\r\n");
    return expect("PASS " + password, "+OK mailbox locked and ready\r\n");
}

ScriptedPop3Server &ScriptedPop3Server::stat(int count, qint64 octets)
{
    return expect("STAT", "+OK " + QByteArray::number(count) + ' ' + QByteArray::number(octets) + "\r\n");
}

ScriptedPop3Server &ScriptedPop3Server::uidl(const QList<QByteArray> &uids)
{
    QByteArray reply = "+OK unique-id listing follows\r\n";
    for (int i = 0; i < uids.size(); ++i)
        reply += QByteArray::number(i + 1) + ' ' + uids.at(i) + "\r\n";
    return expect("UIDL", reply + ".\r\n");
}

ScriptedPop3Server &ScriptedPop3Server::top(int number, const QByteArray &headerLines)
{
    return expect("TOP " + QByteArray::number(number) + " 0", topReply(headerLines));
}

ScriptedPop3Server &ScriptedPop3Server::list(int number, qint64 size)
{
    return expect("LIST " + QByteArray::number(number),
                  "+OK " + QByteArray::number(number) + ' ' + QByteArray::number(size) + "\r\n");
}

ScriptedPop3Server &ScriptedPop3Server::listAll(const QList<qint64> &sizes)
{
    QByteArray reply = "+OK scan listing follows\r\n";
    for (int i = 0; i < sizes.size(); ++i)
        reply += QByteArray::number(i + 1) + ' ' + QByteArray::number(sizes.at(i)) + "\r\n";
    return expect("LIST", reply + ".\r\n");
}

ScriptedPop3Server &ScriptedPop3Server::dele(int number, bool accepted)
{
    return expect("DELE " + QByteArray::number(number),
                  accepted ? "+OK message " + QByteArray::number(number) + " deleted\r\n"
                           : QByteArray("-ERR no such message\r\n"));
}

ScriptedPop3Server &ScriptedPop3Server::quit()
{
    return expect("QUIT", "+OK bye\r\n");
}

QByteArray ScriptedPop3Server::topReply(const QByteArray &headerLines)
{
    return "+OK top of message follows\r\n" + headerLines + "\r\n.\r\n";
}

QByteArray ScriptedPop3Server::headers(const QList<QByteArray> &lines)
{
    QByteArray text;
    for (const QByteArray &line : lines)
        text += line + "\r\n";
    return text;
}

bool ScriptedPop3Server::clientConnected() const
{
    return m_client && m_client->state() == QAbstractSocket::ConnectedState;
}

// A failing test prints what it received; passwords stay out of that.
QByteArray ScriptedPop3Server::masked(const QByteArray &command)
{
    for (const QByteArray &secret :
         {QByteArray("PASS "), QByteArray("AUTH PLAIN "), QByteArray("AUTH XOAUTH2 "), QByteArray("AUTH OAUTHBEARER ")})
        if (command.startsWith(secret))
            return secret + "***";
    // A SASL response sent after a "+" carries a password or token too.
    if (command.size() >= 20 && !command.contains(' '))
        return "***";
    return command;
}

bool ScriptedPop3Server::verify(QString *why) const
{
    QStringList problems = m_errors;
    for (int i = m_next; i < m_steps.size(); ++i) {
        const Step &s = m_steps.at(i);
        if (s.optional)
            continue;
        problems << (s.kind == Kind::Greeting
                         ? QStringLiteral("connection expected but never made")
                         : QStringLiteral("command never received: ") + QString::fromLatin1(s.command));
    }
    if (why) {
        *why = problems.join(QLatin1Char('\n'));
        if (!problems.isEmpty()) {
            QStringList got;
            for (const QByteArray &c : m_commands)
                got << QString::fromLatin1(masked(c));
            *why += QStringLiteral("\nreceived: ") + got.join(QStringLiteral(" | "));
        }
    }
    return problems.isEmpty();
}

void ScriptedPop3Server::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        ++m_connections;
        if (m_client)
            m_client->abort();
        m_client = socket;
        m_input.clear();
        m_out.clear();
        m_deaf = false;
        m_unanswered = 0;
        m_marked.clear();
        if (m_trickle)
            m_trickle->stop();
        connect(socket, &QTcpSocket::readyRead, this, &ScriptedPop3Server::onReadyRead);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        if (m_next < m_steps.size() && m_steps.at(m_next).kind == Kind::Greeting) {
            answer(m_steps.at(m_next++));
        } else {
            m_errors << QStringLiteral("unexpected connection");
            socket->abort();
        }
    }
}

void ScriptedPop3Server::onReadyRead()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (!socket || socket != m_client)
        return;
    m_input += socket->readAll();
    // Several commands may arrive in one read (a pipelining client); each is
    // checked and answered in turn, the answers queued in order.
    qsizetype eol;
    while ((eol = m_input.indexOf("\r\n")) >= 0) {
        const QByteArray line = m_input.left(eol);
        m_input.remove(0, eol + 2);
        m_commands.append(line);
        m_unansweredBefore.insert(line, m_unanswered);
        if (m_deaf)
            continue;
        const int at = matchingStep(line);
        if (at >= 0) {
            m_next = at;
            const Step step = m_steps.at(m_next++);
            if (step.action)
                step.action();
            m_deaf = step.stall || step.drop || !step.trickle.isEmpty();
            const bool accepted = !step.pieces.isEmpty() && step.pieces.constFirst().startsWith("+OK");
            if (line.startsWith("DELE ") && accepted)
                m_marked << line.mid(5).toInt();
            if (line == "QUIT" && accepted) {
                m_removed += m_marked;
                m_marked.clear();
            }
            m_unanswered += line.size() + 2;
            m_maxUnanswered = qMax(m_maxUnanswered, m_unanswered);
            answer(step, step.stall ? 0 : line.size() + 2);
        } else {
            m_errors << QStringLiteral("unexpected command: %1 (expected %2)")
                            .arg(QString::fromLatin1(masked(line)),
                                 m_next < m_steps.size() ? QString::fromLatin1(masked(m_steps.at(m_next).command))
                                                         : QStringLiteral("nothing more"));
            queue({0, "-ERR unexpected command\r\n", false});
        }
    }
}

int ScriptedPop3Server::matchingStep(const QByteArray &line) const
{
    for (int i = m_next; i < m_steps.size(); ++i) {
        const Step &s = m_steps.at(i);
        if (s.kind == Kind::Command && s.command == line)
            return i;
        if (!s.optional)
            return -1;
    }
    return -1;
}

void ScriptedPop3Server::answer(const Step &step, qint64 commandBytes)
{
    int delay = step.delayMs;
    for (qsizetype i = 0; i < step.pieces.size(); ++i) {
        queue({delay, step.pieces.at(i), false, i + 1 == step.pieces.size() ? commandBytes : 0});
        delay = kPieceGapMs;
    }
    if (step.pieces.isEmpty() && !step.drop)
        queue({delay, {}, false, commandBytes}); // a silent answer frees its command all the same
    if (step.drop)
        queue({delay, {}, true});
    if (!step.trickle.isEmpty()) {
        Outgoing start{0, {}, false};
        start.trickle = step.trickle;
        start.trickleMs = step.trickleMs;
        start.trickleForMs = step.trickleForMs;
        queue(start);
    }
}

void ScriptedPop3Server::queue(const Outgoing &out)
{
    m_out.append(out);
    pump();
}

void ScriptedPop3Server::pump()
{
    if (m_pumping || m_out.isEmpty())
        return;
    m_pumping = true;
    const Outgoing out = m_out.takeFirst();
    QTimer::singleShot(out.delayMs, this, [this, out] {
        m_pumping = false;
        if (m_client) {
            if (out.drop) {
                m_client->abort();
                m_out.clear();
                return;
            }
            if (!out.data.isEmpty()) {
                m_client->write(out.data);
                m_client->flush();
            }
            m_unanswered -= out.answers;
            if (!out.trickle.isEmpty())
                startTrickle(out);
        }
        pump();
    });
}

} // namespace testsupport
