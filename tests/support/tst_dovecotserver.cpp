// The private Dovecot that the secure-session tests talk to: it must start on
// free loopback ports, serve the messages put into it, and speak TLS both from
// the first byte and after STLS, with a certificate the test can trust.
#include "DovecotServer.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTest>

using testsupport::DovecotServer;

namespace {
QByteArray readLine(QTcpSocket &s)
{
    while (!s.canReadLine()) {
        if (!s.waitForReadyRead(10000))
            return {};
    }
    return s.readLine();
}

QByteArray command(QTcpSocket &s, const QByteArray &line)
{
    s.write(line + "\r\n");
    return readLine(s);
}

QSslConfiguration trusting(const QByteArray &pem)
{
    QSslConfiguration c = QSslConfiguration::defaultConfiguration();
    c.setCaCertificates(QSslCertificate::fromData(pem));
    return c;
}
} // namespace

class TestDovecotServer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void plainLoginSeesTheMessages();
    void stlsUpgradesWithTheRunsCertificate();
    void implicitTlsRefusesAnUntrustedCertificate();

private:
    DovecotServer m_server;
};

void TestDovecotServer::initTestCase()
{
    QString why;
    if (!DovecotServer::available(&why))
        QSKIP(qPrintable(why));
    QVERIFY(m_server.addMessage("From: Ann <ann@example.org>\r\nSubject: one\r\n\r\nbody\r\n"));
    QVERIFY(m_server.addMessage("From: Bob <bob@example.org>\r\nSubject: two\r\n\r\nbody\r\n"));
    QString error;
    QVERIFY2(m_server.start(&error), qPrintable(error));
}

void TestDovecotServer::plainLoginSeesTheMessages()
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, m_server.plainPort());
    QVERIFY(s.waitForConnected(5000));
    QVERIFY(readLine(s).startsWith("+OK"));
    QVERIFY(command(s, "USER " + m_server.user().toLatin1()).startsWith("+OK"));
    QVERIFY(command(s, "PASS wrong").startsWith("-ERR"));
    QVERIFY(command(s, "USER " + m_server.user().toLatin1()).startsWith("+OK"));
    QVERIFY(command(s, "PASS " + m_server.password().toLatin1()).startsWith("+OK"));
    QCOMPARE(command(s, "STAT").left(6), QByteArray("+OK 2 "));
    QVERIFY(command(s, "QUIT").startsWith("+OK"));
}

void TestDovecotServer::stlsUpgradesWithTheRunsCertificate()
{
    QSslSocket s;
    s.setSslConfiguration(trusting(m_server.certificatePem()));
    s.connectToHost(QStringLiteral("localhost"), m_server.plainPort());
    QVERIFY(s.waitForConnected(5000));
    QVERIFY(readLine(s).startsWith("+OK"));
    QVERIFY(command(s, "STLS").startsWith("+OK"));
    s.startClientEncryption();
    QVERIFY2(s.waitForEncrypted(10000), qPrintable(s.errorString()));
    QVERIFY(command(s, "USER " + m_server.user().toLatin1()).startsWith("+OK"));
    QVERIFY(command(s, "PASS " + m_server.password().toLatin1()).startsWith("+OK"));
    QVERIFY(command(s, "QUIT").startsWith("+OK"));
}

void TestDovecotServer::implicitTlsRefusesAnUntrustedCertificate()
{
    QSslSocket untrusted;
    untrusted.connectToHostEncrypted(QStringLiteral("localhost"), m_server.tlsPort());
    QVERIFY(!untrusted.waitForEncrypted(10000));
    QVERIFY(!untrusted.sslHandshakeErrors().isEmpty());

    QSslSocket trusted;
    trusted.setSslConfiguration(trusting(m_server.certificatePem()));
    trusted.connectToHostEncrypted(QStringLiteral("localhost"), m_server.tlsPort());
    QVERIFY2(trusted.waitForEncrypted(10000), qPrintable(trusted.errorString()));
    QVERIFY(readLine(trusted).startsWith("+OK"));
}

QTEST_GUILESS_MAIN(TestDovecotServer)
#include "tst_dovecotserver.moc"
