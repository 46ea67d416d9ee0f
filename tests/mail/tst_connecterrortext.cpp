// A server that cannot be reached: the box keeps its two lines and says what
// happened (refused, name not found, no answer in time, network unreachable)
// and what to check.
#include "ConnectErrorText.h"
#include "MailTestFixture.h"

#include <QTcpServer>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {
const QString kLead = u"Unable to connect to Host.\r\nCheck Network Connection\r\n"_s;
}

class TestConnectErrorText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void texts_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("system");
        QTest::addColumn<QString>("what"); // what happened
        QTest::addColumn<QString>("check"); // what to check
        using S = QAbstractSocket;
        QTest::newRow("refused") << int(S::ConnectionRefusedError) << u"Connection refused"_s
                                 << u"The server pop.example.invalid refused the connection on port 2110"_s
                                 << u"Check the port"_s;
        QTest::newRow("host not found") << int(S::HostNotFoundError) << u"Host not found"_s
                                        << u"The server name \"pop.example.invalid\" was not found"_s
                                        << u"Check its spelling"_s;
        QTest::newRow("timed out") << int(S::SocketTimeoutError) << QString()
                                   << u"did not answer on port 2110 within 20 seconds"_s << u"firewall"_s;
        QTest::newRow("no error before the wait ran out: timed out too")
            << int(S::UnknownSocketError) << u"Unknown error"_s << u"did not answer on port 2110 within 20 seconds"_s
            << u"firewall"_s;
        QTest::newRow("network unreachable") << int(S::NetworkError) << u"Network unreachable"_s
                                             << u"cannot reach the server pop.example.invalid (Network unreachable)"_s
                                             << u"online (cable, Wi-Fi or VPN)"_s;
        QTest::newRow("proxy") << int(S::ProxyNotFoundError) << u"Proxy not found"_s << u"The proxy"_s
                               << u"Check the proxy settings"_s;
        QTest::newRow("anything else: the system's words")
            << int(S::SocketResourceError) << u"Too many open files"_s << u"could not be opened: Too many open files"_s
            << u"Check the server name and the port"_s;
    }
    void texts()
    {
        QFETCH(int, error);
        QFETCH(QString, system);
        QFETCH(QString, what);
        QFETCH(QString, check);
        const QString text = ConnectErrorText(QAbstractSocket::SocketError(error), u"pop.example.invalid"_s, u"2110"_s,
                                              20, system);
        QVERIFY2(text.startsWith(kLead), qPrintable(text));
        QVERIFY2(text.contains(what), qPrintable(text));
        QVERIFY2(text.indexOf(check) > text.indexOf(what), qPrintable(text));
    }

    // A port nobody listens on, through a real fetch: the box is titled with
    // the host and names the port that refused.
    void refusedPortThroughFetch()
    {
        MailFixture f;
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const QString port = QString::number(probe.serverPort());
        probe.close();
        f.settings.EmailPort = port;
        f.fetch();
        QCOMPARE(f.boxes.shown().size(), 1);
        const MessageBox::Request box = f.boxes.shown().first();
        QCOMPARE(box.title, u"127.0.0.1"_s);
        QVERIFY2(box.text.startsWith(kLead)
                     && box.text.contains(u"The server 127.0.0.1 refused the connection on port "_s + port),
                 qPrintable(box.text));
        QCOMPARE(f.status.statusText, u"Disconnected"_s);
    }
};

QTEST_MAIN(TestConnectErrorText)
#include "tst_connecterrortext.moc"
