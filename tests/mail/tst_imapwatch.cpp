#include "CancelFlag.h"
#include "ImapWatch.h"
#include "MessageFolderModel.h"
#include "ProfileRecord.h"
#include "RecordingStatus.h"
#include "SampleImapServer.h"
#include "ScriptedImapServer.h"

#include <QSignalSpy>
#include <algorithm>
#include <QTest>
#include <QTimer>

// The watch against the sample IMAP server on loopback: what arrives is
// screened and moved, what was there stays, and the waits, the reconnects
// and the end behave.
class TestImapWatch : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void arrivalsAreScreenedAndHitsMoved_data();
    void arrivalsAreScreenedAndHitsMoved();
    void idleIsRenewedAndCancelLogsOut();
    void pollsWithNoopWithoutIdle();
    void silentServerIsAskedAndOpenedAgain();
    void reconnectsAndScreensWhatCameMeanwhile();
    void firstFailedConnectionEndsTheWatch();
    void hitNotMovedIsScreenedAgain();
    void copyAcceptedBeforeCancelIsFinished();
    void idleEndedByServerIsIssuedAgain();
    void closedConnectionIsNotWaitedOn();
    void sampleServerServesAWholeFetch();
};

namespace {

QByteArray message(const QByteArray &from, const QByteArray &subject)
{
    return "From: " + from + "\r\nSubject: " + subject + "\r\nDate: Sun, 6 Dec 2026 10:00:00 +0000\r\n\r\nBody\r\n";
}

// Anything from the spam domain is a filter hit.
SortReason classify(const QString &sender, QByteArrayView, qint64)
{
    if (sender.contains(QLatin1String("@spam.example")))
        return {SortReason::Kind::Filter, QStringLiteral("*@spam.example")};
    return {};
}

// Scripted servers for a watch's connections, one transcript each in turn;
// each tells, once its session lets it go, whether it was followed to the end.
struct Transcripts {
    using Script = std::function<void(ScriptedImapServer &)>;

    class Checked : public ScriptedImapServer {
    public:
        explicit Checked(QStringList &problems)
            : m_problems(problems)
        {
        }
        ~Checked() override
        {
            if (QString why; !verify(&why))
                m_problems << why;
        }

    private:
        QStringList &m_problems;
    };

    SessionOptions options(int inactivityLimitMs = 5000)
    {
        SessionOptions o;
        o.inactivityLimitMs = inactivityLimitMs;
        o.connection = [this]() -> std::unique_ptr<MailConnection> {
            auto server = std::make_unique<Checked>(problems);
            if (connections < scripts.size())
                scripts.at(connections)(*server);
            ++connections;
            return server;
        };
        return o;
    }

    QList<Script> scripts;
    qsizetype connections = 0;
    QStringList problems;
};

// A watch of INBOX on the sample server (or over the connections given),
// its moves and history recorded.
struct Watch {
    explicit Watch(SampleImapServer &server, const QString &emptyAction = QStringLiteral("Junk"))
        : Watch(server.port(), emptyAction, {})
    {
    }
    // Moves to the folder "Junk" by name: no LIST in the transcripts.
    explicit Watch(SessionOptions options)
        : Watch(143, QStringLiteral("Junk"), std::move(options))
    {
    }
    Watch(quint16 port, const QString &emptyAction, SessionOptions options)
    {
        settings.EmailHost = QStringLiteral("127.0.0.1");
        settings.EmailPort = QString::number(port);
        settings.EmailUserid = QStringLiteral("ann");
        settings.EmailPassword = QStringLiteral("secret");
        settings.MailProtocol = QStringLiteral("IMAP");
        settings.ImapEmptyAction = emptyAction;
        if (options.connection)
            settings.ImapTargetFolder = QStringLiteral("Junk");
        DeletionJournal journal;
        journal.pending = [this](const QList<MessageEntry> &rows, QString *) {
            for (const MessageEntry &row : rows)
                recorded.append(row.subject);
            return true;
        };
        journal.settleEach = [this](const QList<std::optional<bool>> &each) {
            settled += int(std::count(each.cbegin(), each.cend(), std::optional<bool>(true)));
        };
        watch = std::make_unique<ImapWatch>(status, settings, cancel, classify, journal, std::move(options));
        watch->setDelays({50, 400});
        QObject::connect(watch.get(), &ImapWatch::moved, [this](const MessageEntry &entry, const QString &folder) {
            moved.append(folder + QLatin1Char(':') + entry.subject);
        });
        // Whatever goes wrong, the test ends.
        QTimer::singleShot(15000, &cancel, &CancelFlag::set);
    }

    MailResult run()
    {
        const MailResult result = watch->run();
        QTest::qWait(20); // the server reads the last lines
        return result;
    }

    ProfileSettingsRecord settings;
    RecordingStatus status;
    CancelFlag cancel;
    std::unique_ptr<ImapWatch> watch;
    QStringList moved;
    QStringList recorded;
    int settled = 0;
};

int count(const QList<QByteArray> &commands, const QByteArray &prefix)
{
    return int(std::count_if(commands.cbegin(), commands.cend(),
                             [&prefix](const QByteArray &c) { return c.startsWith(prefix); }));
}

const QByteArray kCapabilities = "IMAP4rev1 IDLE MOVE UIDPLUS";

// S: greeting; C: LOGIN; C: SELECT "INBOX", S: its `exists` messages, UIDNEXT `next`.
void selected(ScriptedImapServer &s, int exists, quint32 next, const QByteArray &capabilities = kCapabilities)
{
    s.greet("* OK [CAPABILITY " + capabilities + "] ready");
    s.expect("LOGIN \"ann\" \"secret\"", {}, "OK [CAPABILITY " + capabilities + "] Logged in");
    s.expect("SELECT \"INBOX\"",
             {"* " + QByteArray::number(exists) + " EXISTS", "* OK [UIDVALIDITY 77] UIDs valid",
              "* OK [UIDNEXT " + QByteArray::number(next) + "] next"},
             "OK [READ-WRITE] done");
}

QByteArray fetchFrom(quint32 uid)
{
    return "UID FETCH " + QByteArray::number(uid) + ":* (UID RFC822.SIZE BODY.PEEK[HEADER])";
}

// S: a FETCH answer with the header of message `sequence`, UID `uid`.
QByteArray fetched(int sequence, quint32 uid, const QByteArray &from, const QByteArray &subject)
{
    const QByteArray header = "From: " + from + "\r\nSubject: " + subject + "\r\n\r\n";
    return "* " + QByteArray::number(sequence) + " FETCH (UID " + QByteArray::number(uid) + " RFC822.SIZE 900 "
        + "BODY[HEADER] {" + QByteArray::number(header.size()) + "}\r\n" + header + ")";
}

const QByteArray kHam = fetched(1, 1000, "friend@home.example", "Ham");
const QByteArray kSpam = fetched(2, 1001, "Bulk <bulk@spam.example>", "New spam");

// The watch's start and its first wait: the one message there (UID 1000)
// is named by "1001:*" too, as the newest; then IDLE, and news of a second.
void idledUntilSpam(ScriptedImapServer &s, const QByteArray &capabilities = kCapabilities)
{
    selected(s, 1, 1001, capabilities);
    s.expect(fetchFrom(1001), {kHam});
    s.expect("IDLE", {"+ idling", "* 2 EXISTS"}, {});
    s.inPieces(6);
    s.expectLine("DONE", {}, "OK IDLE done");
    s.expect(fetchFrom(1001), {kSpam});
    s.inPieces(7);
}

} // namespace

void TestImapWatch::arrivalsAreScreenedAndHitsMoved_data()
{
    QTest::addColumn<QString>("emptyAction");
    QTest::addColumn<QString>("folder");
    QTest::newRow("junk") << QStringLiteral("Junk") << QStringLiteral("Junk");
    // Unattended, a deletion becomes a move that can be undone.
    QTest::newRow("delete goes to trash") << QStringLiteral("Delete") << QStringLiteral("Trash");
}

void TestImapWatch::arrivalsAreScreenedAndHitsMoved()
{
    QFETCH(QString, emptyAction);
    QFETCH(QString, folder);
    // Spam that was there before the watch is left to a check.
    SampleImapServer server({message("old@spam.example", "Old spam"), message("friend@home.example", "Old mail")},
                            "ann", "secret");
    QVERIFY(server.listen());
    Watch w(server, emptyAction);
    connect(&server, &SampleImapServer::idling, &w.cancel, [&server] {
        if (server.messageCount() == 2) {
            server.deliver(message("Bulk <bulk@spam.example>", "New spam"));
            server.deliver(message("friend@home.example", "New mail"));
        }
    });
    connect(w.watch.get(), &ImapWatch::moved, &w.cancel, &CancelFlag::set);

    QCOMPARE(w.run().kind, MailOutcome::Cancelled);
    QCOMPARE(w.moved, QStringList{folder + QStringLiteral(":New spam")});
    QCOMPARE(server.subjects(folder), QList<QByteArray>{"New spam"});
    QCOMPARE(server.subjects(QStringLiteral("INBOX")), (QList<QByteArray>{"Old spam", "Old mail", "New mail"}));
    QVERIFY(!server.anySeen(QStringLiteral("INBOX")));
    QCOMPARE(w.recorded, QStringList{QStringLiteral("New spam")});
    QCOMPARE(w.settled, 1);
    QCOMPARE(server.commands().constLast(), QByteArray("LOGOUT"));
}

void TestImapWatch::idleIsRenewedAndCancelLogsOut()
{
    SampleImapServer server({}, "ann", "secret");
    QVERIFY(server.listen());
    Watch w(server);
    w.watch->setIntervals({60, 60000});
    int idles = 0;
    connect(&server, &SampleImapServer::idling, &w.cancel, [&] {
        if (++idles == 3)
            w.cancel.set(); // while idling: DONE, then LOGOUT
    });

    QCOMPARE(w.run().kind, MailOutcome::Cancelled);
    const QList<QByteArray> &commands = server.commands();
    QCOMPARE(count(commands, "IDLE"), 3);
    // Each renewal looks for what an unheard EXISTS may have hidden.
    QCOMPARE(count(commands, "UID FETCH"), 3);
    QCOMPARE(commands.constLast(), QByteArray("LOGOUT"));
    QCOMPARE(server.connectionCount(), 1);
}

void TestImapWatch::pollsWithNoopWithoutIdle()
{
    SampleImapServer server({}, "ann", "secret");
    server.setOfferIdle(false);
    server.setOfferMove(false); // COPY, STORE and UID EXPUNGE instead
    QVERIFY(server.listen());
    Watch w(server);
    w.watch->setIntervals({60000, 50});
    QSignalSpy watching(w.watch.get(), &ImapWatch::watching);
    // Once the folder was looked at: only a poll can find it.
    connect(w.watch.get(), &ImapWatch::watching, &server, [&server] {
        QTimer::singleShot(120, &server, [&server] { server.deliver(message("x@spam.example", "Polled spam")); });
    });
    connect(w.watch.get(), &ImapWatch::moved, &w.cancel, &CancelFlag::set);

    QCOMPARE(w.run().kind, MailOutcome::Cancelled);
    QCOMPARE(w.moved, QStringList{QStringLiteral("Junk:Polled spam")});
    QCOMPARE(server.messageCount(QStringLiteral("INBOX")), 0);
    QCOMPARE(count(server.commands(), "IDLE"), 0);
    QCOMPARE(watching.size(), 1);
    QCOMPARE(watching.at(0).at(1).toBool(), false);
    QVERIFY(count(server.commands(), "NOOP") >= 1);
    QCOMPARE(count(server.commands(), "UID EXPUNGE"), 1);
}

// A server that never tells a selected folder of new mail, and shows it
// only once the folder is opened again: the watch asks for the folder's
// UIDNEXT after each quiet interval, and opens it again when mail came.
void TestImapWatch::silentServerIsAskedAndOpenedAgain()
{
    SampleImapServer server({message("friend@home.example", "Old mail")}, "ann", "secret");
    server.setSilent(true);
    QVERIFY(server.listen());
    Watch w(server);
    w.watch->setIntervals({60000, 60000, 100});
    connect(w.watch.get(), &ImapWatch::watching, &server, [&server] {
        server.deliver(message("x@spam.example", "Unannounced spam"));
        server.deliver(message("friend@home.example", "Unannounced mail"));
    });
    connect(w.watch.get(), &ImapWatch::moved, &w.cancel, &CancelFlag::set);

    QCOMPARE(w.run().kind, MailOutcome::Cancelled);
    QCOMPARE(w.moved, QStringList{QStringLiteral("Junk:Unannounced spam")});
    QCOMPARE(server.subjects(QStringLiteral("INBOX")), (QList<QByteArray>{"Old mail", "Unannounced mail"}));
    QVERIFY(count(server.commands(), "STATUS") >= 1);
    QCOMPARE(w.recorded, QStringList{QStringLiteral("Unannounced spam")});
    QCOMPARE(w.settled, 1);
}

void TestImapWatch::reconnectsAndScreensWhatCameMeanwhile()
{
    SampleImapServer server({}, "ann", "secret");
    QVERIFY(server.listen());
    Watch w(server);
    QSignalSpy reconnects(w.watch.get(), &ImapWatch::reconnecting);
    bool dropped = false;
    connect(&server, &SampleImapServer::idling, &w.cancel, [&] {
        if (std::exchange(dropped, true))
            return;
        server.dropConnections();
        server.deliver(message("x@spam.example", "Spam while away"));
    });
    connect(w.watch.get(), &ImapWatch::moved, &w.cancel, &CancelFlag::set);

    QCOMPARE(w.run().kind, MailOutcome::Cancelled);
    QCOMPARE(w.moved, QStringList{QStringLiteral("Junk:Spam while away")});
    QCOMPARE(server.connectionCount(), 2);
    QCOMPARE(reconnects.size(), 1);
    QCOMPARE(reconnects.at(0).at(0).toInt(), 50);
}

void TestImapWatch::firstFailedConnectionEndsTheWatch()
{
    SampleImapServer server({}, "ann", "other");
    QVERIFY(server.listen());
    Watch w(server);
    const MailResult result = w.run();
    QCOMPARE(result.kind, MailOutcome::ConnectionFailed);
    QCOMPARE(server.connectionCount(), 1);
}

// The connection is lost after the FETCH that found a hit, before its move:
// the next connection screens from that hit on and moves it.
void TestImapWatch::hitNotMovedIsScreenedAgain()
{
    Transcripts t;
    Watch w(t.options());
    t.scripts << [](ScriptedImapServer &s) {
        idledUntilSpam(s);
        s.expect("SELECT \"INBOX\"", {}, {});
        s.expect("UID SEARCH UID 1001 UNDELETED", {}, {});
        s.thenHangUp();
    };
    t.scripts << [](ScriptedImapServer &s) {
        selected(s, 2, 1002);
        s.expect(fetchFrom(1001), {kSpam});
        s.inPieces(7);
        s.expect("SELECT \"INBOX\"", {"* 2 EXISTS", "* OK [UIDVALIDITY 77] UIDs valid"}, "OK [READ-WRITE] done");
        s.expect("UID SEARCH UID 1001 UNDELETED", {"* SEARCH 1001"});
        s.expect("UID MOVE 1001 \"Junk\"", {"* OK [COPYUID 5 1001 1] moved", "* 2 EXPUNGE"});
        s.inPieces(9);
        s.expect("LOGOUT", {"* BYE bye"});
    };
    connect(w.watch.get(), &ImapWatch::moved, &w.cancel, &CancelFlag::set);

    QCOMPARE(w.run().kind, MailOutcome::Cancelled);
    QVERIFY2(t.problems.isEmpty(), qPrintable(t.problems.join(u'\n')));
    QCOMPARE(t.connections, 2);
    QCOMPARE(w.moved, QStringList{QStringLiteral("Junk:New spam")});
    QCOMPARE(w.settled, 1);
}

// Cancel as a server without MOVE copies a hit: once the late copy is
// accepted, the original is still marked and expunged, and the move told.
void TestImapWatch::copyAcceptedBeforeCancelIsFinished()
{
    Transcripts t;
    Watch w(t.options());
    t.scripts << [&w](ScriptedImapServer &s) {
        idledUntilSpam(s, "IMAP4rev1 IDLE UIDPLUS");
        s.expect("SELECT \"INBOX\"", {"* 2 EXISTS", "* OK [UIDVALIDITY 77] UIDs valid"}, "OK [READ-WRITE] done");
        s.expect("UID SEARCH UID 1001 UNDELETED", {"* SEARCH 1001"});
        s.expect("UID COPY 1001 \"Junk\"", {}, "OK [COPYUID 5 1001 1] copied");
        s.whenTaken([&w] { w.cancel.set(); }).late(200).inPieces(9);
        s.expect("UID STORE 1001 +FLAGS.SILENT (\\Deleted)");
        s.expect("UID EXPUNGE 1001", {"* 2 EXPUNGE"});
        s.expect("LOGOUT", {"* BYE bye"});
    };

    QCOMPARE(w.run().kind, MailOutcome::Cancelled);
    QVERIFY2(t.problems.isEmpty(), qPrintable(t.problems.join(u'\n')));
    QCOMPARE(w.moved, QStringList{QStringLiteral("Junk:New spam")});
    QCOMPARE(w.settled, 1);
}

// A server that ends IDLE itself, with its tagged OK, gets no DONE: the
// folder is looked at and IDLE issued again at once, not at the renewal.
// (The server then drops the connection; the reconnect ends the test.)
void TestImapWatch::idleEndedByServerIsIssuedAgain()
{
    Transcripts t;
    Watch w(t.options());
    w.watch->setIntervals({60000});
    t.scripts << [](ScriptedImapServer &s) {
        selected(s, 1, 1001);
        s.expect(fetchFrom(1001), {kHam});
        s.expect("IDLE", {"+ idling"}, "OK IDLE terminated by server");
        s.inPieces(5);
        s.expect("STATUS \"INBOX\" (UIDNEXT)", {"* STATUS INBOX (UIDNEXT 1001)"});
        s.expect(fetchFrom(1001), {kHam});
        s.expect("IDLE", {"+ idling"}, {});
        s.thenHangUp();
    };
    connect(w.watch.get(), &ImapWatch::reconnecting, &w.cancel, &CancelFlag::set);

    QCOMPARE(w.run().kind, MailOutcome::Cancelled);
    QVERIFY2(t.problems.isEmpty(), qPrintable(t.problems.join(u'\n')));
    QCOMPARE(t.connections, 1);
}

// A server that closes the connection as IDLE comes: the watch connects
// again at once, not after the inactivity limit, and says why.
void TestImapWatch::closedConnectionIsNotWaitedOn()
{
    Transcripts t;
    Watch w(t.options(60000));
    t.scripts << [](ScriptedImapServer &s) {
        selected(s, 1, 1001);
        s.expect(fetchFrom(1001), {kHam});
        s.expect("IDLE", {}, {});
        s.thenHangUp();
    };
    QSignalSpy troubles(w.watch.get(), &ImapWatch::trouble);
    connect(w.watch.get(), &ImapWatch::reconnecting, &w.cancel, &CancelFlag::set);

    QCOMPARE(w.run().kind, MailOutcome::Cancelled);
    QVERIFY2(t.problems.isEmpty(), qPrintable(t.problems.join(u'\n')));
    QCOMPARE(troubles.size(), 1);
    QCOMPARE(troubles.at(0).at(0).toString(), QStringLiteral("The server closed the connection."));
}

// What the benchmarks rely on: every row of a fetch of a thousand and more,
// and no message marked seen.
void TestImapWatch::sampleServerServesAWholeFetch()
{
    const int count = 1007;
    SampleImapServer server(SampleImapServer::generated(count), "ann", "secret");
    QVERIFY(server.listen());
    Watch w(server);
    MessageFolderModel inbox, recycle;
    const auto tenth = [](const QString &sender, QByteArrayView, qint64) {
        return sender.contains(QLatin1String("0@example.com"))
            ? SortReason{SortReason::Kind::Filter, QStringLiteral("x")}
            : SortReason{};
    };
    const MailResult fetched = FetchHeader(w.status, inbox, recycle, tenth, w.settings, w.cancel);
    QVERIFY2(fetched.ok(), qPrintable(fetched.text));
    QCOMPARE(inbox.count(), count - count / 10);
    QCOMPARE(recycle.count(), count / 10);
    QVERIFY(!server.anySeen(QStringLiteral("INBOX")));
}

QTEST_GUILESS_MAIN(TestImapWatch)
#include "tst_imapwatch.moc"
