#include "MailTestFixture.h"

#include "DeletionHistory.h"
#include "HeaderDigest.h"
#include "RuleDatabase.h"

#include <QTemporaryDir>
#include <QTest>

using testsupport::ScriptedPop3Server;
using Icon = MessageBox::Icon;

// TOP n answered with the header of message m as the fetch read it (0:
// another message's header, -1: "-ERR no such message").
using Checks = QList<QPair<int, int>>;

namespace {
QByteArray headerOf(qint32 number)
{
    return ScriptedPop3Server::headers({"From: sender" + QByteArray::number(number) + "@x.example",
                                        "Subject: Subject " + QByteArray::number(number),
                                        "Date: Mon, 1 Jun 2026 10:00:00 +0000"});
}

// Message `number` as the fetch saw it: its texts, id and header digest.
MessageEntry row(qint32 number, const QString &uid = {})
{
    MessageEntry e;
    e.sender = QStringLiteral("sender%1@x.example").arg(number);
    e.subject = QStringLiteral("Subject %1").arg(number);
    e.date = QStringLiteral("Mon, 1 Jun 2026 10:00:00 +0000");
    e.number = number;
    e.uid = uid;
    const QByteArray block =
        HeaderDigest::blockOfReply(QString::fromLatin1(ScriptedPop3Server::topReply(headerOf(number))));
    e.setHeaderBlock(block);
    e.digest = HeaderDigest::of(block);
    return e;
}

const QByteArray kStranger = ScriptedPop3Server::headers(
    {"From: someone@else.example", "Subject: Somebody else's message", "Date: Mon, 1 Jun 2026 10:00:00 +0000"});

// The title of the box when rows only changed on the server (none refused).
const QString kChangedTitle = QStringLiteral("Empty Recycle Bin");

QString notDeletedBox(int n, int of)
{
    return QStringLiteral("%1 of %2 messages could not be deleted on the server (refused, or changed since the "
                          "fetch); %3 in the Recycle Bin.")
        .arg(n)
        .arg(of)
        .arg(n == 1 ? QStringLiteral("it stays") : QStringLiteral("they stay"));
}
} // namespace

// Every conversation runs with and without PIPELINING offered: the commands,
// their order and what the user sees stay the same.
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
    void oneLeftOnServer_data();
    void oneLeftOnServer();
    void dropRestoresRows();
    void cancelMidWindow();
    void cancelWhileRepliesOwed();
    void identity_data();
    void identity();
    void historyBeforeQuit_data();
    void historyBeforeQuit();
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
    // Each row's header read back at its own number.
    void headersAsFetched() { f->server.top(9, headerOf(9)).top(5, headerOf(5)).top(2, headerOf(2)); }
    // With PIPELINING a TOP goes out with UIDL for each row's number in the
    // fetch; where the listing moved the row, its answer is not needed.
    void unneededTop(int number) { f->server.top(number, kStranger).optional(); }
    std::unique_ptr<MailFixture> f;
};

void TestEmptyRecycleBin::deletionOrder()
{
    f->server.greet().login();
    uidlAsFetched();
    headersAsFetched();
    f->server.dele(9).dele(5).dele(2).quit();
    f->empty();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->server.commands(),
             (QList<QByteArray>{"CAPA", "USER user", "PASS secret", "UIDL", "TOP 9 0", "TOP 5 0", "TOP 2 0", "DELE 9",
                                "DELE 5", "DELE 2", "QUIT"}));
    QCOMPARE(f->server.removed(), (QList<int>{9, 5, 2}));
    QCOMPARE(f->recycle.count(), 0);
    QCOMPARE(f->status.eventsStartingWith(QStringLiteral("node:")),
             (QStringList{"node:Recycle Bin (2)", "node:Recycle Bin (1)", "node:Recycle Bin (0)"}));
    QTRY_VERIFY_WITH_TIMEOUT(!f->server.clientConnected(), 5000);
}

void TestEmptyRecycleBin::oneLeftOnServer_data()
{
    QTest::addColumn<bool>("uidl");
    QTest::addColumn<qint32>("left");
    QTest::newRow("DELE 9 refused") << true << 9;
    // Without UIDL each header is read at the row's number: 2 is now somebody else's.
    QTest::newRow("UIDL refused, message 2 changed") << false << 2;
}

void TestEmptyRecycleBin::oneLeftOnServer()
{
    QFETCH(bool, uidl);
    QFETCH(qint32, left);
    f->server.greet().login();
    if (uidl) {
        uidlAsFetched();
        headersAsFetched();
        f->server.dele(9, false).dele(5).dele(2);
    } else {
        f->server.expect("UIDL", "-ERR not supported\r\n")
            .top(9, headerOf(9))
            .top(5, headerOf(5))
            .top(2, kStranger)
            .dele(9)
            .dele(5);
    }
    f->server.quit();
    // A refusal is an error; a message changed on the server is news.
    f->boxes.expect(notDeletedBox(1, 3), uidl ? QStringLiteral("Error") : kChangedTitle, Icon::Critical);
    f->empty();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(rowNumbers(f->recycle), QList<qint32>{left});
    QCOMPARE(f->status.nodeTexts.value(QStringLiteral("Recycle Bin")), QStringLiteral("Recycle Bin (1)"));
}

void TestEmptyRecycleBin::dropRestoresRows()
{
    // The line drops before QUIT: the server rolls back, so every row comes back.
    f->server.greet().login().uidl({"u1", "u3", "u4", "u5", "u6", "u7", "u8", "u9"});
    for (const int guess : {9, 5, 2})
        unneededTop(guess);
    f->server.top(8, headerOf(9)).top(4, headerOf(5)).dele(8).expectDrop("DELE 4");
    f->boxes.expect(QStringLiteral("The server closed the connection.\r\nNothing was deleted; the messages are back in "
                                   "the Recycle Bin."),
                    QStringLiteral("Error"), Icon::Critical);
    f->empty();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->server.removed(), QList<int>());
    QCOMPARE(rowNumbers(f->recycle), (QList<qint32>{2, 5, 9}));
    QCOMPARE(f->status.nodeTexts.value(QStringLiteral("Recycle Bin")), QStringLiteral("Recycle Bin (3)"));
}

void TestEmptyRecycleBin::cancelMidWindow()
{
    if (!pipelined())
        QSKIP("pipelining only");
    // 4,000 rows, more DELEs than the first window holds; Cancel once two
    // deletions are shown, while the server holds back its third answer.
    // Every DELE already written is acted on by the server at QUIT, so QUIT
    // goes out only once all their answers came, and the rows gone are
    // exactly the messages the server removed.
    const int n = 4000;
    f->recycle.clear();
    QList<QByteArray> uids;
    for (int i = 1; i <= n; ++i) {
        f->recycle.append(row(i, QStringLiteral("u%1").arg(i)));
        uids << "u" + QByteArray::number(i);
    }
    f->server.greet().login().uidl(uids);
    for (int i = n; i >= 1; --i)
        f->server.top(i, headerOf(i));
    for (int i = n; i >= 1; --i) {
        f->server.dele(i);
        if (i == n - 2)
            f->server.delayed(300);
        if (i < n - 1)
            f->server.optional();
    }
    f->server.quit();
    f->status.onEvent = [n](const QString &event) {
        if (event == QStringLiteral("status:Deleted 2 of %1").arg(n))
            Global::CancelRequested().set();
    };
    f->empty();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QList<QByteArray> sent = f->server.commands().mid(4 + n);
    QCOMPARE(sent.takeLast(), QByteArray("QUIT"));
    const qsizetype deles = sent.size();
    QVERIFY2(deles > 3 && deles < n, QByteArray::number(deles).constData());
    QCOMPARE(f->server.unansweredBefore("QUIT"), 0);
    QCOMPARE(f->server.removed().size(), deles);
    QCOMPARE(f->recycle.count(), n - int(deles));
    QCOMPARE(f->status.statusText, QStringLiteral("Empty Recycle Bin cancelled: %1 messages deleted").arg(deles));
}

void TestEmptyRecycleBin::cancelWhileRepliesOwed()
{
    // Cancel while DELE 5 is out and the server answers nothing more: its
    // reply (and with PIPELINING, DELE 2's) never comes within the grace, so
    // the session ends without QUIT and the server removes nothing at all.
    f->options.cancelGraceMs = 300;
    f->server.greet().login();
    uidlAsFetched();
    headersAsFetched();
    f->server.dele(9).expectStall("DELE 5").then([] { Global::CancelRequested().set(); });
    f->boxes.expect(QStringLiteral("The server did not finish answering within 0.3 seconds of Cancel, so the "
                                   "connection was closed.\r\nNothing was deleted; the messages are back in the "
                                   "Recycle Bin."),
                    QStringLiteral("Error"), Icon::Critical);
    f->options.inactivityLimitMs = 5000;
    const DeletionResult result =
        MailFixture::shown(EmptyRecycleBin(f->status, f->recycle, f->settings, Global::CancelRequested(), f->options));
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QVERIFY(!f->server.commands().contains("QUIT"));
    QCOMPARE(f->server.removed(), QList<int>());
    QCOMPARE(rowNumbers(f->recycle), (QList<qint32>{2, 5, 9}));
    QCOMPARE(result.outcome(), MailOutcome::Cancelled);
    QVERIFY(result.deleted.isEmpty());
}

void TestEmptyRecycleBin::identity_data()
{
    // Rows 2, 5 and 9 (ids u2, u5, u9) against listings that moved, lost or
    // muddled them. Only a message whose id (if any) and header both agree
    // is deleted; every other row stays.
    QTest::addColumn<QByteArray>("listing"); // the UIDL reply
    QTest::addColumn<bool>("idsAreNumbers"); // the fetch was given "2", "5", "9"
    QTest::addColumn<Checks>("checks");
    QTest::addColumn<QList<int>>("removed");
    const QByteArray without5 = "+OK\r\n1 u1\r\n2 u2\r\n3 u3\r\n4 u4\r\n6 u6\r\n7 u7\r\n8 u8\r\n9 u9\r\n.\r\n";
    QTest::newRow("moved by another client's deletions")
        << QByteArray("+OK\r\n1 u1\r\n2 u4\r\n3 u5\r\n4 u6\r\n5 u7\r\n6 u8\r\n7 u9\r\n.\r\n") << false
        << Checks{{7, 9}, {3, 5}} << QList<int>{7, 3};
    QTest::newRow("a number listed twice is no identity")
        << QByteArray("+OK\r\n1 u1\r\n2 u3\r\n2 u2\r\n4 u4\r\n5 u5\r\n9 u9\r\n.\r\n") << false
        << Checks{{9, 9}, {5, 5}, {2, 0}} << QList<int>{9, 5};
    QTest::newRow("missing from the listing, still at its number")
        << without5 << false << Checks{{9, 9}, {5, 5}, {2, 2}} << QList<int>{9, 5, 2};
    QTest::newRow("missing from the listing, another message at its number")
        << without5 << false << Checks{{9, 9}, {5, 0}, {2, 2}} << QList<int>{9, 2};
    QTest::newRow("missing from the listing and from the mailbox")
        << without5 << false << Checks{{9, 9}, {5, -1}, {2, 2}} << QList<int>{9, 2};
    QTest::newRow("an id listed for two numbers") << QByteArray("+OK\r\n1 u1\r\n2 u2\r\n5 u5\r\n9 u9\r\n10 u2\r\n.\r\n")
                                                  << false << Checks{{9, 9}, {5, 5}} << QList<int>{9, 5};
    // Another client removed message 1: every message moved down one, and
    // its id with it; the ids name the wrong messages.
    QTest::newRow("ids that are message numbers")
        << QByteArray("+OK\r\n1 1\r\n2 2\r\n3 3\r\n4 4\r\n5 5\r\n6 6\r\n7 7\r\n8 8\r\n.\r\n") << true
        << Checks{{9, -1}, {5, 6}, {2, 3}} << QList<int>{};
    QTest::newRow("UIDL and the header agree, but the header changed")
        << QByteArray("+OK\r\n2 u2\r\n5 u5\r\n9 u9\r\n.\r\n") << false << Checks{{9, 0}, {5, 0}, {2, 0}}
        << QList<int>{};
}

void TestEmptyRecycleBin::identity()
{
    QFETCH(QByteArray, listing);
    QFETCH(bool, idsAreNumbers);
    QFETCH(Checks, checks);
    QFETCH(QList<int>, removed);
    if (idsAreNumbers) {
        f->recycle.clear();
        for (const qint32 n : {2, 5, 9})
            f->recycle.append(row(n, QString::number(n)));
    }
    f->server.greet().login().expect("UIDL", listing);
    auto check = [&](int number, int of) {
        if (of < 0)
            f->server.expect("TOP " + QByteArray::number(number) + " 0", "-ERR no such message\r\n");
        else
            f->server.top(number, of > 0 ? headerOf(of) : kStranger);
    };
    // The rows' numbers in the fetch first, then those the listing moved them to.
    const QList<int> guesses{9, 5, 2};
    for (const int guess : guesses) {
        const auto found = std::find_if(checks.cbegin(), checks.cend(),
                                        [guess](const auto &c) { return c.first == guess; });
        if (found == checks.cend())
            unneededTop(guess);
        else
            check(found->first, found->second);
    }
    for (const auto &[number, of] : checks)
        if (!guesses.contains(number))
            check(number, of);
    for (const int n : removed)
        f->server.dele(n);
    f->server.quit();
    if (removed.size() < 3)
        f->boxes.expect(notDeletedBox(3 - int(removed.size()), 3), kChangedTitle, Icon::Critical);
    f->empty();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->server.removed(), removed);
    QCOMPARE(f->recycle.count(), 3 - int(removed.size()));
    if (removed.size() < 3)
        QVERIFY2(f->status.statusText.contains(
                     QStringLiteral("%1 changed on the server, not deleted").arg(3 - removed.size())),
                 qPrintable(f->status.statusText));
}

void TestEmptyRecycleBin::historyBeforeQuit_data()
{
    // What the deletion history holds once the run is over: "+OK" to QUIT
    // settles the entries, no answer leaves them pending (the server may or
    // may not have removed the messages), and entries that cannot be
    // written keep QUIT from going out at all.
    QTest::addColumn<QByteArray>("quitReply"); // empty: the connection drops
    QTest::addColumn<bool>("historyWritable");
    QTest::addColumn<int>("settled");
    QTest::addColumn<int>("unconfirmed");
    QTest::newRow("confirmed") << QByteArray("+OK bye\r\n") << true << 3 << 0;
    QTest::newRow("no answer to QUIT") << QByteArray() << true << 0 << 3;
    QTest::newRow("history not writable") << QByteArray() << false << 0 << 0;
}

void TestEmptyRecycleBin::historyBeforeQuit()
{
    QFETCH(QByteArray, quitReply);
    QFETCH(bool, historyWritable);
    QFETCH(int, settled);
    QFETCH(int, unconfirmed);
    QTemporaryDir dir;
    RuleDatabase db(dir.path());
    QVERIFY(db.OpenRuleDatabase());
    auto history = [&db] {
        QString error;
        const auto records = DeletionHistory(db).read(&error);
        return records ? *records : QList<DeletionRecord>{};
    };
    int pendingAtQuit = -1;
    f->server.greet().login();
    uidlAsFetched();
    headersAsFetched();
    f->server.dele(9).dele(5).dele(2);
    // A run killed as the server answers QUIT leaves these entries.
    const auto atQuit = [&] {
        pendingAtQuit = 0;
        for (const DeletionRecord &r : history())
            pendingAtQuit += r.unconfirmed ? 1 : 0;
    };
    DeletionJournal journal = historyJournal(db, QStringLiteral("Work"), {});
    if (!historyWritable) {
        journal.pending = [](const QList<MessageEntry> &, QString *error) {
            *error = QStringLiteral("disk full");
            return false;
        };
        f->boxes.expect(QStringLiteral("The deletions could not be recorded in the deletion history, so the connection "
                                       "was closed without letting the server act on this session.\r\ndisk full\r\n"
                                       "Nothing was deleted; the messages are back in the Recycle Bin."),
                        QStringLiteral("Error"), Icon::Critical);
    } else if (quitReply.isEmpty()) {
        f->server.expectDrop("QUIT").then(atQuit);
        f->boxes.expect(QStringLiteral(
                            "The server closed the connection.\r\nThe messages are back in the Recycle Bin."),
                        QStringLiteral("Error"), Icon::Critical);
    } else {
        f->server.expect("QUIT", quitReply).then(atQuit);
    }
    const DeletionResult result = MailFixture::shown(
        EmptyRecycleBin(f->status, f->recycle, f->settings, Global::CancelRequested(), f->options, journal));
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(pendingAtQuit, historyWritable ? 3 : -1);
    const QList<DeletionRecord> records = history();
    QCOMPARE(records.size(), settled + unconfirmed);
    QCOMPARE(int(std::count_if(records.cbegin(), records.cend(),
                               [](const DeletionRecord &r) { return r.unconfirmed; })),
             unconfirmed);
    QCOMPARE(result.deleted.size(), settled);
    QCOMPARE(f->server.removed().size(), settled);
}

void TestEmptyRecycleBin::quitRefused()
{
    // "-ERR some deleted messages not removed": nothing is known to be gone.
    f->server.greet().login();
    uidlAsFetched();
    headersAsFetched();
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
    headersAsFetched();
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
    f->server.greet()
        .login()
        .expect("UIDL", "-ERR not supported\r\n")
        .expect("TOP 9 0", "+OK\r\nFrom: sender9@x.example\r\n.\r\nSubject: Subject 9\r\n\r\n.\r\n")
        .top(5, headerOf(5))
        .optional() // the close may overtake it
        .top(2, headerOf(2))
        .optional(); // sent ahead with PIPELINING
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
    // "id<k+1>", so ids are prefixes of one another, "id1" is gone and its
    // old number holds another id.
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
    for (const int guess : {100001, 100, 10, 1})
        unneededTop(guess);
    const bool whole = limit > listing.size();
    if (whole) {
        f->server.top(100000, headerOf(100001)).top(99, headerOf(100)).top(9, headerOf(10));
        f->server.dele(100000).dele(99).dele(9).quit();
        f->boxes.expect(notDeletedBox(1, 4), kChangedTitle, Icon::Critical);
    } else {
        f->boxes.expect(QStringLiteral("The server's message listing is larger than 1 MB, so the connection was "
                                       "closed.\r\nNothing was deleted; the messages are back in the Recycle Bin."),
                        QStringLiteral("Error"), Icon::Critical);
    }
    f->empty();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->server.removed(), whole ? (QList<int>{100000, 99, 9}) : QList<int>());
    QCOMPARE(f->recycle.count(), whole ? 1 : 4);
    if (whole)
        QCOMPARE(f->status.statusText,
                 QStringLiteral("Empty Recycle Bin: 3 messages deleted, 1 changed on the server, not deleted"));
}

QTEST_GUILESS_MAIN(TestEmptyRecycleBin)
#include "tst_emptyrecyclebin.moc"
