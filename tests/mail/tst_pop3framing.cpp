#include "CancelFlag.h"
#include "MemoryConnection.h"
#include "Pop3Session.h"
#include "ProfileRecord.h"
#include "RecordingStatus.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

// POP3 replies as they come off the wire, cut at every byte, over an
// in-memory connection; the breaks that end a conversation; and what the
// session's steps return.
class TestPop3Framing : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void splitReplies_data();
    void splitReplies();
    void overlongReplyKeepsItsStart();
    void breaks_data();
    void breaks();
    void results_data();
    void results();
};

using namespace Qt::StringLiterals;

namespace {

const QByteArray kQuitReply = QByteArrayLiteral("+OK bye\r\n");

// Short enough that a reply the framer misses fails its test quickly.
SessionOptions quickOptions()
{
    SessionOptions options;
    options.inactivityLimitMs = 3000;
    return options;
}

// A session over a MemoryConnection.
struct Conversation {
    explicit Conversation(SessionOptions options = quickOptions(), const QString &port = QStringLiteral("110"))
    {
        settings.EmailHost = QStringLiteral("mail.test");
        settings.EmailPort = port;
        settings.EmailSecurity = QStringLiteral("None");
        settings.EmailUserid = QStringLiteral("ann");
        settings.EmailPassword = QStringLiteral("secret");
        auto connection = std::make_unique<MemoryConnection>();
        server = connection.get();
        session = std::make_unique<Pop3Session>(std::move(connection), status, settings, cancel, options);
    }
    bool greet()
    {
        server->serve("+OK ready\r\n");
        return session->ConnectServer().ok();
    }

    CancelFlag cancel;
    RecordingStatus status;
    ProfileSettingsRecord settings;
    MemoryConnection *server = nullptr;
    std::unique_ptr<Pop3Session> session;
};

// Sends `command`, serves `pieces` as the server's answer (with QUIT's reply
// after it) and checks both replies come out whole and nothing else went out.
void exchange(const QString &command, qint16 mode, const QList<QByteArray> &pieces, const QByteArray &reply,
              const QByteArray &label)
{
    Conversation c;
    QVERIFY2(c.greet(), label.constData());
    for (const QByteArray &piece : pieces)
        c.server->serve(piece);
    QCOMPARE(c.session->command(command, mode), Pop3Session::Outcome::Reply);
    QVERIFY2(c.session->reply() == reply, (label + ": " + c.session->reply()).constData());
    QCOMPARE(c.session->QuitServer(), Pop3Session::Outcome::Reply);
    QVERIFY2(c.session->reply() == kQuitReply, label.constData());
    QCOMPARE(c.server->written(), command.toLatin1() + "\r\nQUIT\r\n");
}

} // namespace

void TestPop3Framing::splitReplies_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("status line") << u"STAT"_s << int(Pop3Session::kSingleReply) << QByteArray("+OK 2 320\r\n");
    QTest::newRow("multi-line") << u"TOP 1 0"_s << int(Pop3Session::kMultiLineReply)
                                << QByteArray("+OK\r\nSubject: hi\r\n\r\n.\r\n");
    // "..\r\n" is a stuffed ".": the reply goes on past it.
    QTest::newRow("byte-stuffed lines") << u"TOP 2 0"_s << int(Pop3Session::kMultiLineReply)
                                        << QByteArray("+OK\r\n..\r\n...x\r\n.. \r\n.\r\n");
    // The status line's CR LF is the terminator's first half.
    QTest::newRow("empty listing") << u"UIDL"_s << int(Pop3Session::kListingReply) << QByteArray("+OK\r\n.\r\n");
    QTest::newRow("multi-line refused") << u"TOP 9 0"_s << int(Pop3Session::kMultiLineReply)
                                        << QByteArray("-ERR no such message\r\n");
    QTest::newRow("SASL continuation") << u"AUTH PLAIN"_s << int(Pop3Session::kSingleReply) << QByteArray("+ \r\n");
}

void TestPop3Framing::splitReplies()
{
    QFETCH(QString, command);
    QFETCH(int, mode);
    QFETCH(QByteArray, reply);
    const QByteArray wire = reply + kQuitReply;
    for (qsizetype at = 1; at < wire.size(); ++at) {
        exchange(command, qint16(mode), {wire.left(at), wire.mid(at)}, reply, "split at " + QByteArray::number(at));
        if (QTest::currentTestFailed())
            return;
    }
    QList<QByteArray> bytes;
    for (const char c : wire)
        bytes << QByteArray(1, c);
    exchange(command, qint16(mode), bytes, reply, "a byte at a time");
    exchange(command, qint16(mode), {wire}, reply, "in one piece");
}

// A reply past the cap keeps its first part; the rest is dropped until its
// end, here split across three arrivals.
void TestPop3Framing::overlongReplyKeepsItsStart()
{
    Conversation c;
    QVERIFY(c.greet());
    QByteArray reply = "+OK\r\n";
    while (reply.size() < Pop3Session::kReplyCap + 50 * 1024)
        reply += "Received: from somewhere\r\n";
    c.server->serveInPieces(reply.chopped(1), 4093);
    c.server->serve("\n.\r");
    c.server->serve("\n" + kQuitReply);
    QCOMPARE(c.session->command(u"TOP 1 0"_s, Pop3Session::kMultiLineReply), Pop3Session::Outcome::Reply);
    QCOMPARE(c.session->reply().size(), Pop3Session::kReplyCap + 5);
    QVERIFY(c.session->reply().startsWith(reply.left(Pop3Session::kReplyCap)));
    QVERIFY(c.session->reply().endsWith("\r\n.\r\n"));
    QCOMPARE(c.session->QuitServer(), Pop3Session::Outcome::Reply);
    QCOMPARE(c.session->reply(), kQuitReply);
}

void TestPop3Framing::breaks_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QString>("text");
    const QString outOfStep = u"The server's replies no longer match the commands sent, so the connection was "
                              "closed without letting the server act on this session."_s;
    // Far more than the limits below, in pieces: the session must stop reading.
    const QByteArray endless = "+OK\r\n" + QByteArray(2 * 1024 * 1024, 'x');
    QTest::newRow("endless reply") << u"TOP 1 0"_s << int(Pop3Session::kMultiLineReply) << endless
                                   << u"The server's reply to TOP went on past 307200 bytes, so the connection "
                                      "was closed."_s;
    QTest::newRow("endless listing") << u"UIDL"_s << int(Pop3Session::kListingReply) << endless
                                     << u"The server's message listing is larger than 1 MB, so the connection was "
                                        "closed."_s;
    QTest::newRow("no status indicator") << u"STAT"_s << int(Pop3Session::kSingleReply)
                                         << QByteArray("Subject: left over\r\n") << outOfStep;
    QTest::newRow("status line without end") << u"STAT"_s << int(Pop3Session::kSingleReply)
                                             << "+OK " + QByteArray(Pop3Session::kStatusLineCap + 10, 'x') << outOfStep;
}

void TestPop3Framing::breaks()
{
    QFETCH(QString, command);
    QFETCH(int, mode);
    QFETCH(QByteArray, wire);
    QFETCH(QString, text);
    SessionOptions options = quickOptions();
    options.replyLimitBytes = 300 * 1024;
    options.listingLimitBytes = 1024 * 1024;
    Conversation c(options);
    QVERIFY(c.greet());
    c.server->serveInPieces(wire, 32 * 1024);
    QSignalSpy broken(c.session.get(), &Pop3Session::broken);
    QCOMPARE(c.session->command(command, qint16(mode)), Pop3Session::Outcome::Failed);
    QCOMPARE(broken.count(), 1);
    const MailResult failure = c.session->failure(u"Nothing was deleted."_s);
    QCOMPARE(failure.kind, MailOutcome::ConnectionFailed);
    QCOMPARE(failure.title, u"Error"_s);
    QCOMPARE(failure.text, text + u"\r\nNothing was deleted."_s);
    // The connection is closed; nothing more is read or sent.
    QTRY_VERIFY_WITH_TIMEOUT(!c.server->isOpen(), 2000);
    if (wire.size() > 1024 * 1024)
        QVERIFY(c.server->piecesLeft() > 0);
    QCOMPARE(c.session->QuitServer(), Pop3Session::Outcome::Failed);
    QCOMPARE(c.server->written(), command.toLatin1() + "\r\n");
}

void TestPop3Framing::results_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QList<QByteArray>>("replies"); // greeting, CAPA, USER, PASS
    QTest::addColumn<bool>("cancelled");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("serverWords");
    const QByteArray capa = "+OK\r\nUSER\r\n.\r\n";
    const int failed = int(MailOutcome::ConnectionFailed);
    QTest::newRow("logged in") << u"110"_s << QList<QByteArray>{"+OK hi\r\n", capa, "+OK\r\n", "+OK in\r\n"} << false
                               << int(MailOutcome::Done) << QString() << QString() << QString();
    QTest::newRow("greeting refused") << u"110"_s << QList<QByteArray>{"-ERR too busy\r\n"} << false << failed
                                      << u"Connection Failed"_s
                                      << u"The server mail.test refused the session.\r\nThe server said: too busy"_s
                                      << u"too busy"_s;
    QTest::newRow("mailbox in use")
        << u"110"_s << QList<QByteArray>{"+OK hi\r\n", capa, "+OK\r\n", "-ERR [IN-USE] locked by secret\r\n"} << false
        << failed << u"Connection Failed"_s
        << u"The mailbox is in use by another mail program, so the server refused the login.\r\nThe server said: "
           "locked by ***\r\nPlease try again later."_s
        << u"locked by ***"_s;
    QTest::newRow("closed during login") << u"110"_s << QList<QByteArray>{"+OK hi\r\n", capa} << false << failed
                                         << u"Error"_s << u"The server closed the connection."_s << QString();
    QTest::newRow("port not a number") << u"11O"_s << QList<QByteArray>{} << false << int(MailOutcome::Failed)
                                       << u"Error"_s << u"The POP3 port \"11O\" is not a port number."_s << QString();
    QTest::newRow("cancelled") << u"110"_s << QList<QByteArray>{"+OK hi\r\n"} << true << int(MailOutcome::Cancelled)
                               << QString() << QString() << QString();
}

void TestPop3Framing::results()
{
    QFETCH(QString, port);
    QFETCH(QList<QByteArray>, replies);
    QFETCH(bool, cancelled);
    QFETCH(int, kind);
    Conversation c(quickOptions(), port);
    for (const QByteArray &reply : replies)
        c.server->serve(reply);
    c.server->hangUpWhenServed();
    if (cancelled)
        c.cancel.set();
    MailResult result = c.session->ConnectServer();
    if (result.ok())
        result = c.session->LoginServer();
    QCOMPARE(int(result.kind), kind);
    QTEST(result.title, "title");
    QTEST(result.text, "text");
    QTEST(result.serverWords, "serverWords");
}

QTEST_GUILESS_MAIN(TestPop3Framing)
#include "tst_pop3framing.moc"
