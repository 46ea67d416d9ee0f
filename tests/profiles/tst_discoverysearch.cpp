// The whole search against local stand-ins: a DNS server on a loopback
// address, an HTTPS server with its own authority, the sample POP3 server
// and a minimal IMAP greeter. Nothing leaves the machine: the seam maps
// every host name the search may reach, and unmapped ones are never tried.
#include "AccountFinder.h"
#include "LocalDnsServer.h"
#include "LocalHttpsServer.h"
#include "SamplePop3Server.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

const QByteArray kConfig = R"(<?xml version="1.0"?>
<clientConfig version="1.1"><emailProvider id="auto.test">
  <incomingServer type="pop3"><hostname>pop.%EMAILDOMAIN%</hostname><port>995</port>
    <socketType>SSL</socketType><username>%EMAILLOCALPART%</username></incomingServer>
  <incomingServer type="imap"><hostname>imap.%EMAILDOMAIN%</hostname><port>993</port>
    <socketType>SSL</socketType><username>%EMAILADDRESS%</username></incomingServer>
</emailProvider></clientConfig>)";

const QStringList kHttpsNames{"autoconfig.auto.test",       "well.test",
                              "autoconfig.bad.test",        "autoconfig.big.test",
                              "autoconfig.slow.test",       "autoconfig.hop.test",
                              "autoconfig.redirother.test", "autoconfig.evil.test",
                              "autoconfig.samehop.test",    "samehop.test",
                              "autoconfig.endless.test"};

// Greets as an IMAP server, answers CAPABILITY and LOGOUT, and keeps every
// command it was sent.
class ImapGreeter : public QTcpServer {
public:
    QList<QByteArray> commands;
    QByteArray capabilityAnswer = "OK done";

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->write("* OK IMAP4rev1 ready\r\n");
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            while (socket->canReadLine()) {
                const QByteArray line = socket->readLine().trimmed();
                commands << line;
                const QByteArray tag = line.split(' ').value(0);
                if (line.toUpper().endsWith("CAPABILITY"))
                    socket->write("* CAPABILITY IMAP4rev1 STARTTLS LOGINDISABLED\r\n" + tag + ' ' + capabilityAnswer
                                  + "\r\n");
                else
                    socket->write("* BYE\r\n" + tag + " OK bye\r\n");
            }
        });
    }
};

QStringList hosts(const QList<AccountSettings> &found)
{
    QStringList result;
    for (const AccountSettings &s : found)
        result << QStringLiteral("%1 %2:%3 %4 %5").arg(s.protocol, s.host).arg(s.port).arg(s.security, s.userName);
    return result;
}

} // namespace

class tst_discoverysearch : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void hostedDomainByMx_data();
    void hostedDomainByMx();
    void autoconfig_data();
    void autoconfig();
    void endlessFile();
    void untrustedAuthority();
    void serviceRecords();
    void probe();
    void cancel();

private:
    QList<AccountSettings> search(const QString &address, const DiscoverySeam &seam, qint64 *ms = nullptr);
    DiscoverySeam m_seam;
    LocalDnsServer m_dns;
    LocalHttpsServer m_https;
    LocalHttpsServer m_plainHttp;
    SamplePop3Server m_pop3{{}, "ann", "pw"};
    ImapGreeter m_imap;
    quint16 m_closedPort = 0;
};

void tst_discoverysearch::initTestCase()
{
    QString error;
    if (!m_dns.listen(LocalDnsServer::defaultAddress(), &error))
        QSKIP(qPrintable(QStringLiteral("no local DNS stand-in (needs root for port 53): ") + error));
    if (!m_https.start(kHttpsNames, &error))
        QSKIP(qPrintable(error));
    QVERIFY(m_plainHttp.startPlain());
    QVERIFY(m_pop3.listen());
    QVERIFY(m_imap.listen(QHostAddress::LocalHost));
    {
        QTcpServer closed; // a port nobody listens on once this is gone
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        m_closedPort = closed.serverPort();
    }

    m_dns.addMx(QStringLiteral("workspace.test"), 1, QStringLiteral("aspmx.l.google.com"));
    m_dns.addMx(QStringLiteral("m365.test"), 0, QStringLiteral("m365-test.mail.protection.outlook.com"));
    m_dns.addMx(QStringLiteral("srv.test"), 10, QStringLiteral("mx.srv.test"));
    m_dns.addSrv(QStringLiteral("_imaps._tcp.srv.test"), {10, 0, 993, QStringLiteral("mail.srv.test.")});
    m_dns.addSrv(QStringLiteral("_imap._tcp.srv.test"), {10, 0, 143, QStringLiteral("mail.srv.test.")});
    m_dns.addSrv(QStringLiteral("_pop3s._tcp.srv.test"), {0, 0, 0, QStringLiteral(".")});
    m_dns.addSrv(QStringLiteral("_imaps._tcp.srvother.test"), {0, 0, 993, QStringLiteral("imap.provider.test.")});

    const QHostAddress local(QHostAddress::LocalHost);
    m_seam.nameServer = m_dns.address();
    m_seam.authorities = m_https.authorities();
    for (const QString &name : kHttpsNames + QStringList{"imap.probe.test", "pop.probe.test", "autoconfig.plain.test"})
        m_seam.hostAddresses.insert(name, local);
    m_seam.onlyMappedHosts = true;
    m_seam.ports = {{443, m_https.serverPort()},
                    {993, m_closedPort},
                    {995, m_closedPort},
                    {143, m_imap.serverPort()},
                    {110, m_pop3.port()}};
    m_seam.budgetMs = 5000;
    m_seam.requestMs = 600;

    const auto serve = [this](const char *where, const QByteArray &body, int delay = 0) {
        m_https.setReply(QLatin1String(where), {body, 200, {}, delay});
    };
    serve("autoconfig.auto.test/mail/config-v1.1.xml", kConfig);
    serve("well.test/.well-known/autoconfig/mail/config-v1.1.xml", kConfig);
    serve("autoconfig.bad.test/mail/config-v1.1.xml", kConfig.left(kConfig.size() / 2));
    serve("autoconfig.big.test/mail/config-v1.1.xml", kConfig + QByteArray(70 * 1024, ' '));
    serve("autoconfig.slow.test/mail/config-v1.1.xml", kConfig, 3000);
    m_https.setReply(QStringLiteral("autoconfig.hop.test/mail/config-v1.1.xml"),
                     {{}, 301, "http://autoconfig.auto.test/mail/config-v1.1.xml", 0});
    m_https.setReply(QStringLiteral("autoconfig.redirother.test/mail/config-v1.1.xml"),
                     {{}, 302, "https://autoconfig.evil.test/mail/config-v1.1.xml", 0});
    serve("autoconfig.evil.test/mail/config-v1.1.xml", kConfig);
    m_https.setReply(QStringLiteral("autoconfig.samehop.test/mail/config-v1.1.xml"),
                     {{}, 301, "https://samehop.test/mail.xml", 0});
    serve("samehop.test/mail.xml", kConfig);
    serve("autoconfig.endless.test/mail/config-v1.1.xml", "<?xml version=\"1.0\"?>\n<clientConfig>");
    m_https.setEndless(QStringLiteral("autoconfig.endless.test/mail/config-v1.1.xml"));
    m_plainHttp.setReply(QStringLiteral("autoconfig.plain.test/mail/config-v1.1.xml"), {kConfig, 200, {}, 0});
}

QList<AccountSettings> tst_discoverysearch::search(const QString &address, const DiscoverySeam &seam, qint64 *ms)
{
    AccountFinder finder(seam);
    QSignalSpy done(&finder, &AccountFinder::finished);
    QElapsedTimer clock;
    clock.start();
    if (!finder.start(address))
        return {};
    if (!done.wait(seam.budgetMs + 2000))
        return {};
    if (ms)
        *ms = clock.elapsed();
    return done.at(0).at(0).value<QList<AccountSettings>>();
}

void tst_discoverysearch::hostedDomainByMx_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("imapHost");
    QTest::newRow("Google Workspace") << "ann@workspace.test"
                                      << "imap.gmail.com";
    QTest::newRow("Microsoft 365") << "ann@m365.test"
                                   << "outlook.office365.com";
}

void tst_discoverysearch::hostedDomainByMx()
{
    QFETCH(QString, address);
    const QList<AccountSettings> found = search(address, m_seam);
    QVERIFY(!found.isEmpty());
    QTEST(found.at(0).host, "imapHost");
    QCOMPARE(found.at(0).userName, address);
    QCOMPARE(found.at(0).signIn, AccountSettings::SignIn::OAuth2);
    QCOMPARE(found.at(0).source, QStringLiteral("provider table"));
}

void tst_discoverysearch::autoconfig_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("source"); // empty: the file must not be used
    QTest::newRow("valid") << "ann@auto.test"
                           << "autoconfig from https://autoconfig.auto.test/mail/config-v1.1.xml";
    QTest::newRow("well-known place")
        << "ann@well.test"
        << "autoconfig from https://well.test/.well-known/autoconfig/mail/config-v1.1.xml";
    QTest::newRow("malformed") << "ann@bad.test"
                               << "";
    QTest::newRow("oversized") << "ann@big.test"
                               << "";
    QTest::newRow("slow") << "ann@slow.test"
                          << "";
    QTest::newRow("redirect to HTTP") << "ann@hop.test"
                                      << "";
    // The file is named by where it really came from.
    QTest::newRow("redirect inside the domain") << "ann@samehop.test"
                                                << "autoconfig from https://samehop.test/mail.xml";
    QTest::newRow("redirect to another domain")
        << "ann@redirother.test"
        << "autoconfig from https://autoconfig.evil.test/mail/config-v1.1.xml, another domain than redirother.test";
}

void tst_discoverysearch::autoconfig()
{
    QFETCH(QString, address);
    QFETCH(QString, source);
    qint64 ms = 0;
    const QList<AccountSettings> found = search(address, m_seam, &ms);
    // Each request is bounded, so even the slow one ends long before the budget.
    QVERIFY2(ms < m_seam.budgetMs, qPrintable(QString::number(ms)));
    if (source.isEmpty()) {
        // Nothing else serves these domains: the search ends empty-handed.
        QVERIFY2(found.isEmpty(), qPrintable(hosts(found).join(QLatin1Char('\n'))));
        return;
    }
    const QString domain = address.section(QLatin1Char('@'), 1);
    QCOMPARE(hosts(found),
             (QStringList{QStringLiteral("IMAP imap.%1:993 SSL/TLS %2").arg(domain, address),
                          QStringLiteral("POP3 pop.%1:995 SSL/TLS ann").arg(domain)}));
    QCOMPARE(found.at(0).source, source);
}

// A body that never ends is refused at the size bound as it streams in, not
// cut off by the request's timer (made longer than the budget here, so that
// only the bound can end it in time).
void tst_discoverysearch::endlessFile()
{
    DiscoverySeam seam = m_seam;
    seam.requestMs = 60000;
    seam.budgetMs = 60000;
    AccountFinder finder(seam);
    QSignalSpy said(&finder, &AccountFinder::progress);
    QSignalSpy done(&finder, &AccountFinder::finished);
    QVERIFY(finder.start(QStringLiteral("ann@endless.test")));
    QVERIFY(done.wait(seam.budgetMs));
    QStringList lines;
    for (const QList<QVariant> &line : std::as_const(said))
        lines << line.at(0).toString();
    QVERIFY2(lines.contains(QStringLiteral("autoconfig.endless.test: refused, the file is larger than 64 KiB")),
             qPrintable(lines.join(QLatin1Char('\n'))));
    QVERIFY(!finder.timedOut());
}

void tst_discoverysearch::untrustedAuthority()
{
    // The file is served, but over a certificate no trusted authority signed.
    DiscoverySeam seam = m_seam;
    seam.authorities.clear();
    QVERIFY(search(QStringLiteral("ann@auto.test"), seam).isEmpty());
    // Nor is a file served over plain HTTP on the HTTPS port taken.
    seam = m_seam;
    seam.ports[443] = m_plainHttp.serverPort();
    QVERIFY(search(QStringLiteral("ann@plain.test"), seam).isEmpty());
}

void tst_discoverysearch::serviceRecords()
{
    const QList<AccountSettings> found = search(QStringLiteral("ann@srv.test"), m_seam);
    // "." says POP3 over TLS is not offered.
    QCOMPARE(hosts(found),
             (QStringList{QStringLiteral("IMAP mail.srv.test:993 SSL/TLS ann@srv.test"),
                          QStringLiteral("IMAP mail.srv.test:143 STARTTLS ann@srv.test")}));
    QCOMPARE(found.at(0).source, QStringLiteral("DNS SRV"));
    // A server outside the address's domain is pointed out.
    const QList<AccountSettings> elsewhere = search(QStringLiteral("ann@srvother.test"), m_seam);
    QCOMPARE(hosts(elsewhere), QStringList{QStringLiteral("IMAP imap.provider.test:993 SSL/TLS ann@srvother.test")});
    QCOMPARE(elsewhere.at(0).source, QStringLiteral("DNS SRV, a server in another domain than srvother.test"));
}

void tst_discoverysearch::probe()
{
    m_imap.commands.clear();
    const QList<AccountSettings> found = search(QStringLiteral("ann@probe.test"), m_seam);
    // The sample POP3 server offers no STLS; it is found, but ranked last.
    QCOMPARE(hosts(found),
             (QStringList{QStringLiteral("IMAP imap.probe.test:143 STARTTLS ann@probe.test"),
                          QStringLiteral("POP3 pop.probe.test:110 None ann@probe.test")}));
    QCOMPARE(found.at(0).source, QStringLiteral("probe"));
    // Capabilities only: no credential crosses while searching.
    QTRY_COMPARE(m_imap.commands, (QList<QByteArray>{"p1 CAPABILITY", "p2 LOGOUT"}));

    // A server that refuses even CAPABILITY is no server to use.
    for (const char *refusal : {"NO not now", "BAD what"}) {
        m_imap.capabilityAnswer = refusal;
        QCOMPARE(hosts(search(QStringLiteral("ann@probe.test"), m_seam)),
                 QStringList{QStringLiteral("POP3 pop.probe.test:110 None ann@probe.test")});
    }
    m_imap.capabilityAnswer = "OK done";
}

void tst_discoverysearch::cancel()
{
    AccountFinder finder(m_seam);
    QSignalSpy done(&finder, &AccountFinder::finished);
    QVERIFY(!finder.start(QStringLiteral("not an address")));
    // Cancelled before it began: nothing is asked at all.
    const int queries = m_dns.queries();
    QVERIFY(finder.start(QStringLiteral("ann@slow.test")));
    finder.cancel();
    QTest::qWait(100);
    QCOMPARE(m_dns.queries(), queries);
    // Cancelled while the slow file is awaited.
    QVERIFY(finder.start(QStringLiteral("ann@slow.test")));
    QTest::qWait(200);
    finder.cancel();
    QVERIFY(!finder.isRunning());
    QTest::qWait(m_seam.requestMs * 2);
    QCOMPARE(done.size(), 0);
}

QTEST_GUILESS_MAIN(tst_discoverysearch)
#include "tst_discoverysearch.moc"
