#include "LinkEmulator.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

LinkEmulator::LinkEmulator(const QHostAddress &targetHost, quint16 targetPort, Settings settings,
                           QObject *parent)
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
        auto *upstream = new QTcpSocket(client);
        auto *up = new DelayedPipe(client, upstream, m_settings, client);
        auto *down = new DelayedPipe(upstream, client, m_settings, client);
        // A side that closes is closed on the other side once what it sent
        // has crossed the link, as a real connection would.
        connect(client, &QTcpSocket::disconnected, up, &DelayedPipe::closeWhenDrained);
        connect(upstream, &QTcpSocket::disconnected, down, &DelayedPipe::closeWhenDrained);
        connect(upstream, &QTcpSocket::errorOccurred, client, [client, down](QAbstractSocket::SocketError) {
            down->closeWhenDrained();
            if (client->state() != QAbstractSocket::ConnectedState)
                client->deleteLater();
        });
        connect(client, &QTcpSocket::disconnected, client, [client, upstream] {
            if (upstream->state() == QAbstractSocket::UnconnectedState)
                client->deleteLater();
        });
        connect(upstream, &QTcpSocket::disconnected, client, [client] {
            if (client->state() == QAbstractSocket::UnconnectedState)
                client->deleteLater();
        });
        upstream->connectToHost(m_targetHost, m_targetPort);
    }
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
    while (!m_queue.isEmpty() && m_queue.head().dueMs <= now) {
        Chunk chunk = m_queue.dequeue();
        m_pendingBytes -= chunk.data.size();
        m_to->write(chunk.data);
    }
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
