#include "LinkEmulator.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

// An echo server on a free loopback port.
class EchoServer : public QTcpServer {
public:
    EchoServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, s, [s] { s->write(s->readAll()); });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
};

class TestLinkEmulator : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void relaysBytesIntactWithTheRoundTripDelay();
    void bandwidthLimitsTheTransfer();
    void serverCloseReachesTheClientAfterItsData();
    void countsTheRoundTripsTheClientWaited();
};

namespace {
// Collects what arrives on a socket while the event loop runs; the emulator
// and the servers live in this thread, so nothing may block it.
struct Collector {
    explicit Collector(QTcpSocket &socket)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this, &socket] { data += socket.readAll(); });
    }
    QByteArray data;
};
} // namespace

void TestLinkEmulator::relaysBytesIntactWithTheRoundTripDelay()
{
    EchoServer echo;
    QVERIFY(echo.listen(QHostAddress::LocalHost, 0));
    LinkEmulator link(QHostAddress::LocalHost, echo.serverPort(), {200, 0});
    QVERIFY(link.listen());

    QTcpSocket client;
    Collector got(client);
    client.connectToHost(QHostAddress::LocalHost, link.port());
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::ConnectedState, 5000);
    QByteArray payload;
    for (int i = 0; i < 5000; ++i)
        payload += char('a' + i % 26);
    QElapsedTimer t;
    t.start();
    client.write(payload.left(1000));
    client.write(payload.mid(1000));
    QTRY_COMPARE_WITH_TIMEOUT(got.data.size(), payload.size(), 10000);
    QCOMPARE(got.data, payload);
    // Up and back down: at least one whole round trip.
    QVERIFY2(t.elapsed() >= 190, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(link.connectionCount(), 1);
}

void TestLinkEmulator::bandwidthLimitsTheTransfer()
{
    EchoServer echo;
    QVERIFY(echo.listen(QHostAddress::LocalHost, 0));
    LinkEmulator link(QHostAddress::LocalHost, echo.serverPort(), {0, 100000});
    QVERIFY(link.listen());
    QTcpSocket client;
    Collector got(client);
    client.connectToHost(QHostAddress::LocalHost, link.port());
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::ConnectedState, 5000);
    const QByteArray payload(50000, 'x');
    QElapsedTimer t;
    t.start();
    client.write(payload);
    QTRY_COMPARE_WITH_TIMEOUT(got.data.size(), payload.size(), 10000);
    // 50 kB at 100 kB/s takes half a second on the way up alone.
    QVERIFY2(t.elapsed() >= 450, qPrintable(QString::number(t.elapsed())));
}

void TestLinkEmulator::serverCloseReachesTheClientAfterItsData()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    connect(&server, &QTcpServer::newConnection, &server, [&server] {
        QTcpSocket *s = server.nextPendingConnection();
        s->write("+OK bye\r\n");
        s->disconnectFromHost();
    });
    LinkEmulator link(QHostAddress::LocalHost, server.serverPort(), {100, 0});
    QVERIFY(link.listen());
    QTcpSocket client;
    QSignalSpy closed(&client, &QTcpSocket::disconnected);
    client.connectToHost(QHostAddress::LocalHost, link.port());
    QVERIFY(closed.wait(5000));
    QCOMPARE(client.readAll(), QByteArray("+OK bye\r\n"));
}

// A client that speaks only once the answer is in waits a round trip each
// time; bytes it sends before an answer arrives, or in pieces, add none.
void TestLinkEmulator::countsTheRoundTripsTheClientWaited()
{
    EchoServer echo;
    QVERIFY(echo.listen(QHostAddress::LocalHost, 0));
    LinkEmulator link(QHostAddress::LocalHost, echo.serverPort(), {40, 0});
    QVERIFY(link.listen());
    QSignalSpy ended(&link, &LinkEmulator::connectionEnded);
    QTcpSocket client;
    Collector got(client);
    client.connectToHost(QHostAddress::LocalHost, link.port());
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::ConnectedState, 5000);
    client.write("a"); // nothing answered yet: no wait
    client.write("b");
    QTRY_COMPARE_WITH_TIMEOUT(got.data, QByteArray("ab"), 10000);
    client.write("c"); // waited for "ab"
    QTRY_COMPARE_WITH_TIMEOUT(got.data, QByteArray("abc"), 10000);
    client.write("d"); // waited for "c"
    client.flush();
    client.write("e");
    QTRY_COMPARE_WITH_TIMEOUT(got.data, QByteArray("abcde"), 10000);
    client.disconnectFromHost();
    QVERIFY(ended.wait(10000));
    QCOMPARE(ended.first().first().toInt(), 2);
}

QTEST_GUILESS_MAIN(TestLinkEmulator)
#include "tst_linkemulator.moc"
