#include "LinkEmulator.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

LinkEmulator::LinkEmulator(const QHostAddress &targetHost, quint16 targetPort, Settings settings, QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_targetHost(targetHost)
    , m_targetPort(targetPort)
    , m_settings(settings)
{
    connect(m_server, &QTcpServer::newConnection, this, &LinkEmulator::acceptConnection);
}

bool LinkEmulator::listen(quint16 port)
{
    return m_server->listen(QHostAddress::LocalHost, port);
}

quint16 LinkEmulator::port() const
{
    return m_server->serverPort();
}

void LinkEmulator::acceptConnection()
{
    while (QTcpSocket *client = m_server->nextPendingConnection()) {
        ++m_connections;
        auto *relay = new Relay(client, m_targetHost, m_targetPort, m_settings, this);
        connect(relay, &Relay::ended, this, &LinkEmulator::connectionEnded);
    }
}

Relay::Relay(QTcpSocket *client, const QHostAddress &targetHost, quint16 targetPort, LinkEmulator::Settings settings,
             QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_upstream(new QTcpSocket(this))
{
    client->setParent(this);
    m_up = new DelayedPipe(client, m_upstream, settings, this);
    m_down = new DelayedPipe(m_upstream, client, settings, this);
    connect(m_down, &DelayedPipe::released, this, [this] { m_answered = true; });
    connect(m_up, &DelayedPipe::arrived, this, &Relay::clientSpoke);
    // A side that closes is closed on the other side once what it sent
    // has crossed the link, as a real connection would.
    connect(client, &QTcpSocket::disconnected, this, [this] {
        m_up->closeWhenDrained();
        finishWhenClosed();
    });
    connect(m_upstream, &QTcpSocket::disconnected, this, [this] {
        m_down->closeWhenDrained();
        finishWhenClosed();
    });
    connect(m_upstream, &QTcpSocket::errorOccurred, this, [this] {
        m_down->closeWhenDrained();
        finishWhenClosed();
    });
    m_upstream->connectToHost(targetHost, targetPort);
}

Relay::~Relay()
{
    // The sockets go with this object: none of their last signals may reach
    // a pipe or a handler of a connection already being taken apart.
    for (QTcpSocket *socket : {m_client, m_upstream}) {
        disconnect(socket, nullptr, this, nullptr);
        disconnect(socket, nullptr, m_up, nullptr);
        disconnect(socket, nullptr, m_down, nullptr);
    }
}

void Relay::clientSpoke()
{
    if (m_answered && m_down->pending() == 0)
        ++m_roundTrips;
    m_answered = false;
}

void Relay::finishWhenClosed()
{
    if (m_ended || m_client->state() != QAbstractSocket::UnconnectedState
        || m_upstream->state() != QAbstractSocket::UnconnectedState)
        return;
    m_ended = true;
    Q_EMIT ended(m_roundTrips);
    deleteLater();
}

DelayedPipe::DelayedPipe(QTcpSocket *from, QTcpSocket *to, LinkEmulator::Settings settings, QObject *parent)
    : QObject(parent)
    , m_from(from)
    , m_to(to)
    , m_settings(settings)
    , m_timer(new QTimer(this))
{
    m_clock.start();
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &DelayedPipe::release);
    connect(from, &QTcpSocket::readyRead, this, &DelayedPipe::readAvailable);
    // Data that arrives before the other side is connected waits for it.
    connect(to, &QTcpSocket::connected, this, &DelayedPipe::schedule);
}

void DelayedPipe::readAvailable()
{
    if (!m_from)
        return;
    QByteArray data = m_from->readAll();
    if (data.isEmpty())
        return;
    const qint64 now = m_clock.elapsed();
    qint64 due = now + m_settings.roundTripMs / 2;
    if (m_settings.bytesPerSecond > 0) {
        // The chunk leaves after the one before it has been sent in full.
        const qint64 sendMs = data.size() * 1000 / m_settings.bytesPerSecond;
        due = std::max(due, m_lastReleaseMs + sendMs);
    }
    m_lastReleaseMs = std::max(m_lastReleaseMs, due);
    m_pendingBytes += data.size();
    m_queue.enqueue({due, std::move(data)});
    Q_EMIT arrived();
    schedule();
}

void DelayedPipe::schedule()
{
    if (m_queue.isEmpty() || m_timer->isActive())
        return;
    const qint64 wait = m_queue.head().dueMs - m_clock.elapsed();
    m_timer->start(int(std::max<qint64>(0, wait)));
}

void DelayedPipe::release()
{
    if (!m_to)
        return;
    if (m_to->state() != QAbstractSocket::ConnectedState) {
        if (m_to->state() == QAbstractSocket::UnconnectedState) {
            m_queue.clear();
            m_pendingBytes = 0;
        }
        return; // connected() schedules again
    }
    const qint64 now = m_clock.elapsed();
    bool wrote = false;
    while (!m_queue.isEmpty() && m_queue.head().dueMs <= now) {
        Chunk chunk = m_queue.dequeue();
        m_pendingBytes -= chunk.data.size();
        m_to->write(chunk.data);
        wrote = true;
    }
    if (wrote)
        Q_EMIT released();
    if (m_queue.isEmpty()) {
        Q_EMIT drained();
        if (m_closeWhenDrained)
            m_to->disconnectFromHost();
    }
    schedule();
}

void DelayedPipe::closeWhenDrained()
{
    m_closeWhenDrained = true;
    if (m_queue.isEmpty() && m_to)
        m_to->disconnectFromHost();
}
