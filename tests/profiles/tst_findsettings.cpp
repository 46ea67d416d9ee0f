// The Find Settings dialog against local stand-ins: a DNS server that knows
// nothing and a POP3 server without encryption, the only host the search
// may reach.
#include "LocalDnsServer.h"
#include "ProfileTestHelpers.h"
#include "frmFindSettings.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QTcpServer>
#include <QTcpSocket>

using MessageBox::Icon;
using MessageBox::Result;

namespace {

// Greets as a POP3 server offering no STLS, or says nothing at all.
class Pop3Greeter : public QTcpServer {
public:
    bool silent = false;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
        if (silent)
            return;
        socket->write("+OK ready\r\n");
        connect(socket, &QTcpSocket::readyRead, socket, [socket] {
            while (socket->canReadLine())
                socket->write(socket->readLine().startsWith("CAPA") ? "-ERR no CAPA\r\n" : "+OK bye\r\n");
        });
    }
};

const QString kClearQuestion = QStringLiteral(
    "This choice connects to pop.clear.test without encryption: your password would cross the network in clear, "
    "readable by anyone on the way.\r\nUse it anyway?");

} // namespace

class tst_findsettings : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void opensWithHint();
    void clearTextAsksFirst();
    void timeoutStaysSaid();

private:
    // Shows the dialog (it searches at once) and waits for the search's end.
    static void searchEnds(frmFindSettings &dialog, int budgetMs);

    LocalDnsServer m_dns;
    Pop3Greeter m_pop3;
    DiscoverySeam m_seam;
};

void tst_findsettings::initTestCase()
{
    QString error;
    // Beside the search test's stand-in, so that both may run at once.
    if (!m_dns.listen(QHostAddress(QStringLiteral("127.0.83.2")), &error))
        QSKIP(qPrintable(QStringLiteral("no local DNS stand-in (needs root for port 53): ") + error));
    QVERIFY(m_pop3.listen(QHostAddress::LocalHost));
    quint16 closedPort = 0;
    {
        QTcpServer closed; // a port nobody listens on once this is gone
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        closedPort = closed.serverPort();
    }
    m_seam.nameServer = m_dns.address();
    m_seam.hostAddresses.insert(QStringLiteral("pop.clear.test"), QHostAddress(QHostAddress::LocalHost));
    m_seam.onlyMappedHosts = true;
    m_seam.ports = {{443, closedPort},
                    {993, closedPort},
                    {995, closedPort},
                    {143, closedPort},
                    {110, m_pop3.serverPort()}};
    m_seam.budgetMs = 20000;
    m_seam.requestMs = 5000;
}

void tst_findsettings::searchEnds(frmFindSettings &dialog, int budgetMs)
{
    dialog.show();
    auto *find = profiletest::child<QWidget>(&dialog, QStringLiteral("cmdFind"));
    // Find is off while the search runs.
    QVERIFY(!find->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(find->isEnabled(), budgetMs + 5000);
}

void tst_findsettings::opensWithHint()
{
    frmFindSettings dialog(QString(), nullptr, m_seam);
    dialog.show();
    const auto *address = profiletest::child<QLineEdit>(&dialog, QStringLiteral("txtAddress"));
    QVERIFY(address->text().isEmpty());
    QVERIFY(!address->placeholderText().isEmpty());
    QVERIFY2(profiletest::child<QLabel>(&dialog, QStringLiteral("lblProgress"))->text().contains(u"email address"_qs),
             "an empty dialog says what to type");
}

// The clear-text choice says so in its line, wraps rather than hiding its
// source, and OK asks before taking it; No keeps the dialog open.
void tst_findsettings::clearTextAsksFirst()
{
    testsupport::MessageBoxRecorder boxes;
    const auto dialog = std::make_unique<frmFindSettings>(QStringLiteral("ann@clear.test"), nullptr, m_seam);
    searchEnds(*dialog, m_seam.budgetMs);
    if (QTest::currentTestFailed())
        return;
    auto *list = profiletest::child<QListWidget>(dialog.get(), QStringLiteral("lstChoices"));
    QCOMPARE(list->count(), 1);
    const QString line = list->item(0)->text();
    QVERIFY2(line.contains(u"NOT ENCRYPTED"_qs) && line.endsWith(u"(probe)"_qs), qPrintable(line));

    dialog->resize(360, dialog->height());
    QTRY_VERIFY(list->viewport()->width() < list->fontMetrics().horizontalAdvance(line));
    QTRY_VERIFY(list->visualItemRect(list->item(0)).height() >= 2 * list->fontMetrics().height());
    QVERIFY(list->visualItemRect(list->item(0)).right() <= list->viewport()->width());
    QVERIFY(!list->horizontalScrollBar()->isVisible());

    boxes.expect(kClearQuestion, QStringLiteral("Find Settings"), Icon::Exclamation, Result::No);
    QVERIFY(!dialog->cmdOK_Click());
    QVERIFY(dialog->isVisible());
    QVERIFY(!dialog->chosen());
    boxes.expect(kClearQuestion, QStringLiteral("Find Settings"), Icon::Exclamation, Result::Yes);
    QVERIFY(dialog->cmdOK_Click());
    VERIFY_BOXES(boxes);
    QCOMPARE(dialog->chosen()->host, u"pop.clear.test"_qs);
    QCOMPARE(dialog->chosen()->security, u"None"_qs);
}

// A search that ran out of time says so; "nothing found" does not replace it.
void tst_findsettings::timeoutStaysSaid()
{
    Pop3Greeter silent;
    silent.silent = true;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    DiscoverySeam seam = m_seam;
    seam.ports[110] = silent.serverPort();
    seam.requestMs = 60000; // only the budget can end it
    seam.budgetMs = 300;
    const auto dialog = std::make_unique<frmFindSettings>(QStringLiteral("ann@clear.test"), nullptr, seam);
    searchEnds(*dialog, seam.budgetMs);
    if (QTest::currentTestFailed())
        return;
    const QString said = profiletest::child<QLabel>(dialog.get(), QStringLiteral("lblProgress"))->text();
    QVERIFY2(said.contains(u"took too long"_qs), qPrintable(said));
}

QTEST_MAIN(tst_findsettings)
#include "tst_findsettings.moc"
