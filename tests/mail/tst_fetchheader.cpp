#include "PipelineWindow.h"
#include "MailTestFixture.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <limits>

using testsupport::ScriptedPop3Server;
using Icon = MessageBox::Icon;

namespace {
QByteArray header(const QByteArray &from, const QByteArray &subject, const QByteArray &extra = {})
{
    return "From: " + from + "\r\nSubject: " + subject + "\r\nDate: Mon, 1 Jun 2026 10:00:00 +0000\r\n" + extra;
}
const QString kStopped = QStringLiteral("The server stopped answering.\r\n"
                                        "Nothing arrived from it for 0.4 seconds, so the connection was closed.");

// TOP of messages 1 to n ("m<i>@x.example"); past the first they may be
// left out (optionalTail); one TOP reply may come late (onLate runs when its
// command arrives).
void scriptMessages(ScriptedPop3Server &server, int n, bool optionalTail = false, int lateMessage = 0, int lateMs = 0,
                    std::function<void()> onLate = {})
{
    for (int i = 1; i <= n; ++i) {
        server.top(i, header("m" + QByteArray::number(i) + "@x.example", "s"));
        if (i == lateMessage)
            server.delayed(lateMs).then(onLate);
        if (optionalTail && i > 1)
            server.optional();
    }
}

// What LIST gives messages 1 to n: size 1000 i.
QList<qint64> sizesFor(int n)
{
    QList<qint64> sizes;
    for (int i = 1; i <= n; ++i)
        sizes << 1000 * i;
    return sizes;
}

QList<QByteArray> fetchOrder(int n)
{
    QList<QByteArray> order;
    for (int i = 1; i <= n; ++i)
        order << "TOP " + QByteArray::number(i) + " 0";
    return order;
}

QList<QByteArray> uidsFor(int n)
{
    QList<QByteArray> uids;
    for (int i = 1; i <= n; ++i)
        uids << "u" + QByteArray::number(i);
    return uids;
}

} // namespace

// The script and boxes went as expected, and the fetch ended as every fetch
// does: "Disconnected", progress back at 0, the connection closed.
#define VERIFY_ENDED() VERIFY_ENDED_WITH(QStringLiteral("Disconnected"))
#define VERIFY_ENDED_WITH(statusAtEnd)                                                                                 \
    do {                                                                                                               \
        VERIFY_SCRIPT(f->server);                                                                                      \
        VERIFY_BOXES(f->boxes);                                                                                        \
        QCOMPARE(f->status.statusText, statusAtEnd);                                                                   \
        QCOMPARE(f->status.progressValue, 0);                                                                          \
        QTRY_VERIFY_WITH_TIMEOUT(!f->server.clientConnected(), 5000);                                                  \
    } while (false)

// Every conversation runs twice: with a server that does not offer
// PIPELINING and with one that does. The commands on the wire and what the
// user sees must be the same both ways.
class TestFetchHeader : public QObject {
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
            f->server.setDefaultCapabilities({"TOP", "UIDL", "PIPELINING"});
    }
    void cleanup() { f.reset(); }

    void happyPath();
    void classification_data();
    void classification();
    void loginRefused();
    void serverGoesAway_data();
    void serverGoesAway();
    void repliesInPiecesAndTogether();
    void topSplitAnywhere_data();
    void topSplitAnywhere();
    void topRefused();
    void emptyMailbox();
    void cancelDuringFifthTop();
    void cancelDuringList();
    void sizesFromList_data();
    void sizesFromList();
    void quitBehindTheLastTop_data();
    void quitBehindTheLastTop();
    void hugeHeaderIsCut();
    void listings_data();
    void listings();
    void outOfStep();
    void cancelEndsTheRun_data();
    void cancelEndsTheRun();
    void endlessReplyEndsTheSession_data();
    void endlessReplyEndsTheSession();
    // Pipelining only.
    void repliesInOnePiece();
    void window_data();
    void window();

private:
    static bool pipelined()
    {
        QFETCH_GLOBAL(bool, pipelined);
        return pipelined;
    }
    std::unique_ptr<MailFixture> f;
};

void TestFetchHeader::happyPath()
{
    f->filter << QStringLiteral("*@spam.example");
    f->server.greet()
        .login()
        .stat(3, 9000)
        .uidl({"uid-a", "uid-b", "uid-c"})
        .listAll({500, 2500, 123456})
        .top(1, header("Ann <ann@work.example>", "Minutes", "X-Priority: 1\r\n"))
        .top(2, header("Offers <win@spam.example>", "You won"))
        .top(3, header("bob@home.example", "Lunch?"))
        .quit();
    f->fetch();
    VERIFY_ENDED();
    QCOMPARE(f->server.commands(),
             (QList<QByteArray>{"CAPA", "USER user", "PASS secret", "STAT", "UIDL", "LIST", "TOP 1 0", "TOP 2 0",
                                "TOP 3 0", "QUIT"}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Sender),
             (QStringList{"Ann <ann@work.example>", "bob@home.example"}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Size), (QStringList{"    1K", "  123K"}));
    QCOMPARE(rowNumbers(f->inbox), (QList<qint32>{1, 3}));
    QCOMPARE(rowNumbers(f->recycle), (QList<qint32>{2}));
    QCOMPARE(f->recycle.entry(0).uid, QStringLiteral("uid-b"));
    // Progress is shown as the event loop gets a turn: after each message
    // when each reply is awaited, for several at once when replies are
    // already here.
    QStringList shown = f->status.eventsStartingWith(QStringLiteral("status:"));
    const QStringList all{"status:Connecting To Server...", "status:Verify ID/Password", "status:Fetched 1 of 3",
                          "status:Fetched 2 of 3",          "status:Fetched 3 of 3",     "status:Disconnected"};
    if (!pipelined())
        QCOMPARE(shown, all);
    QCOMPARE(shown.mid(0, 2), all.mid(0, 2));
    QCOMPARE(shown.mid(shown.size() - 2), all.mid(4));
    for (const QString &event : shown)
        QVERIFY2(all.contains(event) && shown.count(event) == 1, qPrintable(event));
}

void TestFetchHeader::classification_data()
{
    // The From value and its "*@domain" are looked up, exempted list first.
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("exempted");
    QTest::addColumn<bool>("toRecycle");
    QTest::newRow("exempted beats a domain rule") << QByteArray("Boss <boss@corp.example>") << "*@corp.example"
                                                  << "boss <boss@corp.example>" << false;
    QTest::newRow("domain rule") << QByteArray("Deals <deals@shop.example>") << "*@shop.example"
                                 << "" << true;
    // Looked up as it stands in the header, not decoded.
    QTest::newRow("raw encoded sender") << QByteArray("=?UTF-8?B?RGVhbHM=?= <d@shop.example>")
                                        << "=?utf-8?b?rgvhbhm=?= <d@shop.example>"
                                        << "" << true;
}

void TestFetchHeader::classification()
{
    QFETCH(QByteArray, from);
    QFETCH(QString, filter);
    QFETCH(QString, exempted);
    QFETCH(bool, toRecycle);
    f->filter << filter;
    f->exempted << exempted;
    f->server.greet().login().stat(1).uidl({"u1"}).listAll({10}).top(1, header(from, "s")).quit();
    f->fetch();
    VERIFY_ENDED();
    QCOMPARE(rowTexts(toRecycle ? f->recycle : f->inbox, MessageFolderModel::Sender),
             QStringList{QString::fromLatin1(from)});
}

void TestFetchHeader::loginRefused()
{
    f->server.greet().expect("USER user", "+OK\r\n").expect("PASS secret", "-ERR invalid password\r\n");
    if (pipelined()) // the listing went out behind PASS, and is refused with it
        f->server.expect("STAT", "-ERR log in first\r\n")
            .expect("UIDL", "-ERR log in first\r\n")
            .expect("LIST", "-ERR log in first\r\n");
    f->boxes
        .expect(QStringLiteral(
                    "Invalid Email UserID or Password\r\nCorrect them with the Setting button beside the profile box."),
                QStringLiteral("Connection Failed"), Icon::Critical);
    f->fetch();
    VERIFY_ENDED();
    QVERIFY(!f->server.commands().contains("QUIT"));
    QVERIFY(!f->server.commands().contains("TOP 1 0"));
}

void TestFetchHeader::serverGoesAway_data()
{
    // Where the server goes quiet or drops the line; how many rows the fetch keeps.
    // What a pipelining client has sent ahead by then: QUIT behind the last TOP.
    QTest::addColumn<QByteArray>("silentAt");
    QTest::addColumn<bool>("drop");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QList<QByteArray>>("ahead");
    QTest::newRow("silent after the greeting") << QByteArray("USER user") << false << 0 << QList<QByteArray>{};
    QTest::newRow("silent at TOP") << QByteArray("TOP 2 0") << false << 1 << QList<QByteArray>{"QUIT"};
    QTest::newRow("dropped at TOP") << QByteArray("TOP 2 0") << true << 1 << QList<QByteArray>{"QUIT"};
}

void TestFetchHeader::serverGoesAway()
{
    QFETCH(QByteArray, silentAt);
    QFETCH(bool, drop);
    QFETCH(int, rows);
    QFETCH(QList<QByteArray>, ahead);
    const QList<QPair<QByteArray, QByteArray>> script = {
        {"USER user", "+OK\r\n"},
        {"PASS secret", "+OK\r\n"},
        {"STAT", "+OK 2 300\r\n"},
        {"UIDL", "+OK\r\n1 a\r\n2 b\r\n.\r\n"},
        {"LIST", "+OK\r\n1 100\r\n2 200\r\n.\r\n"},
        {"TOP 1 0", ScriptedPop3Server::topReply(header("a@x.example", "one"))},
        {"TOP 2 0", ScriptedPop3Server::topReply(header("b@x.example", "two"))},
        {"QUIT", "+OK\r\n"},
    };
    f->server.greet();
    for (const auto &[command, reply] : script) {
        if (command == silentAt) {
            drop ? f->server.expectDrop(command) : f->server.expectStall(command);
            break;
        }
        f->server.expect(command, reply);
    }
    if (drop)
        f->boxes.expect(QStringLiteral("The server closed the connection."), QStringLiteral("Error"), Icon::Critical);
    else
        f->boxes.expect(kStopped, QStringLiteral("Connection Failed"), Icon::Critical);
    f->fetch(MailFixture::kTestLimitMs);
    VERIFY_ENDED();
    // Nothing goes out once the limit has passed: unpipelined, nothing after
    // the unanswered command; pipelined, only what was already on its way.
    const QList<QByteArray> sent = f->server.commands();
    const QList<QByteArray> after = sent.mid(sent.indexOf(silentAt) + 1);
    QCOMPARE(after, pipelined() ? ahead : QList<QByteArray>());
    QCOMPARE(f->inbox.count(), rows);
}

void TestFetchHeader::repliesInPiecesAndTogether()
{
    // The USER reply comes in three pieces; the STAT reply arrives glued to
    // the PASS reply: the bytes after a line's CR LF are the next reply.
    f->server.greet("+OK ready")
        .expectPieces("USER user", {"+O", "K name ", "accepted\r\n"})
        .expect("PASS secret", "+OK in\r\n+OK 1 100\r\n")
        .expectSilent("STAT")
        .expect("UIDL", "+OK\r\n1 x\r\n.\r\n")
        .listAll({4000})
        .top(1, header("p@q.example", "pieces"))
        .quit();
    f->fetch();
    VERIFY_ENDED();
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Size), (QStringList{"    4K"}));
}

void TestFetchHeader::topSplitAnywhere_data()
{
    QTest::addColumn<int>("cut");
    const int size = int(ScriptedPop3Server::topReply(header("s@split.example", "Split")).size());
    for (int cut : {3, size / 2, size - 3}) // the last inside "\r\n.\r\n"
        QTest::addRow("at %d of %d", cut, size) << cut;
}

void TestFetchHeader::topSplitAnywhere()
{
    QFETCH(int, cut);
    const QByteArray reply = ScriptedPop3Server::topReply(header("s@split.example", "Split"));
    f->server.greet()
        .login()
        .stat(1)
        .uidl({"x"})
        .listAll({7000})
        .expectPieces("TOP 1 0", {reply.left(cut), reply.mid(cut)})
        .quit();
    f->fetch();
    VERIFY_ENDED();
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Sender), (QStringList{"s@split.example"}));
}

void TestFetchHeader::topRefused()
{
    // Even with "*@" in the filter list (what an empty sender's domain rule
    // reads), a message whose header could not be read stays in the Inbox.
    f->filter << QStringLiteral("*@");
    f->server.greet()
        .login()
        .stat(3)
        .uidl({"a", "b", "c"})
        .listAll({100, 200, 300})
        .top(1, header("one@x.example", "1"))
        .expect("TOP 2 0", "-ERR message locked\r\n")
        .top(3, header("three@x.example", "3"))
        .quit();
    f->fetch();
    VERIFY_ENDED();
    QCOMPARE(rowNumbers(f->inbox), (QList<qint32>{1, 2, 3}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Sender), (QStringList{"one@x.example", "", "three@x.example"}));
    QCOMPARE(f->recycle.count(), 0);
}

void TestFetchHeader::emptyMailbox()
{
    // With PIPELINING, UIDL and LIST have gone out with STAT.
    f->server.greet()
        .login()
        .expect("STAT", "+OK 0 0\r\n")
        .expect("UIDL", "+OK\r\n.\r\n")
        .optional()
        .expect("LIST", "+OK\r\n.\r\n")
        .optional()
        .quit();
    f->fetch();
    VERIFY_ENDED();
    QCOMPARE(f->inbox.count() + f->recycle.count(), 0);
}

void TestFetchHeader::cancelDuringFifthTop()
{
    if (pipelined())
        QSKIP("the server sees every command at once; the window test covers a pipelined Cancel");
    f->server.greet().login().stat(6).uidl({"1", "2", "3", "4", "5", "6"}).listAll(sizesFor(6));
    scriptMessages(f->server, 4);
    // The server answers late; Cancel ends the wait before that, and with
    // nothing to carry out the session closes without QUIT.
    f->server.top(5, header("m5@x.example", "s")).delayed(300).then([] { Global::CancelRequested().set(); });
    f->fetch();
    VERIFY_ENDED_WITH(QStringLiteral("Fetch cancelled: 4 of 6 messages read"));
    QCOMPARE(rowNumbers(f->inbox), (QList<qint32>{1, 2, 3, 4}));
    QVERIFY(!f->server.commands().contains("QUIT"));
}

void TestFetchHeader::cancelDuringList()
{
    if (pipelined())
        QSKIP("the server sees every command at once; the window test covers a pipelined Cancel");
    // LIST refused: each size is asked beside its header. The LIST 2 reply
    // comes after Cancel and is not awaited; the header already read keeps
    // its row.
    f->server.greet().login().stat(3).uidl({"1", "2", "3"}).expect("LIST", "-ERR not now\r\n");
    scriptMessages(f->server, 1);
    f->server.list(1, 1000).top(2, header("b@x.example", "s")).expect("LIST 2", "+OK 2 2000\r\n").delayed(200).then([] {
        Global::CancelRequested().set();
    });
    f->fetch();
    VERIFY_ENDED_WITH(QStringLiteral("Fetch cancelled: 2 of 3 messages read"));
    QCOMPARE(rowNumbers(f->inbox), (QList<qint32>{1, 2}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Size), (QStringList{"    1K", ""}));
    QVERIFY(!f->server.commands().contains("QUIT"));
}

void TestFetchHeader::sizesFromList_data()
{
    // A message LIST gives no single size gets its own LIST n beside its TOP.
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QList<int>>("askedAlone");
    QTest::newRow("LIST names every one") << QByteArray("+OK\r\n1 1000\r\n2 2000\r\n3 3000\r\n.\r\n") << QList<int>{};
    QTest::newRow("LIST refused") << QByteArray("-ERR not now\r\n") << QList<int>{1, 2, 3};
    QTest::newRow("LIST misses one") << QByteArray("+OK\r\n1 1000\r\n3 3000\r\n.\r\n") << QList<int>{2};
    QTest::newRow("LIST names one twice")
        << QByteArray("+OK\r\n1 1000\r\n2 9\r\n2 2000\r\n3 3000\r\n.\r\n") << QList<int>{2};
}

void TestFetchHeader::sizesFromList()
{
    QFETCH(QByteArray, list);
    QFETCH(QList<int>, askedAlone);
    f->server.greet().login().stat(3).uidl({"a", "b", "c"}).expect("LIST", list);
    QList<QByteArray> order;
    for (int i = 1; i <= 3; ++i) {
        f->server.top(i, header("m" + QByteArray::number(i) + "@x.example", "s"));
        order << "TOP " + QByteArray::number(i) + " 0";
        if (askedAlone.contains(i)) {
            f->server.list(i, 1000 * i);
            order << "LIST " + QByteArray::number(i);
        }
    }
    f->server.quit();
    f->fetch();
    VERIFY_ENDED();
    QCOMPARE(f->server.commands().mid(6), order << "QUIT");
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Size), (QStringList{"    1K", "    2K", "    3K"}));
}

void TestFetchHeader::quitBehindTheLastTop_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::newRow("all read") << false;
    QTest::newRow("Cancel while QUIT is owed") << true;
}

void TestFetchHeader::quitBehindTheLastTop()
{
    // With PIPELINING, QUIT goes out right behind the last TOP; its reply,
    // taken after all the others, still ends the session. One at a time, a
    // Cancel closes the session without it: there is nothing to carry out.
    QFETCH(bool, cancel);
    const bool quitSent = pipelined() || !cancel;
    f->server.greet().login().stat(3).uidl({"a", "b", "c"}).listAll(sizesFor(3));
    scriptMessages(f->server, 3, !quitSent, 2, 200);
    if (quitSent)
        f->server.quit();
    if (cancel) {
        f->status.onEvent = [](const QString &shown) {
            if (shown == QLatin1String("status:Fetched 1 of 3"))
                Global::CancelRequested().set();
        };
    }
    f->fetch();
    VERIFY_ENDED_WITH(cancel ? QStringLiteral("Fetch cancelled: 1 of 3 messages read")
                             : QStringLiteral("Disconnected"));
    QCOMPARE(f->inbox.count(), cancel ? 1 : 3);
    if (!quitSent) // TOP 2 went out before the Cancel came
        QVERIFY(!f->server.commands().contains("QUIT") && !f->server.commands().contains("TOP 3 0"));
    else
        QCOMPARE(f->server.commands().mid(6), fetchOrder(3) << "QUIT");
    if (!cancel)
        QCOMPARE(f->server.unansweredBefore("QUIT") > 0, pipelined());
}

void TestFetchHeader::hugeHeaderIsCut()
{
    // Megabytes of header without an end: the row still comes, from what
    // was kept, and the next exchange is not confused by the rest.
    QList<QByteArray> pieces{"+OK\r\n" + header("big@x.example", "Huge")};
    for (int i = 0; i < 24; ++i)
        pieces << ("X-Junk: " + QByteArray(998, 'j') + "\r\n").repeated(128); // 24 x 128 KB = 3 MB
    pieces << "\r\n.\r\n";
    f->server.greet()
        .login()
        .stat(2)
        .uidl({"1", "2"})
        .listAll({3000000, 100})
        .expectPieces("TOP 1 0", pieces)
        .top(2, header("small@x.example", "Small"))
        .quit();
    f->fetch();
    VERIFY_ENDED();
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Sender), (QStringList{"big@x.example", "small@x.example"}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Size), (QStringList{" 3000K", "    1K"}));
}

void TestFetchHeader::listings_data()
{
    // The messages fetched are every one the server lists, each with its id
    // only when that id names it alone. When UIDL does not list exactly what
    // STAT counts, LIST names messages too, and the end says how they
    // disagree; otherwise LIST only gives sizes.
    QTest::addColumn<int>("stat");
    QTest::addColumn<QByteArray>("uidl");
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QList<qint32>>("numbers");
    QTest::addColumn<QStringList>("uids");
    QTest::addColumn<QString>("note"); // in the end text
    const QByteArray fourIds("+OK\r\n1 a\r\n2 b\r\n3 c\r\n4 d\r\n.\r\n");
    QTest::newRow("STAT far above the listings")
        << 2147483647 << QByteArray("+OK\r\n1 a\r\n2 b\r\n.\r\n") << QByteArray("+OK\r\n1 10\r\n2 20\r\n.\r\n")
        << QList<qint32>{1, 2} << QStringList{"a", "b"} << "(STAT 2147483647, LIST 2, UIDL 2)";
    QTest::newRow("an id listed twice is no identity")
        << 3 << QByteArray("+OK\r\n1 a\r\n2 a\r\n3 b\r\n.\r\n") << QByteArray("+OK\r\n1 100\r\n2 100\r\n3 100\r\n.\r\n")
        << QList<qint32>{1, 2, 3} << QStringList{"", "", "b"} << QString();
    QTest::newRow("UIDL lists what STAT counts: LIST names no more")
        << 2 << QByteArray("+OK\r\n1 a\r\n2 b\r\n.\r\n") << QByteArray("+OK\r\n1 100\r\n2 100\r\n5 500\r\n.\r\n")
        << QList<qint32>{1, 2} << QStringList{"a", "b"} << QString();
    QTest::newRow("UIDL refused: LIST names them")
        << 9 << QByteArray("-ERR no UIDL here\r\n") << QByteArray("+OK\r\n2 200\r\n7 700\r\n.\r\n")
        << QList<qint32>{2, 7} << QStringList{"", ""} << "(STAT 9, LIST 2)";
    QTest::newRow("UIDL leaves out what STAT and LIST count")
        << 6 << fourIds << QByteArray("+OK\r\n1 1\r\n2 2\r\n3 3\r\n4 4\r\n5 5\r\n6 6\r\n.\r\n")
        << QList<qint32>{1, 2, 3, 4, 5, 6} << QStringList{"a", "b", "c", "d", "", ""} << "(STAT 6, LIST 6, UIDL 4)";
    QTest::newRow("UIDL leaves out what STAT counts, LIST refused")
        << 6 << fourIds << QByteArray("-ERR no\r\n") << QList<qint32>{1, 2, 3, 4, 5, 6}
        << QStringList{"a", "b", "c", "d", "", ""} << "(STAT 6, UIDL 4)";
}

void TestFetchHeader::listings()
{
    QFETCH(int, stat);
    QFETCH(QByteArray, uidl);
    QFETCH(QByteArray, list);
    QFETCH(QList<qint32>, numbers);
    QFETCH(QStringList, uids);
    QFETCH(QString, note);
    f->server.greet().login().stat(stat).expect("UIDL", uidl).expect("LIST", list);
    for (const qint32 n : numbers) {
        f->server.top(n, header("m" + QByteArray::number(n) + "@x.example", "s"));
        if (list.startsWith('-'))
            f->server.list(n, 100);
    }
    f->server.quit();
    QString listingNote;
    f->options.inactivityLimitMs = 5000;
    MailFixture::shown(FetchHeader(f->status, f->inbox, f->recycle, f->classifier(), f->settings,
                                   Global::CancelRequested(), f->options, &listingNote));
    const qsizetype n = numbers.size();
    VERIFY_ENDED_WITH(note.isEmpty()
                          ? QStringLiteral("Disconnected")
                          : QStringLiteral("Fetched %1 of %1; the server's listings disagree %2").arg(n).arg(note));
    QCOMPARE(listingNote, note.isEmpty() ? QString() : QStringLiteral("the server's listings disagree ") + note);
    QCOMPARE(rowNumbers(f->inbox), numbers);
    QStringList got;
    for (int r = 0; r < f->inbox.count(); ++r)
        got << f->inbox.entry(r).uid;
    QCOMPARE(got, uids);
    QCOMPARE(f->status.eventsStartingWith(QStringLiteral("max:")), QStringList{QStringLiteral("max:%1").arg(n)});
}

void TestFetchHeader::outOfStep()
{
    // Message 1's header holds a line "." the server did not stuff: the rest
    // arrives as the answer to TOP 2. Nothing after is believed, and the
    // session closes without awaiting QUIT (pipelined, it went out behind
    // TOP 2 before any reply came: a fetch leaves the server nothing to act on).
    f->server.greet()
        .login()
        .stat(2)
        .uidl({"a", "b"})
        .listAll({100, 100})
        .expect("TOP 1 0", "+OK\r\nFrom: a@x.example\r\n.\r\nSubject: the rest\r\n\r\n.\r\n")
        .top(2, header("b@x.example", "s"))
        .optional() // the close may overtake it
        .quit()
        .optional();
    f->boxes.expect(QStringLiteral("The server's replies no longer match the commands sent, so the connection was "
                                   "closed without letting the server act on this session."),
                    QStringLiteral("Error"), Icon::Critical);
    f->fetch();
    VERIFY_ENDED();
    QCOMPARE(f->server.commands().contains("QUIT"), pipelined());
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Sender), QStringList{"a@x.example"});
}

void TestFetchHeader::cancelEndsTheRun_data()
{
    // A server that never ends its reply; one Cancel ends the run all the same.
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<int>("intervalMs");
    QTest::newRow("endless header") << ("X-Junk: " + QByteArray(990, 'j') + "\r\n").repeated(64) << 0;
    QTest::newRow("a byte now and then") << QByteArray("j") << 50;
}

void TestFetchHeader::cancelEndsTheRun()
{
    QFETCH(QByteArray, chunk);
    QFETCH(int, intervalMs);
    f->server.greet().login().stat(3).uidl({"a", "b", "c"}).listAll(sizesFor(3));
    scriptMessages(f->server, 1);
    f->server.expect("TOP 2 0", "+OK\r\nFrom: b@x.example\r\n").trickle(chunk, intervalMs).then([] {
        QTimer::singleShot(200, [] { Global::CancelRequested().set(); });
    });
    // Every byte would restart the time limit (the bound on a reply's bytes
    // is another test's). The grace after Cancel is for answers to DELEs;
    // with only reads owed it is never waited out.
    f->options.cancelGraceMs = 120000;
    f->options.replyLimitBytes = std::numeric_limits<qint64>::max();
    QElapsedTimer clock;
    clock.start();
    f->fetch(120000);
    QVERIFY2(clock.elapsed() < 60000, QByteArray::number(clock.elapsed()).constData());
    VERIFY_ENDED_WITH(QStringLiteral("Fetch cancelled: 1 of 3 messages read"));
}

void TestFetchHeader::endlessReplyEndsTheSession_data()
{
    // A reply that never ends, as fast as it can be read: no Cancel comes,
    // and every arrival would restart the time limit.
    QTest::addColumn<QByteArray>("command");
    QTest::newRow("TOP") << QByteArray("TOP");
    QTest::newRow("CAPA") << QByteArray("CAPA");
}

void TestFetchHeader::endlessReplyEndsTheSession()
{
    QFETCH(QByteArray, command);
    const QByteArray junk = ("X-Junk: " + QByteArray(990, 'j') + "\r\n").repeated(64);
    f->options.replyLimitBytes = 1024 * 1024;
    if (command == "CAPA") {
        f->server.greetOnly().expect("CAPA", "+OK\r\n").trickle(junk, 0);
    } else {
        f->server.greet().login().stat(2).uidl({"a", "b"}).listAll(sizesFor(2));
        scriptMessages(f->server, 1);
        f->server.expect("TOP 2 0", "+OK\r\nFrom: b@x.example\r\n").trickle(junk, 0);
    }
    f->boxes.expect(QStringLiteral("The server's reply to %1 went on past 1 MB, so the connection was closed.")
                        .arg(QString::fromLatin1(command)),
                    QStringLiteral("Error"), Icon::Critical);
    QElapsedTimer clock;
    clock.start();
    f->fetch(60000);
    QVERIFY2(clock.elapsed() < 20000, QByteArray::number(clock.elapsed()).constData());
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    // Pipelined, QUIT went out behind the last TOP; it is never awaited.
    QCOMPARE(f->server.commands().contains("QUIT"), pipelined() && command == "TOP");
    QTRY_VERIFY_WITH_TIMEOUT(!f->server.clientConnected(), 5000);
}

void TestFetchHeader::repliesInOnePiece()
{
    // The replies of three messages and QUIT's arrive in one piece; the rows
    // are those of replies arriving one by one.
    if (!pipelined())
        QSKIP("pipelining only");
    const QByteArray stream = ScriptedPop3Server::topReply(header("a@x.example", "one")) + "-ERR no such message\r\n"
        + ScriptedPop3Server::topReply(header("c@spam.example", "three")) + "+OK bye\r\n";
    f->filter << QStringLiteral("*@spam.example");
    f->server.greet().login().stat(3).uidl({"a", "b", "c"}).listAll({1500, 2500, 900}).expect("TOP 1 0", stream);
    const QList<QByteArray> silent = fetchOrder(3).mid(1) << "QUIT";
    for (const QByteArray &command : silent)
        f->server.expectSilent(command);
    f->fetch();
    VERIFY_ENDED();
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Sender), (QStringList{"a@x.example", ""}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Size), (QStringList{"    1K", "    2K"}));
    QCOMPARE(rowTexts(f->recycle, MessageFolderModel::Subject), (QStringList{"three"}));
}

void TestFetchHeader::window_data()
{
    // What happens while many messages' commands are on their way.
    QTest::addColumn<QString>("event");
    QTest::addColumn<int>("messages");
    QTest::addColumn<int>("rows");
    // The reply to TOP `rows + 1` never comes: what is in flight then is one
    // window, as large as it may be by then.
    QTest::newRow("first reply never comes: the first window filled, no further") << "held" << 4000 << 0;
    QTest::newRow("replies at once over a short round trip: it stays at its start") << "short" << 8000 << 2999;
    QTest::newRow("Cancel at the second row: nothing more awaited") << "cancel" << 300 << 2;
    QTest::newRow("silence after five: time limit, QUIT never awaited") << "stall" << 300 << 5;
}

void TestFetchHeader::window()
{
    if (!pipelined())
        QSKIP("pipelining only");
    QFETCH(QString, event);
    QFETCH(int, messages);
    QFETCH(int, rows);
    const int n = messages;
    f->server.greet().login().stat(n).uidl(uidsFor(n)).listAll(sizesFor(n));
    const bool held = event == QLatin1String("held") || event == QLatin1String("short");
    // Every reply arrives within the round trip the window is shown: none
    // (a clock that stands still), so its bound is its start.
    if (held)
        f->options.clockMs = [] { return qint64(0); };
    if (held || event == QLatin1String("stall")) {
        scriptMessages(f->server, rows);
        f->server.expectStall("TOP " + QByteArray::number(rows + 1) + " 0");
        f->boxes.expect(held ? QStringLiteral("The server stopped answering.\r\nNothing arrived from it for 2 "
                                              "seconds, so the connection was closed.")
                             : kStopped,
                        QStringLiteral("Connection Failed"), Icon::Critical);
    } else {
        scriptMessages(f->server, n, true, 3, 300);
        f->server.quit();
        f->status.onEvent = [](const QString &shown) {
            if (shown == QLatin1String("status:Fetched 2 of 300"))
                Global::CancelRequested().set();
        };
    }
    f->fetch(held ? 2000 : event == QLatin1String("stall") ? MailFixture::kTestLimitMs : 5000);
    VERIFY_ENDED_WITH(event == QLatin1String("cancel") ? QStringLiteral("Fetch cancelled: 2 of 300 messages read")
                                                       : QStringLiteral("Disconnected"));
    QCOMPARE(f->inbox.count(), rows);
    if (rows > 0)
        QCOMPARE(rowNumbers(f->inbox).last(), rows); // no row after a Cancel
    QList<QByteArray> sent = f->server.commands().mid(6);
    if (held) {
        // The commands unanswered at the end are one window, and no more.
        QCOMPARE(sent, fetchOrder(n).first(sent.size()));
        qsizetype inFlight = 0;
        for (const QByteArray &command : sent.mid(rows))
            inFlight += command.size() + 2;
        const QByteArray figure = QByteArray::number(inFlight);
        QVERIFY2(inFlight > PipelineWindow::kInitialBytes - 20 && inFlight <= PipelineWindow::kInitialBytes,
                 figure.constData());
        return;
    }
    // QUIT goes out once, right behind the last TOP, whatever comes after.
    QCOMPARE(sent.count("QUIT"), 1);
    QCOMPARE(sent.takeLast(), QByteArray("QUIT"));
    QCOMPARE(sent, fetchOrder(n));
    QVERIFY(f->server.maxUnansweredBytes() <= PipelineWindow::kMaxBytes);
}

QTEST_GUILESS_MAIN(TestFetchHeader)
#include "tst_fetchheader.moc"
