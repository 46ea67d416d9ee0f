#include "MailTestFixture.h"

#include <QTest>

using testsupport::ScriptedPop3Server;
using Icon = MessageBox::Icon;

// TOP n answered with the header of row m (0: another message's).
using Checks = QList<QPair<int, int>>;

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
    void identity_data();
    void identity();
    void quitRefused();
    void cancelDuringDele();
    void outOfStep();
    void bigListing_data();
    void bigListing();

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
        f->server.expect("UIDL", "-ERR not supported\r\n").top(9, headerOf(row(9))).top(5, headerOf(row(5)))
            .top(2, headerOf(other)).dele(9).dele(5);
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
    // 4,000 rows, more than the first window holds; Cancel once two
    // deletions are shown, while the server holds back its third answer. Every DELE already sent is acted on by the
    // server at QUIT, so its answer still removes its row; no further DELE
    // goes out.
    const int n = 4000;
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
        if (event == QLatin1String("status:Deleted 2 of 4000"))
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

void TestEmptyRecycleBin::identity_data()
{
    // Rows 2, 5 and 9 (ids u2, u5, u9) against listings where an id does not
    // name one message: the header decides, and only when it singles one out.
    QTest::addColumn<QList<QByteArray>>("listing");
    QTest::addColumn<bool>("row5WithoutId"); // the fetch saw its id twice
    QTest::addColumn<Checks>("checks");
    QTest::addColumn<QList<int>>("removed");
    const QList<QByteArray> twice{"u1", "u2", "u3", "u4", "u5", "u6", "u7", "u8", "u9", "u2"};
    QTest::newRow("id listed twice, one header matches")
        << twice << false << Checks{{2, 2}, {10, 0}} << QList<int>{9, 5, 2};
    QTest::newRow("id listed twice, both headers match")
        << twice << false << Checks{{2, 2}, {10, 2}} << QList<int>{9, 5};
    QTest::newRow("fetched without an id, header matches")
        << twice.mid(0, 9) << true << Checks{{5, 5}} << QList<int>{9, 5, 2};
    QTest::newRow("fetched without an id, header changed")
        << twice.mid(0, 9) << true << Checks{{5, 0}} << QList<int>{9, 2};
}

void TestEmptyRecycleBin::identity()
{
    QFETCH(QList<QByteArray>, listing);
    QFETCH(bool, row5WithoutId);
    QFETCH(Checks, checks);
    QFETCH(QList<int>, removed);
    if (row5WithoutId) {
        f->recycle.clear();
        for (const MessageEntry &e : {row(2, QStringLiteral("u2")), row(5), row(9, QStringLiteral("u9"))})
            f->recycle.append(e);
    }
    MessageEntry stranger = row(0);
    stranger.subject = QStringLiteral("Somebody else's message");
    f->server.greet().login().uidl(listing);
    for (const auto &[number, of] : checks)
        f->server.top(number, headerOf(of ? row(of) : stranger));
    for (const int n : removed)
        f->server.dele(n);
    f->server.quit();
    if (removed.size() < 3)
        f->boxes.expect(QStringLiteral("1 of 3 messages could not be deleted on the server (refused, or changed since "
                                       "the fetch); they stay in the Recycle Bin."),
                        QStringLiteral("Error"), Icon::Critical);
    f->empty();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->server.removed(), removed);
    QCOMPARE(f->recycle.count(), 3 - int(removed.size()));
}

void TestEmptyRecycleBin::quitRefused()
{
    // "-ERR some deleted messages not removed": nothing is known to be gone.
    f->server.greet().login();
    uidlAsFetched();
    f->server.dele(9).dele(5).dele(2).expect("QUIT", "-ERR some deleted messages not removed\r\n");
    f->boxes.expect(QStringLiteral("The server did not confirm the deletions.\r\nThe server said: -ERR some deleted "
                                   "messages not removed\r\nThe messages are back in the Recycle Bin."),
                    QStringLiteral("Error"), Icon::Critical);
    f->empty();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->server.removed(), QList<int>());
    QCOMPARE(rowNumbers(f->recycle), (QList<qint32>{2, 5, 9}));
}

void TestEmptyRecycleBin::cancelDuringDele()
{
    if (pipelined())
        QSKIP("cancelMidWindow covers the pipelined window");
    // Cancel while DELE 5 is unanswered: the server acts on it at QUIT, so its
    // answer is awaited and removes the row; no further DELE goes out.
    f->server.greet().login();
    uidlAsFetched();
    f->server.dele(9).dele(5).delayed(300).then([] { Global::CancelRequested().set(); }).quit();
    f->empty();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->server.removed(), (QList<int>{9, 5}));
    QCOMPARE(rowNumbers(f->recycle), QList<qint32>{2});
    QCOMPARE(f->status.statusText, QStringLiteral("Empty Recycle Bin cancelled: 2 messages deleted"));
}

void TestEmptyRecycleBin::outOfStep()
{
    // Message 9's header holds a line "." the server did not stuff: its rest
    // arrives as the answer to TOP 5. No DELE, no QUIT: the server acts on nothing.
    f->server.greet().login().expect("UIDL", "-ERR not supported\r\n")
        .expect("TOP 9 0", "+OK\r\nFrom: sender9@x.example\r\n.\r\nSubject: Subject 9\r\n\r\n.\r\n")
        .top(5, headerOf(row(5))).optional() // the close may overtake it
        .top(2, headerOf(row(2))).optional(); // sent ahead with PIPELINING
    f->boxes.expect(QStringLiteral("The server's replies no longer match the commands sent, so the connection was "
                                   "closed without letting the server act on this session.\r\nNothing was deleted; "
                                   "the messages are back in the Recycle Bin."),
                    QStringLiteral("Error"), Icon::Critical);
    f->empty();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QVERIFY(!f->server.commands().contains("QUIT"));
    QCOMPARE(rowNumbers(f->recycle), (QList<qint32>{2, 5, 9}));
}

void TestEmptyRecycleBin::bigListing_data()
{
    QTest::addColumn<qint64>("limit");
    QTest::newRow("read whole") << qint64(64 * 1024 * 1024);
    QTest::newRow("over the limit") << qint64(1024 * 1024);
}

void TestEmptyRecycleBin::bigListing()
{
    // 100,000 messages, listed in pieces cut anywhere; message k has the id
    // "id<k+1>", so ids are prefixes of one another and "id1" is gone.
    QFETCH(qint64, limit);
    const int n = 100000;
    QByteArray listing = "+OK\r\n";
    for (int k = 1; k <= n; ++k)
        listing += QByteArray::number(k) + " id" + QByteArray::number(k + 1) + "\r\n";
    listing += ".\r\n";
    QList<QByteArray> pieces;
    const int parts = 40;
    for (qsizetype i = 0, from = 0; i < parts; ++i) {
        const qsizetype to = i + 1 == parts ? listing.size() : (i + 1) * listing.size() / parts + 7;
        pieces << listing.mid(from, to - from);
        from = to;
    }
    f->recycle.clear();
    for (const int k : {1, 10, 100, 100001})
        f->recycle.append(row(k, QStringLiteral("id%1").arg(k)));
    f->options.listingLimitBytes = limit;
    f->server.greet().login().expectPieces("UIDL", pieces);
    const bool whole = limit > listing.size();
    if (whole) {
        f->server.dele(100000).dele(99).dele(9).quit();
    } else {
        f->boxes.expect(QStringLiteral("The server's message listing is larger than 1 MB, so the connection was "
                                       "closed.\r\nNothing was deleted; the messages are back in the Recycle Bin."),
                        QStringLiteral("Error"), Icon::Critical);
    }
    f->empty();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->server.removed(), whole ? (QList<int>{100000, 99, 9}) : QList<int>());
    QCOMPARE(f->recycle.count(), whole ? 0 : 4);
    if (whole)
        QCOMPARE(f->status.statusText,
                 QStringLiteral("Empty Recycle Bin: 3 messages deleted, 1 already gone from the server"));
}

QTEST_GUILESS_MAIN(TestEmptyRecycleBin)
#include "tst_emptyrecyclebin.moc"
