#include "CommandPipeline.h"
#include "MailTestFixture.h"

#include <QTest>
#include <stdexcept>

using testsupport::ScriptedPop3Server;
using Icon = MessageBox::Icon;

namespace {
QByteArray header(const QByteArray &from, const QByteArray &subject, const QByteArray &extra = {})
{
    return "From: " + from + "\r\nSubject: " + subject + "\r\nDate: Mon, 1 Jun 2026 10:00:00 +0000\r\n" + extra;
}
const QString kStopped = QStringLiteral("The server stopped answering.\r\n"
                                        "Nothing arrived from it for 0.4 seconds, so the connection was closed.");

// TOP and LIST of messages 1 to n ("m<i>@x.example", size 1000 i); past the
// first they may be left out (optionalTail); one TOP reply may come late.
void scriptMessages(ScriptedPop3Server &server, int n, bool optionalTail = false, int lateMessage = 0, int lateMs = 0)
{
    for (int i = 1; i <= n; ++i) {
        server.top(i, header("m" + QByteArray::number(i) + "@x.example", "s"));
        if (i == lateMessage)
            server.delayed(lateMs);
        if (optionalTail && i > 1)
            server.optional();
        server.list(i, 1000 * i);
        if (optionalTail && i > 1)
            server.optional();
    }
}

QList<QByteArray> fetchOrder(int n)
{
    QList<QByteArray> order;
    for (int i = 1; i <= n; ++i)
        order << "TOP " + QByteArray::number(i) + " 0" << "LIST " + QByteArray::number(i);
    return order;
}

QList<QByteArray> uidsFor(int n)
{
    QList<QByteArray> uids;
    for (int i = 1; i <= n; ++i)
        uids << "u" + QByteArray::number(i);
    return uids;
}

qsizetype bytesOf(const QList<QByteArray> &commands)
{
    qsizetype bytes = 0;
    for (const QByteArray &c : commands)
        bytes += c.size() + 2;
    return bytes;
}
} // namespace

// The script and boxes went as expected, and the fetch ended as every fetch
// does: "Disconnected", progress back at 0, the connection closed.
#define VERIFY_ENDED()                                                                                                 \
    do {                                                                                                               \
        VERIFY_SCRIPT(f->server);                                                                                      \
        VERIFY_BOXES(f->boxes);                                                                                        \
        QCOMPARE(f->status.statusText, QStringLiteral("Disconnected"));                                                \
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
    void loginReplies_data();
    void loginReplies();
    void serverGoesAway_data();
    void serverGoesAway();
    void repliesInPiecesAndTogether();
    void topSplitAnywhere_data();
    void topSplitAnywhere();
    void topRefused();
    void emptyOrRefusedStat_data();
    void emptyOrRefusedStat();
    void cancelDuringFifthTop();
    void cancelDuringList();
    void hugeHeaderIsCut();
    void latin1BothWays();
    void ruleLookupFailure();
    // Pipelining only.
    void repliesJoinedAndSplit_data();
    void repliesJoinedAndSplit();
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
    f->server.greet().login().stat(3, 9000).uidl({"uid-a", "uid-b", "uid-c"})
        .top(1, header("Ann <ann@work.example>", "Minutes", "X-Priority: 1\r\n")).list(1, 500)
        .top(2, header("Offers <win@spam.example>", "You won")).list(2, 2500)
        .top(3, header("bob@home.example", "Lunch?")).list(3, 123456)
        .quit();
    f->fetch();
    VERIFY_ENDED();
    QCOMPARE(f->server.commands(),
             (QList<QByteArray>{"CAPA", "USER user", "PASS secret", "STAT", "UIDL", "TOP 1 0", "LIST 1", "TOP 2 0", "LIST 2",
                                "TOP 3 0", "LIST 3", "QUIT"}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Sender), (QStringList{"Ann <ann@work.example>", "bob@home.example"}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Subject), (QStringList{"Minutes", "Lunch?"}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Priority), (QStringList{"1", ""}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Size), (QStringList{"    1K", "  123K"}));
    QCOMPARE(rowNumbers(f->inbox), (QList<qint32>{1, 3}));
    QCOMPARE(f->inbox.entry(1).uid, QStringLiteral("uid-c"));
    QCOMPARE(rowTexts(f->recycle, MessageFolderModel::Sender), (QStringList{"Offers <win@spam.example>"}));
    QCOMPARE(rowNumbers(f->recycle), (QList<qint32>{2}));
    QCOMPARE(f->recycle.entry(0).uid, QStringLiteral("uid-b"));
    QCOMPARE(f->status.eventsStartingWith(QStringLiteral("status:")),
             (QStringList{"status:Connecting To Server...", "status:Verify ID/Password", "status:Fetched 1 of 3",
                          "status:Fetched 2 of 3", "status:Fetched 3 of 3", "status:Disconnected"}));
    QCOMPARE(f->status.eventsStartingWith(QStringLiteral("node:")),
             (QStringList{"node:Inbox (1)", "node:Recycle Bin (1)", "node:Inbox (2)"}));
    QCOMPARE(f->status.eventsStartingWith(QStringLiteral("max:")) + f->status.eventsStartingWith(QStringLiteral("progress:")),
             (QStringList{"max:3", "progress:1", "progress:2", "progress:3", "progress:0"}));
}

void TestFetchHeader::classification_data()
{
    // The From value and its "*@domain" are looked up, exempted list first.
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("exempted");
    QTest::addColumn<bool>("toRecycle");
    QTest::newRow("exempted beats a domain rule")
        << QByteArray("Boss <boss@corp.example>") << "*@corp.example" << "boss <boss@corp.example>" << false;
    QTest::newRow("whole From value, any case") << QByteArray("Deals <DEALS@shop.example>")
                                                << "deals <deals@shop.example>" << "" << true;
    QTest::newRow("same address under another name")
        << QByteArray("Other <deals@shop.example>") << "deals <deals@shop.example>" << "" << false;
}

void TestFetchHeader::classification()
{
    QFETCH(QByteArray, from);
    QFETCH(QString, filter);
    QFETCH(QString, exempted);
    QFETCH(bool, toRecycle);
    f->filter << filter;
    f->exempted << exempted;
    f->server.greet().login().stat(1).uidl({"u1"}).top(1, header(from, "s")).list(1, 10).quit();
    f->fetch();
    VERIFY_ENDED();
    QCOMPARE(rowTexts(toRecycle ? f->recycle : f->inbox, MessageFolderModel::Sender), QStringList{QString::fromLatin1(from)});
}

void TestFetchHeader::loginReplies_data()
{
    QTest::addColumn<QByteArray>("passReply");
    QTest::addColumn<bool>("loggedIn");
    QTest::newRow("lower-case +ok") << QByteArray("+ok logged in\r\n") << true;
    QTest::newRow("refused, no QUIT") << QByteArray("-ERR invalid password\r\n") << false;
}

void TestFetchHeader::loginReplies()
{
    QFETCH(QByteArray, passReply);
    QFETCH(bool, loggedIn);
    f->server.greet().expect("USER user", "+OK\r\n").expect("PASS secret", passReply);
    if (loggedIn)
        f->server.stat(0).quit();
    else
        f->boxes.expect(QStringLiteral("Invalid Email UserID or Password"), QStringLiteral("Connection Failed"),
                        Icon::Critical);
    f->fetch();
    VERIFY_ENDED();
}

void TestFetchHeader::serverGoesAway_data()
{
    // Where the server goes quiet or drops the line; how many rows the fetch keeps.
    QTest::addColumn<QByteArray>("silentAt");
    QTest::addColumn<bool>("drop");
    QTest::addColumn<int>("rows");
    QTest::newRow("silent after the greeting") << QByteArray("USER user") << false << 0;
    QTest::newRow("silent at TOP") << QByteArray("TOP 2 0") << false << 1;
    QTest::newRow("silent at QUIT") << QByteArray("QUIT") << false << 2;
    QTest::newRow("dropped at TOP") << QByteArray("TOP 2 0") << true << 1;
}

void TestFetchHeader::serverGoesAway()
{
    QFETCH(QByteArray, silentAt);
    QFETCH(bool, drop);
    QFETCH(int, rows);
    const QList<QPair<QByteArray, QByteArray>> script = {
        {"USER user", "+OK\r\n"}, {"PASS secret", "+OK\r\n"}, {"STAT", "+OK 2 300\r\n"},
        {"UIDL", "+OK\r\n1 a\r\n2 b\r\n.\r\n"}, {"TOP 1 0", ScriptedPop3Server::topReply(header("a@x.example", "one"))},
        {"LIST 1", "+OK 1 100\r\n"}, {"TOP 2 0", ScriptedPop3Server::topReply(header("b@x.example", "two"))},
        {"LIST 2", "+OK 2 200\r\n"}, {"QUIT", "+OK\r\n"},
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
    if (pipelined())
        QVERIFY2(!after.contains("QUIT") && after.size() <= 2, after.join(" | ").constData());
    else
        QCOMPARE(after, QList<QByteArray>());
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
        .top(1, header("p@q.example", "pieces")).list(1, 4000)
        .quit();
    f->fetch();
    VERIFY_ENDED();
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Size), (QStringList{"    4K"}));
}

void TestFetchHeader::topSplitAnywhere_data()
{
    QTest::addColumn<int>("cut");
    const int size = int(ScriptedPop3Server::topReply(header("s@split.example", "Split")).size());
    for (int cut : {3, 12, size - 5, size - 3, size - 1}) // the last three inside "\r\n.\r\n"
        QTest::addRow("at %d of %d", cut, size) << cut;
}

void TestFetchHeader::topSplitAnywhere()
{
    QFETCH(int, cut);
    const QByteArray reply = ScriptedPop3Server::topReply(header("s@split.example", "Split"));
    f->server.greet().login().stat(1).uidl({"x"}).expectPieces("TOP 1 0", {reply.left(cut), reply.mid(cut)})
        .list(1, 7000).quit();
    f->fetch();
    VERIFY_ENDED();
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Sender), (QStringList{"s@split.example"}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Size), (QStringList{"    7K"}));
}

void TestFetchHeader::topRefused()
{
    // Even with "*@" in the filter list (what an empty sender's domain rule
    // reads), a message whose header could not be read stays in the Inbox.
    f->filter << QStringLiteral("*@");
    f->server.greet().login().stat(3).uidl({"a", "b", "c"})
        .top(1, header("one@x.example", "1")).list(1, 100)
        .expect("TOP 2 0", "-ERR message locked\r\n").list(2, 200)
        .top(3, header("three@x.example", "3")).list(3, 300)
        .quit();
    f->fetch();
    VERIFY_ENDED();
    QCOMPARE(rowNumbers(f->inbox), (QList<qint32>{1, 2, 3}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Sender), (QStringList{"one@x.example", "", "three@x.example"}));
    QCOMPARE(f->recycle.count(), 0);
}

void TestFetchHeader::emptyOrRefusedStat_data()
{
    QTest::addColumn<QByteArray>("statReply");
    QTest::newRow("+OK 0 0") << QByteArray("+OK 0 0\r\n");
    QTest::newRow("-ERR") << QByteArray("-ERR maildrop busy\r\n");
}

void TestFetchHeader::emptyOrRefusedStat()
{
    QFETCH(QByteArray, statReply);
    f->server.greet().login().expect("STAT", statReply).quit();
    f->fetch();
    VERIFY_ENDED();
    QCOMPARE(f->inbox.count() + f->recycle.count(), 0);
}

void TestFetchHeader::cancelDuringFifthTop()
{
    if (pipelined())
        QSKIP("the server sees every command at once; the window test covers a pipelined Cancel");
    f->server.greet().login().stat(6).uidl({"1", "2", "3", "4", "5", "6"});
    scriptMessages(f->server, 4);
    // The server answers late; Cancel ends the wait before that.
    f->server.top(5, header("m5@x.example", "s")).delayed(300).then([] { Global::CancelRequested().set(); }).quit();
    f->fetch();
    VERIFY_ENDED();
    QCOMPARE(rowNumbers(f->inbox), (QList<qint32>{1, 2, 3, 4}));
}

void TestFetchHeader::cancelDuringList()
{
    if (pipelined())
        QSKIP("the server sees every command at once; the window test covers a pipelined Cancel");
    // The LIST reply comes after Cancel; it must not be taken for the QUIT
    // reply, and the header already read keeps its row.
    f->server.greet().login().stat(3).uidl({"1", "2", "3"});
    scriptMessages(f->server, 1);
    f->server.top(2, header("b@x.example", "s"))
        .expect("LIST 2", "+OK 2 2000\r\n").delayed(200).then([] { Global::CancelRequested().set(); })
        .quit();
    f->fetch();
    VERIFY_ENDED();
    QCOMPARE(rowNumbers(f->inbox), (QList<qint32>{1, 2}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Size), (QStringList{"    1K", ""}));
}

void TestFetchHeader::hugeHeaderIsCut()
{
    // Megabytes of header without an end: the row still comes, from what
    // was kept, and the next exchange is not confused by the rest.
    QList<QByteArray> pieces{"+OK\r\n" + header("big@x.example", "Huge")};
    for (int i = 0; i < 24; ++i)
        pieces << ("X-Junk: " + QByteArray(998, 'j') + "\r\n").repeated(128); // 24 x 128 KB = 3 MB
    pieces << "\r\n.\r\n";
    f->server.greet().login().stat(2).uidl({"1", "2"})
        .expectPieces("TOP 1 0", pieces).list(1, 3000000)
        .top(2, header("small@x.example", "Small")).list(2, 100)
        .quit();
    f->fetch();
    VERIFY_ENDED();
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Sender), (QStringList{"big@x.example", "small@x.example"}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Size), (QStringList{" 3000K", "    1K"}));
}

void TestFetchHeader::latin1BothWays()
{
    // The password goes out, and header bytes come in, as Latin-1.
    Global::ProfileSettings.EmailPassword = QStringLiteral("s\u00e9cret");
    f->server.greet().expect("USER user", "+OK\r\n").expect("PASS s\xe9" "cret", "+OK\r\n").stat(1).uidl({"1"})
        .top(1, header("J\xfcrgen <j@x.example>", "Caf\xe9")).list(1, 1000).quit();
    f->fetch();
    VERIFY_ENDED();
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Sender), (QStringList{QStringLiteral("J\u00fcrgen <j@x.example>")}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Subject), (QStringList{QStringLiteral("Caf\u00e9")}));
}

void TestFetchHeader::ruleLookupFailure()
{
    // The rule database fails: its error is shown, no row is made, and the
    // connection is dropped without QUIT. Pipelined, LIST 1 went out with TOP 1.
    f->server.greet().login().stat(1).uidl({"1"}).top(1, header("a@x.example", "s")).list(1, 10).optional();
    f->boxes.expect(QStringLiteral("database is locked"), QStringLiteral("Error"), Icon::Critical);
    FetchHeader(f->status, f->inbox, f->recycle,
                [](const QString &, const QString &) -> bool { throw std::runtime_error("database is locked"); });
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QVERIFY(!f->server.commands().contains("QUIT"));
    QCOMPARE(f->inbox.count() + f->recycle.count(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!f->server.clientConnected(), 5000);
}

void TestFetchHeader::repliesJoinedAndSplit_data()
{
    // Where the one stream of all replies is cut into the pieces that arrive.
    QTest::addColumn<QList<int>>("cuts");
    const int top1 = int(ScriptedPop3Server::topReply(header("a@x.example", "one")).size());
    QTest::newRow("one piece") << QList<int>{};
    QTest::newRow("in the first terminator") << QList<int>{top1 - 4, top1 - 2};
    QTest::newRow("in the LIST reply's CR LF") << QList<int>{top1 + 12};
    QList<int> every7;
    for (int at = 7; at < 600; at += 7)
        every7 << at;
    QTest::newRow("every 7 bytes") << every7;
}

void TestFetchHeader::repliesJoinedAndSplit()
{
    // The server answers all six commands of three messages in one stream,
    // cut anywhere; the rows are those of replies arriving one by one.
    QFETCH(QList<int>, cuts);
    const QByteArray stream = ScriptedPop3Server::topReply(header("a@x.example", "one")) + "+OK 1 1500\r\n"
        + "-ERR no such message\r\n" + "+OK 2 2500\r\n"
        + ScriptedPop3Server::topReply(header("c@spam.example", "three")) + "+OK 3 900\r\n";
    QList<QByteArray> pieces;
    int from = 0;
    for (int cut : cuts) {
        pieces << stream.mid(from, cut - from);
        from = cut;
    }
    pieces << stream.mid(from);
    f->filter << QStringLiteral("*@spam.example");
    f->server.greet().login().stat(3).uidl({"a", "b", "c"}).expectPieces("TOP 1 0", pieces);
    for (const QByteArray &command : fetchOrder(3).mid(1))
        f->server.expectSilent(command);
    f->server.quit();
    f->fetch();
    VERIFY_ENDED();
    QCOMPARE(f->server.commands().mid(5), fetchOrder(3) + QList<QByteArray>{"QUIT"});
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Sender), (QStringList{"a@x.example", ""}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Size), (QStringList{"    1K", "    2K"}));
    QCOMPARE(rowTexts(f->recycle, MessageFolderModel::Subject), (QStringList{"three"}));
    QCOMPARE(f->status.eventsStartingWith(QStringLiteral("node:")),
             (QStringList{"node:Inbox (1)", "node:Inbox (2)", "node:Recycle Bin (1)"}));
}

void TestFetchHeader::window_data()
{
    // What happens while 300 messages' commands are on their way.
    QTest::addColumn<QString>("event");
    QTest::addColumn<int>("rows");
    QTest::newRow("first reply held back: window filled, no further") << "held" << 300;
    QTest::newRow("Cancel at the second row: owed replies read, then QUIT") << "cancel" << 2;
    QTest::newRow("silence after five: time limit, no QUIT") << "stall" << 5;
}

void TestFetchHeader::window()
{
    if (!pipelined())
        QSKIP("pipelining only");
    QFETCH(QString, event);
    QFETCH(int, rows);
    const int n = 300;
    f->server.greet().login().stat(n).uidl(uidsFor(n));
    if (event == QLatin1String("stall")) {
        scriptMessages(f->server, 5);
        f->server.expectStall("TOP 6 0");
        f->boxes.expect(kStopped, QStringLiteral("Connection Failed"), Icon::Critical);
    } else {
        const bool cancel = event == QLatin1String("cancel");
        scriptMessages(f->server, n, cancel, cancel ? 3 : 1, 300);
        f->server.quit();
        if (cancel) {
            f->status.onEvent = [](const QString &shown) {
                if (shown == QLatin1String("status:Fetched 2 of 300"))
                    Global::CancelRequested().set();
            };
        }
    }
    f->fetch(event == QLatin1String("stall") ? MailFixture::kTestLimitMs : 5000);
    VERIFY_ENDED();
    QCOMPARE(f->inbox.count(), rows);
    QCOMPARE(rowNumbers(f->inbox).last(), rows); // no row after a Cancel
    QList<QByteArray> sent = f->server.commands().mid(5);
    QCOMPARE(sent.contains("QUIT"), event != QLatin1String("stall"));
    if (sent.removeAll("QUIT"))
        QCOMPARE(f->server.unansweredBefore("QUIT"), 0);
    QCOMPARE(sent, fetchOrder(n).mid(0, sent.size()));
    QVERIFY(sent.size() > 2 * rows || rows == n);
    // Beyond the replies taken, only what fits in the window went out.
    QVERIFY(bytesOf(sent.mid(2 * rows)) < CommandPipeline::kWindowBytes);
    QVERIFY2(f->server.maxUnansweredBytes() < CommandPipeline::kWindowBytes
                 && (event != QLatin1String("held") || f->server.maxUnansweredBytes() > CommandPipeline::kWindowBytes - 20),
             QByteArray::number(f->server.maxUnansweredBytes()).constData());
}

QTEST_GUILESS_MAIN(TestFetchHeader)
#include "tst_fetchheader.moc"
