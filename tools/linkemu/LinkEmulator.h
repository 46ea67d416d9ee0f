#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QQueue>

class QTcpServer;
class QTcpSocket;
class QTimer;

// A loopback TCP relay that behaves like a slow link: every chunk read from
// one side is released to the other side half a round trip later, and no
// faster than the bandwidth allows. Used by tests and benchmarks only.
class LinkEmulator : public QObject {
    Q_OBJECT
public:
    struct Settings {
        int roundTripMs = 0;
        qint64 bytesPerSecond = 0; // 0: unlimited
    };

    LinkEmulator(const QHostAddress &targetHost, quint16 targetPort, Settings settings, QObject *parent = nullptr);

    // Listens on 127.0.0.1; port 0 picks a free one. Returns false on failure.
    bool listen(quint16 port = 0);
    quint16 port() const;
    int connectionCount() const { return m_connections; }

Q_SIGNALS:
    // A relayed connection ended, both sides closed; `roundTrips`: the
    // times its client spoke after waiting for all the server had sent.
    void connectionEnded(int roundTrips);

private:
    void acceptConnection();

    QTcpServer *m_server;
    QHostAddress m_targetHost;
    quint16 m_targetPort;
    Settings m_settings;
    int m_connections = 0;
};

class DelayedPipe;

// One relayed connection: the accepted socket, the one to the target and a
// pipe each way, taken apart together once both sockets have closed.
class Relay : public QObject {
    Q_OBJECT
public:
    Relay(QTcpSocket *client, const QHostAddress &targetHost, quint16 targetPort, LinkEmulator::Settings settings,
          QObject *parent);
    ~Relay() override;

Q_SIGNALS:
    void ended(int roundTrips);

private:
    void finishWhenClosed();
    void clientSpoke();

    QTcpSocket *m_client;
    QTcpSocket *m_upstream;
    DelayedPipe *m_up = nullptr;
    DelayedPipe *m_down = nullptr;
    // Round trips waited: a client that speaks once everything the server
    // sent has reached it, and after the server said something since the
    // client last spoke, waited for that answer. A client that keeps
    // commands in flight speaks while answers are still on the way.
    int m_roundTrips = 0;
    bool m_answered = false; // the server's bytes reached the client since it last spoke
    bool m_ended = false;
};

// One direction of one relayed connection.
class DelayedPipe : public QObject {
    Q_OBJECT
public:
    DelayedPipe(QTcpSocket *from, QTcpSocket *to, LinkEmulator::Settings settings, QObject *parent);

    // Bytes read but not yet released to the other side.
    qint64 pending() const { return m_pendingBytes; }
    void closeWhenDrained();

Q_SIGNALS:
    void drained();
    void arrived(); // bytes were read from `from`
    void released(); // bytes were written to `to`

private:
    struct Chunk {
        qint64 dueMs;
        QByteArray data;
    };
    void readAvailable();
    void release();
    void schedule();

    QPointer<QTcpSocket> m_from;
    QPointer<QTcpSocket> m_to;
    LinkEmulator::Settings m_settings;
    QQueue<Chunk> m_queue;
    QElapsedTimer m_clock;
    QTimer *m_timer;
    qint64 m_lastReleaseMs = 0;
    qint64 m_pendingBytes = 0;
    bool m_closeWhenDrained = false;
};
