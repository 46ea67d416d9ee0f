#include "MailTestFixture.h"

#include <QTest>

using testsupport::ScriptedPop3Server;
using Icon = MessageBox::Icon;

namespace {
MessageEntry row(qint32 number, const QString &uid = {})
{
    MessageEntry e;
    e.sender = QStringLiteral("sender%1@x.example").arg(number);
    e.subject = QStringLiteral("Subject %1").arg(number);
    e.date = QStringLiteral("Mon, 1 Jun 2026 10:00:00 +0000");
    e.number = number;
    e.uid = uid;
    return e;
}

QByteArray headerOf(const MessageEntry &e)
{
    return ScriptedPop3Server::headers({"From: " + e.sender.toLatin1(), "Subject: " + e.subject.toLatin1(),
                                        "Date: " + e.date.toLatin1()});
}
} // namespace

// Every conversation runs with and without PIPELINING offered: the DELE
// commands, their order and what the user sees stay the same.
class TestEmptyRecycleBin : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase_data()
    {
        QTest::addColumn<bool>("pipelined");
        QTest::newRow("plain") << false;
        QTest::newRow("pipelined") << true;
    }
    void init()
    {
        f = std::make_unique<MailFixture>();
        if (pipelined())
            f->server.setDefaultCapabilities({"UIDL", "PIPELINING"});
        for (qint32 n : {2, 5, 9})
            f->recycle.append(row(n, QStringLiteral("u%1").arg(n)));
    }
    void cleanup() { f.reset(); }

    void deletionOrder();
    void uidsMapToCurrentNumbers();
    void oneLeftOnServer_data();
    void oneLeftOnServer();
    void dropRestoresRows();
    void cancelMidWindow();

private:
    static bool pipelined()
    {
        QFETCH_GLOBAL(bool, pipelined);
        return pipelined;
    }
    void uidlAsFetched() { f->server.uidl({"u1", "u2", "u3", "u4", "u5", "u6", "u7", "u8", "u9"}); }
    std::unique_ptr<MailFixture> f;
};

void TestEmptyRecycleBin::deletionOrder()
{
    f->server.greet().login();
    uidlAsFetched();
    f->server.dele(9).dele(5).dele(2).quit();
    f->empty();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->server.commands(),
             (QList<QByteArray>{"CAPA", "USER user", "PASS secret", "UIDL", "DELE 9", "DELE 5", "DELE 2", "QUIT"}));
    QCOMPARE(f->recycle.count(), 0);
    QCOMPARE(f->status.eventsStartingWith(QStringLiteral("node:")),
             (QStringList{"node:Recycle Bin (2)", "node:Recycle Bin (1)", "node:Recycle Bin (0)"}));
    QTRY_VERIFY_WITH_TIMEOUT(!f->server.clientConnected(), 5000);
}

void TestEmptyRecycleBin::uidsMapToCurrentNumbers()
{
    // Since the fetch another client removed messages 2 and 3: message u5 is
    // now number 3 and u9 number 7; u2 is gone and must not take a stranger
    // down with it.
    f->server.greet().login().uidl({"u1", "u4", "u5", "u6", "u7", "u8", "u9"}).dele(7).dele(3).quit();
    f->empty();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->recycle.count(), 0);
    QCOMPARE(f->status.eventsStartingWith(QStringLiteral("node:")).last(), QStringLiteral("node:Recycle Bin (0)"));
}

void TestEmptyRecycleBin::oneLeftOnServer_data()
{
    QTest::addColumn<bool>("uidl");
    QTest::addColumn<qint32>("left");
    QTest::newRow("DELE 9 refused") << true << 9;
    // Without UIDL each header is read back first: 2 is now somebody else's.
    QTest::newRow("UIDL refused, message 2 changed") << false << 2;
}

void TestEmptyRecycleBin::oneLeftOnServer()
{
    QFETCH(bool, uidl);
    QFETCH(qint32, left);
    f->server.greet().login();
    if (uidl) {
        uidlAsFetched();
        f->server.dele(9, false).dele(5).dele(2);
    } else {
        MessageEntry other = row(2);
        other.subject = QStringLiteral("Somebody else's message");
        f->server.expect("UIDL", "-ERR not supported\r\n").top(9, headerOf(row(9))).dele(9)
            .top(5, headerOf(row(5))).dele(5).top(2, headerOf(other));
    }
    f->server.quit();
    f->boxes.expect(QStringLiteral("1 of 3 messages could not be deleted on the server (refused, or changed since "
                                   "the fetch); they stay in the Recycle Bin."),
                    QStringLiteral("Error"), Icon::Critical);
    f->empty();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(rowNumbers(f->recycle), QList<qint32>{left});
    QCOMPARE(f->status.nodeTexts.value(QStringLiteral("Recycle Bin")), QStringLiteral("Recycle Bin (1)"));
}

void TestEmptyRecycleBin::dropRestoresRows()
{
    // The line drops before QUIT: the server rolls back, so every row comes back.
    f->server.greet().login().uidl({"u1", "u3", "u4", "u5", "u6", "u7", "u8", "u9"}).dele(8).expectDrop("DELE 4");
    f->boxes.expect(QStringLiteral("The server closed the connection.\r\nNothing was deleted; the messages are back in "
                                   "the Recycle Bin."),
                    QStringLiteral("Error"), Icon::Critical);
    f->empty(MailFixture::kTestLimitMs);
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(rowNumbers(f->recycle), (QList<qint32>{2, 5, 9}));
    QCOMPARE(f->status.nodeTexts.value(QStringLiteral("Recycle Bin")), QStringLiteral("Recycle Bin (3)"));
}

void TestEmptyRecycleBin::cancelMidWindow()
{
    if (!pipelined())
        QSKIP("pipelining only");
    // 400 rows; Cancel once two deletions are shown, while the server holds
    // back its third answer. Every DELE already sent is acted on by the
    // server at QUIT, so its answer still removes its row; no further DELE
    // goes out.
    const int n = 400;
    f->recycle.clear();
    QList<QByteArray> uids;
    for (int i = 1; i <= n; ++i) {
        f->recycle.append(row(i, QStringLiteral("u%1").arg(i)));
        uids << "u" + QByteArray::number(i);
    }
    f->server.greet().login().uidl(uids);
    for (int i = n; i >= 1; --i) {
        f->server.dele(i);
        if (i == n - 2)
            f->server.delayed(300);
        if (i < n - 1)
            f->server.optional();
    }
    f->server.quit();
    f->status.onEvent = [](const QString &event) {
        if (event == QLatin1String("status:Deleted 2 of 400"))
            Global::CancelRequested().set();
    };
    f->empty();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QList<QByteArray> sent = f->server.commands().mid(4);
    QCOMPARE(sent.takeLast(), QByteArray("QUIT"));
    const qsizetype deles = sent.size();
    QVERIFY2(deles > 3 && deles < n, QByteArray::number(deles).constData());
    QCOMPARE(f->server.unansweredBefore("QUIT"), 0);
    QCOMPARE(f->recycle.count(), n - int(deles));
}

QTEST_GUILESS_MAIN(TestEmptyRecycleBin)
#include "tst_emptyrecyclebin.moc"
