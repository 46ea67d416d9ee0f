#include "CommandPipeline.h"
#include "MailTestFixture.h"

#include <QTest>
#include <stdexcept>

using testsupport::ScriptedPop3Server;
using Icon = MessageBox::Icon;

namespace {
QByteArray header(const QByteArray &from, const QByteArray &subject, const QByteArray &date = "Mon, 1 Jun 2026 10:00:00 +0000",
                  const QByteArray &extra = {})
{
    QByteArray h;
    if (!from.isNull())
        h += "From: " + from + "\r\n";
    h += "Subject: " + subject + "\r\nDate: " + date + "\r\n" + extra;
    return h;
}
const QString kStopped = QStringLiteral("The server stopped answering.\r\n"
                                        "Nothing arrived from it for 0.4 seconds, so the connection was closed.");
} // namespace

// Every conversation runs twice: once with a server that does not offer
// PIPELINING, once with one that does. The commands on the wire and what the
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
    void silentServer_data();
    void silentServer();
    void repliesInPiecesAndTogether();
    void topSplitAnywhere_data();
    void topSplitAnywhere();
    void topRefused();
    void emptyOrRefusedStat_data();
    void emptyOrRefusedStat();
    void cancelDuringFifthTop();
    void cancelDuringList();
    void droppedMidFetch();
    void hugeHeaderIsCut();
    void largeMessagesAndLatin1();
    void connectFailure();
    void unconfiguredProfile();
    void ruleLookupFailure();

    // Pipelining only.
    void repliesJoinedAndSplit_data();
    void repliesJoinedAndSplit();
    void windowStaysBounded();
    void cancelMidWindow();
    void stallMidWindow();

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
        .top(1, header("Ann <ann@work.example>", "Minutes", "Tue, 2 Jun 2026 09:00:00 +0200", "X-Priority: 1\r\n"))
        .list(1, 500)
        .top(2, header("Offers <win@spam.example>", "You won"))
        .list(2, 2500)
        .top(3, header("bob@home.example", "Lunch?"))
        .list(3, 123456)
        .quit();
    f->fetch();

    VERIFY_SCRIPT(f->server);
    QCOMPARE(f->server.commands(),
             (QList<QByteArray>{"CAPA", "USER user", "PASS secret", "STAT", "UIDL", "TOP 1 0", "LIST 1", "TOP 2 0", "LIST 2",
                                "TOP 3 0", "LIST 3", "QUIT"}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Sender),
             (QStringList{"Ann <ann@work.example>", "bob@home.example"}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Subject), (QStringList{"Minutes", "Lunch?"}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Date),
             (QStringList{"Tue, 2 Jun 2026 09:00:00 +0200", "Mon, 1 Jun 2026 10:00:00 +0000"}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Priority), (QStringList{"1", ""}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Size), (QStringList{"    1K", "  123K"}));
    QCOMPARE(rowNumbers(f->inbox), (QList<qint32>{1, 3}));
    QCOMPARE(f->inbox.entry(0).iconKey, QStringLiteral("inbox"));
    QCOMPARE(f->inbox.entry(1).uid, QStringLiteral("uid-c"));
    QCOMPARE(rowTexts(f->recycle, MessageFolderModel::Sender), (QStringList{"Offers <win@spam.example>"}));
    QCOMPARE(rowTexts(f->recycle, MessageFolderModel::Size), (QStringList{"    2K"}));
    QCOMPARE(rowNumbers(f->recycle), (QList<qint32>{2}));
    QCOMPARE(f->recycle.entry(0).iconKey, QStringLiteral("recycle"));
    QCOMPARE(f->recycle.entry(0).uid, QStringLiteral("uid-b"));

    QCOMPARE(f->status.eventsStartingWith(QStringLiteral("status:")),
             (QStringList{"status:Connecting To Server...", "status:Verify ID/Password", "status:Fetched 1 of 3",
                          "status:Fetched 2 of 3", "status:Fetched 3 of 3", "status:Disconnected"}));
    QCOMPARE(f->status.eventsStartingWith(QStringLiteral("node:")),
             (QStringList{"node:Inbox (1)", "node:Recycle Bin (1)", "node:Inbox (2)"}));
    QCOMPARE(f->status.eventsStartingWith(QStringLiteral("max:")) + f->status.eventsStartingWith(QStringLiteral("progress:")),
             (QStringList{"max:3", "progress:1", "progress:2", "progress:3", "progress:0"}));
    VERIFY_BOXES(f->boxes);
    QTRY_VERIFY_WITH_TIMEOUT(!f->server.clientConnected(), 5000);
}

void TestFetchHeader::classification_data()
{
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QStringList>("filter");
    QTest::addColumn<QStringList>("exempted");
    QTest::addColumn<bool>("toRecycle");

    QTest::newRow("no rules") << QByteArray("a@b.example") << QStringList() << QStringList() << false;
    QTest::newRow("exempted beats a domain rule")
        << QByteArray("Boss <boss@corp.example>") << QStringList{"*@corp.example"}
        << QStringList{"boss <boss@corp.example>"} << false;
    QTest::newRow("domain rule whatever the display name")
        << QByteArray("Anything At All <x@corp.example>") << QStringList{"*@corp.example"} << QStringList() << true;
    QTest::newRow("domain rule ignores case") << QByteArray("x@CORP.example") << QStringList{"*@corp.example"}
                                              << QStringList() << true;
    QTest::newRow("whole From value") << QByteArray("Deals <deals@shop.example>")
                                      << QStringList{"deals <deals@shop.example>"} << QStringList() << true;
    QTest::newRow("same address under another name")
        << QByteArray("Other <deals@shop.example>") << QStringList{"deals <deals@shop.example>"} << QStringList()
        << false;
    QTest::newRow("no @ gives *@") << QByteArray("undisclosed") << QStringList{"*@"} << QStringList() << true;
    QTest::newRow("* is no wildcard") << QByteArray("a@b.example") << QStringList{"*@*"} << QStringList() << false;
}

void TestFetchHeader::classification()
{
    QFETCH(QByteArray, from);
    QFETCH(QStringList, filter);
    QFETCH(QStringList, exempted);
    QFETCH(bool, toRecycle);
    for (const QString &s : filter)
        f->filter << s;
    for (const QString &s : exempted)
        f->exempted << s;
    f->server.greet().login().stat(1).uidl({"u1"}).top(1, header(from, "s")).list(1, 10).quit();
    f->fetch();
    VERIFY_SCRIPT(f->server);
    QCOMPARE(f->recycle.count(), toRecycle ? 1 : 0);
    QCOMPARE(f->inbox.count(), toRecycle ? 0 : 1);
    const MessageFolderModel &model = toRecycle ? f->recycle : f->inbox;
    QCOMPARE(model.entry(0).sender, QString::fromLatin1(from));
}

void TestFetchHeader::loginReplies_data()
{
    QTest::addColumn<QByteArray>("userReply");
    QTest::addColumn<QByteArray>("passReply");
    QTest::addColumn<bool>("loggedIn");
    QTest::newRow("lower-case +ok") << QByteArray("+OK\r\n") << QByteArray("+ok logged in\r\n") << true;
    QTest::newRow("+OK not at the start") << QByteArray("+OK\r\n") << QByteArray("Welcome +OK\r\n") << true;
    QTest::newRow("negative USER reply is ignored") << QByteArray("-ERR who?\r\n") << QByteArray("+OK\r\n") << true;
    QTest::newRow("refused") << QByteArray("+OK\r\n") << QByteArray("-ERR invalid password\r\n") << false;
}

void TestFetchHeader::loginReplies()
{
    QFETCH(QByteArray, userReply);
    QFETCH(QByteArray, passReply);
    QFETCH(bool, loggedIn);
    f->server.greet().expect("USER user", userReply).expect("PASS secret", passReply);
    if (loggedIn)
        f->server.stat(0).quit();
    else
        f->boxes.expect(QStringLiteral("Invalid Email UserID or Password"), QStringLiteral("Connection Failed"),
                        Icon::Critical);
    f->fetch();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->status.statusText, QStringLiteral("Disconnected"));
    QCOMPARE(f->status.progressValue, 0);
    QTRY_VERIFY_WITH_TIMEOUT(!f->server.clientConnected(), 5000);
}

void TestFetchHeader::silentServer_data()
{
    // Where the server goes quiet; how many rows the fetch keeps.
    QTest::addColumn<QByteArray>("silentAt");
    QTest::addColumn<int>("rows");
    QTest::newRow("USER") << QByteArray("USER user") << 0;
    QTest::newRow("PASS") << QByteArray("PASS secret") << 0;
    QTest::newRow("STAT") << QByteArray("STAT") << 0;
    QTest::newRow("TOP") << QByteArray("TOP 2 0") << 1;
    QTest::newRow("LIST") << QByteArray("LIST 2") << 2;
    QTest::newRow("QUIT") << QByteArray("QUIT") << 2;
}

void TestFetchHeader::silentServer()
{
    QFETCH(QByteArray, silentAt);
    QFETCH(int, rows);
    const QList<QPair<QByteArray, QByteArray>> script = {
        {"USER user", "+OK\r\n"},
        {"PASS secret", "+OK\r\n"},
        {"STAT", "+OK 2 300\r\n"},
        {"UIDL", "+OK\r\n1 a\r\n2 b\r\n.\r\n"},
        {"TOP 1 0", ScriptedPop3Server::topReply(header("a@x.example", "one"))},
        {"LIST 1", "+OK 1 100\r\n"},
        {"TOP 2 0", ScriptedPop3Server::topReply(header("b@x.example", "two"))},
        {"LIST 2", "+OK 2 200\r\n"},
        {"QUIT", "+OK\r\n"},
    };
    f->server.greet();
    for (const auto &[command, reply] : script) {
        if (command == silentAt) {
            f->server.expectStall(command);
            break;
        }
        f->server.expect(command, reply);
    }
    f->boxes.expect(kStopped, QStringLiteral("Connection Failed"), Icon::Critical);
    f->fetch(MailFixture::kTestLimitMs);

    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    // Nothing goes out once the limit has passed: unpipelined, nothing after
    // the unanswered command at all; pipelined, only the commands that were
    // already on their way with it.
    const QList<QByteArray> sent = f->server.commands();
    const QList<QByteArray> after = sent.mid(sent.indexOf(silentAt) + 1);
    if (pipelined())
        QVERIFY2(!after.contains("QUIT") && after.size() <= 2, after.join(" | ").constData());
    else
        QCOMPARE(after, QList<QByteArray>());
    QCOMPARE(f->inbox.count(), rows);
    QCOMPARE(f->status.statusText, QStringLiteral("Disconnected"));
    QCOMPARE(f->status.progressValue, 0);
    QTRY_VERIFY_WITH_TIMEOUT(!f->server.clientConnected(), 5000);
}

void TestFetchHeader::repliesInPiecesAndTogether()
{
    // The USER reply comes in two pieces; the PASS and STAT replies arrive
    // glued to the ones before them; the bytes after a single line's CR LF
    // are the next reply, never part of this one.
    f->server.greet("+OK ready")
        .expectPieces("USER user", {"+O", "K name ", "accepted\r\n"})
        .expect("PASS secret", "+OK in\r\n+OK 1 100\r\n")
        .expectSilent("STAT")
        .expect("UIDL", "+OK\r\n1 x\r\n.\r\n")
        .top(1, header("p@q.example", "pieces"))
        .list(1, 4000)
        .quit();
    f->fetch();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Size), (QStringList{"    4K"}));
}

void TestFetchHeader::topSplitAnywhere_data()
{
    QTest::addColumn<int>("cut");
    const QByteArray reply = ScriptedPop3Server::topReply(header("s@split.example", "Split"));
    for (int cut : {1, 3, 4, 5, 12, int(reply.size()) - 6, int(reply.size()) - 5, int(reply.size()) - 4,
                    int(reply.size()) - 3, int(reply.size()) - 2, int(reply.size()) - 1})
        QTest::addRow("at %d of %d", cut, int(reply.size())) << cut;
}

void TestFetchHeader::topSplitAnywhere()
{
    QFETCH(int, cut);
    const QByteArray reply = ScriptedPop3Server::topReply(header("s@split.example", "Split"));
    f->server.greet().login().stat(1).uidl({"x"})
        .expectPieces("TOP 1 0", {reply.left(cut), reply.mid(cut)})
        .list(1, 7000)
        .quit();
    f->fetch();
    VERIFY_SCRIPT(f->server);
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Sender), (QStringList{"s@split.example"}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Subject), (QStringList{"Split"}));
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
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(rowNumbers(f->inbox), (QList<qint32>{1, 2, 3}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Sender), (QStringList{"one@x.example", "", "three@x.example"}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Subject), (QStringList{"1", "", "3"}));
    QCOMPARE(f->recycle.count(), 0);
}

void TestFetchHeader::emptyOrRefusedStat_data()
{
    QTest::addColumn<QByteArray>("statReply");
    QTest::newRow("+OK 0 0") << QByteArray("+OK 0 0\r\n");
    QTest::newRow("-ERR") << QByteArray("-ERR maildrop busy\r\n");
    QTest::newRow("garbage") << QByteArray("+OK many\r\n");
}

void TestFetchHeader::emptyOrRefusedStat()
{
    QFETCH(QByteArray, statReply);
    f->server.greet().login().expect("STAT", statReply).quit();
    f->fetch();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->inbox.count() + f->recycle.count(), 0);
    QCOMPARE(f->status.statusText, QStringLiteral("Disconnected"));
    QCOMPARE(f->status.progressValue, 0);
}

void TestFetchHeader::cancelDuringFifthTop()
{
    if (pipelined())
        QSKIP("the server sees every command at once; cancelMidWindow covers a pipelined Cancel");
    f->server.greet().login().stat(6).uidl({"1", "2", "3", "4", "5", "6"});
    for (int i = 1; i <= 4; ++i)
        f->server.top(i, header("m" + QByteArray::number(i) + "@x.example", "s")).list(i, 1000);
    // The server answers late; Cancel ends the wait before that.
    f->server.top(5, header("m5@x.example", "s")).delayed(300).then([] { Global::CancelRequested().set(); }).quit();
    f->fetch();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(rowNumbers(f->inbox), (QList<qint32>{1, 2, 3, 4}));
    QCOMPARE(f->status.statusText, QStringLiteral("Disconnected"));
    QCOMPARE(f->status.progressValue, 0);
}

void TestFetchHeader::cancelDuringList()
{
    if (pipelined())
        QSKIP("the server sees every command at once; cancelMidWindow covers a pipelined Cancel");
    // The LIST reply comes late, after Cancel; it must not be taken for the
    // QUIT reply, and the header already read keeps its row.
    f->server.greet().login().stat(3).uidl({"1", "2", "3"})
        .top(1, header("a@x.example", "s")).list(1, 1000)
        .top(2, header("b@x.example", "s"))
        .expect("LIST 2", "+OK 2 2000\r\n").delayed(200).then([] { Global::CancelRequested().set(); })
        .quit();
    f->fetch();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(rowNumbers(f->inbox), (QList<qint32>{1, 2}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Size), (QStringList{"    1K", ""}));
    QCOMPARE(f->status.statusText, QStringLiteral("Disconnected"));
}

void TestFetchHeader::droppedMidFetch()
{
    f->server.greet().login().stat(3).uidl({"1", "2", "3"})
        .top(1, header("a@x.example", "s")).list(1, 1000)
        .top(2, header("b@x.example", "s")).list(2, 1000)
        .expectDrop("TOP 3 0");
    f->boxes.expect(QStringLiteral("The server closed the connection."), QStringLiteral("Error"), Icon::Critical);
    f->fetch();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(rowNumbers(f->inbox), (QList<qint32>{1, 2}));
    QCOMPARE(f->status.statusText, QStringLiteral("Disconnected"));
    QCOMPARE(f->status.progressValue, 0);
}

void TestFetchHeader::hugeHeaderIsCut()
{
    // Megabytes of header without an end: the row still comes, from what
    // was kept, and the next exchange is not confused by the rest.
    QByteArray head = header("big@x.example", "Huge");
    const QByteArray junk = "X-Junk: " + QByteArray(998, 'j') + "\r\n";
    QList<QByteArray> pieces{"+OK\r\n" + head};
    for (int i = 0; i < 24; ++i)
        pieces << junk.repeated(128); // 24 x 128 KB = 3 MB
    pieces << "\r\n.\r\n";
    f->server.greet().login().stat(2).uidl({"1", "2"})
        .expectPieces("TOP 1 0", pieces).list(1, 3000000)
        .top(2, header("small@x.example", "Small")).list(2, 100)
        .quit();
    f->fetch();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Sender), (QStringList{"big@x.example", "small@x.example"}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Size), (QStringList{" 3000K", "    1K"}));
}

void TestFetchHeader::largeMessagesAndLatin1()
{
    Global::ProfileSettings.EmailPassword = QStringLiteral("s\u00e9cret");
    f->server.greet().expect("USER user", "+OK\r\n").expect("PASS s\xe9" "cret", "+OK\r\n")
        .stat(1).uidl({"1"})
        .top(1, header("J\xfcrgen <j@x.example>", "Caf\xe9"))
        .list(1, 32768000)
        .quit();
    f->fetch();
    VERIFY_SCRIPT(f->server);
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Sender), (QStringList{QStringLiteral("J\u00fcrgen <j@x.example>")}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Subject), (QStringList{QStringLiteral("Caf\u00e9")}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Size), (QStringList{"32768K"}));
}

void TestFetchHeader::connectFailure()
{
    // A port that was free a moment ago: nothing listens there.
    quint16 port = 0;
    {
        testsupport::ScriptedPop3Server gone;
        QVERIFY(gone.listen());
        port = gone.port();
    }
    Global::ProfileSettings.EmailPort = QString::number(port);
    f->boxes.expect(QStringLiteral("Unable to connect to Host.\r\nCheck Network Connection"),
                    QStringLiteral("127.0.0.1"), Icon::Critical);
    f->fetch();
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->status.eventsStartingWith(QStringLiteral("status:")),
             (QStringList{"status:Connecting To Server...", "status:Connect Error", "status:Disconnected"}));
}

void TestFetchHeader::unconfiguredProfile()
{
    Global::ProfileSettings.EmailHost.clear();
    f->boxes.expect(QStringLiteral("Email Setting not configured"), QStringLiteral("Email Setting Error"),
                    Icon::Critical);
    f->fetch();
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->server.connections(), 0);
    QVERIFY(f->status.events.isEmpty());
}

void TestFetchHeader::ruleLookupFailure()
{
    // Pipelined, LIST 1 went out with TOP 1 before the header was judged.
    f->server.greet().login().stat(1).uidl({"1"}).top(1, header("a@x.example", "s")).list(1, 10).optional();
    f->boxes.expect(QStringLiteral("database is locked"), QStringLiteral("Error"), Icon::Critical);
    FetchHeader(f->status, f->inbox, f->recycle,
                [](const QString &, const QString &) -> bool { throw std::runtime_error("database is locked"); });
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QVERIFY(!f->server.commands().contains("QUIT"));
    QCOMPARE(f->server.commands().contains("LIST 1"), pipelined());
    QCOMPARE(f->inbox.count() + f->recycle.count(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!f->server.clientConnected(), 5000);
}

namespace {
// TOP and LIST of messages 1 to n; from the second message on they may be
// left out when optionalTail is set; one message's TOP reply may come late
// (and, replies going out in order, all after it).
void scriptMessages(ScriptedPop3Server &server, int n, bool optionalTail, int lateMessage = 0, int lateMs = 0)
{
    for (int i = 1; i <= n; ++i) {
        const QByteArray number = QByteArray::number(i);
        server.top(i, header("m" + number + "@x.example", "s" + number));
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

void TestFetchHeader::repliesJoinedAndSplit_data()
{
    // Where the one stream of all replies is cut into the pieces that arrive.
    QTest::addColumn<QList<int>>("cuts");
    const int top1 = int(ScriptedPop3Server::topReply(header("a@x.example", "one")).size());
    QTest::newRow("one piece") << QList<int>{};
    QTest::newRow("in the first status line") << QList<int>{2};
    QTest::newRow("in the first terminator") << QList<int>{top1 - 4, top1 - 2};
    QTest::newRow("right after the first reply") << QList<int>{top1};
    QTest::newRow("in the LIST reply's CR LF") << QList<int>{top1 + 12};
    QTest::newRow("every 7 bytes") << [] {
        QList<int> cuts;
        for (int at = 7; at < 600; at += 7)
            cuts << at;
        return cuts;
    }();
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
        if (cut > from && cut < stream.size()) {
            pieces << stream.mid(from, cut - from);
            from = cut;
        }
    }
    pieces << stream.mid(from);
    f->filter << QStringLiteral("*@spam.example");
    f->server.greet().login().stat(3).uidl({"a", "b", "c"}).expectPieces("TOP 1 0", pieces);
    for (const QByteArray &command : fetchOrder(3).mid(1))
        f->server.expectSilent(command);
    f->server.quit();
    f->fetch();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->server.commands().mid(5), fetchOrder(3) + QList<QByteArray>{"QUIT"});
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Sender), (QStringList{"a@x.example", ""}));
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Size), (QStringList{"    1K", "    2K"}));
    QCOMPARE(rowTexts(f->recycle, MessageFolderModel::Subject), (QStringList{"three"}));
    QCOMPARE(f->status.eventsStartingWith(QStringLiteral("node:")),
             (QStringList{"node:Inbox (1)", "node:Inbox (2)", "node:Recycle Bin (1)"}));
    QCOMPARE(f->status.statusText, QStringLiteral("Disconnected"));
}

void TestFetchHeader::windowStaysBounded()
{
    if (!pipelined())
        QSKIP("pipelining only");
    // The server sits on its first reply for a while: the client fills the
    // window meanwhile, and no further.
    const int n = 300;
    f->server.greet().login().stat(n).uidl(uidsFor(n));
    scriptMessages(f->server, n, false, 1, 300);
    f->server.quit();
    f->fetch();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->server.commands().mid(5), fetchOrder(n) + QList<QByteArray>{"QUIT"});
    QCOMPARE(f->inbox.count(), n);
    QVERIFY2(f->server.maxUnansweredBytes() < CommandPipeline::kWindowBytes
                 && f->server.maxUnansweredBytes() > CommandPipeline::kWindowBytes - 20,
             QByteArray::number(f->server.maxUnansweredBytes()).constData());
    QCOMPARE(f->status.eventsStartingWith(QStringLiteral("progress:")).size(), n + 1);
    QCOMPARE(f->status.statusText, QStringLiteral("Disconnected"));
}

void TestFetchHeader::cancelMidWindow()
{
    if (!pipelined())
        QSKIP("pipelining only");
    // Cancel once the second row is shown, while the server holds back the
    // rest: the replies still owed are read before QUIT goes out, nothing
    // more is sent, and no row is added after the Cancel.
    const int n = 300;
    f->server.greet().login().stat(n).uidl(uidsFor(n));
    scriptMessages(f->server, n, true, 3, 300);
    f->server.quit();
    f->status.onEvent = [](const QString &event) {
        if (event == QLatin1String("status:Fetched 2 of 300"))
            Global::CancelRequested().set();
    };
    f->fetch();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(rowNumbers(f->inbox), (QList<qint32>{1, 2}));
    const QList<QByteArray> sent = f->server.commands().mid(5);
    QCOMPARE(sent.last(), QByteArray("QUIT"));
    const QList<QByteArray> fetch = sent.mid(0, sent.size() - 1);
    QVERIFY2(fetch.size() > 4 && fetch.size() < 2 * n, QByteArray::number(fetch.size()).constData());
    QCOMPARE(fetch, fetchOrder(n).mid(0, fetch.size()));
    // Only what fits in the window beyond the two messages taken went out.
    QVERIFY(bytesOf(fetch.mid(4)) < CommandPipeline::kWindowBytes);
    QCOMPARE(f->server.unansweredBefore("QUIT"), 0);
    QCOMPARE(f->status.statusText, QStringLiteral("Disconnected"));
    QCOMPARE(f->status.progressValue, 0);
    QTRY_VERIFY_WITH_TIMEOUT(!f->server.clientConnected(), 5000);
}

void TestFetchHeader::stallMidWindow()
{
    if (!pipelined())
        QSKIP("pipelining only");
    // The server answers five messages and then nothing: the time limit ends
    // the fetch with its box, no QUIT, the five rows kept.
    const int n = 300;
    f->server.greet().login().stat(n).uidl(uidsFor(n));
    scriptMessages(f->server, 5, false);
    f->server.expectStall("TOP 6 0");
    f->boxes.expect(kStopped, QStringLiteral("Connection Failed"), Icon::Critical);
    f->fetch(MailFixture::kTestLimitMs);
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(rowNumbers(f->inbox), (QList<qint32>{1, 2, 3, 4, 5}));
    const QList<QByteArray> sent = f->server.commands().mid(5);
    QVERIFY(!sent.contains("QUIT"));
    QCOMPARE(sent, fetchOrder(n).mid(0, sent.size()));
    QVERIFY(bytesOf(sent.mid(10)) < CommandPipeline::kWindowBytes);
    QCOMPARE(f->status.statusText, QStringLiteral("Disconnected"));
    QCOMPARE(f->status.progressValue, 0);
    QTRY_VERIFY_WITH_TIMEOUT(!f->server.clientConnected(), 5000);
}

QTEST_GUILESS_MAIN(TestFetchHeader)
#include "tst_fetchheader.moc"
