// IMAP end to end against a private Dovecot with Junk and Trash folders: a
// fetch sorts the rows and leaves every flag as it was (read by a second
// client), Empty Recycle Bin moves the rows to Junk or Trash or deletes them,
// a message another client expunged meanwhile is left alone and counted,
// Test Connection opens the folder, XOAUTH2 logs in through the OAuth2
// set-up the POP3 tests use, and the watch moves a filtered arrival that
// the server announces while it idles.
#include "AuthorizationFlow.h"
#include "ConnectionTester.h"
#include "DeletionHistory.h"
#include "DovecotServer.h"
#include "FakeAuthServer.h"
#include "ImapFolderLessons.h"
#include "ImapMailbox.h"
#include "ImapWatch.h"
#include "MailTestFixture.h"
#include "OAuthTokens.h"
#include "RuleDatabase.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using testsupport::DovecotServer;
using testsupport::FakeAuthServer;

namespace {

const QString kWork = QStringLiteral("Work");

// Another mail program on the same mailbox: one plain IMAP connection,
// one command at a time.
class ImapPeer {
public:
    bool open(quint16 port, const QString &user, const QString &password)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        if (!m_socket.waitForConnected(5000) || !line().startsWith("* OK"))
            return false;
        const QByteArray plain = '\0' + user.toUtf8() + '\0' + password.toUtf8();
        return run("AUTHENTICATE PLAIN " + plain.toBase64()).constLast().startsWith("t1 OK");
    }
    // The untagged lines and the tagged one, last.
    QList<QByteArray> run(const QByteArray &command)
    {
        const QByteArray tag = 't' + QByteArray::number(++m_tags);
        m_socket.write(tag + ' ' + command + "\r\n");
        QList<QByteArray> lines;
        do
            lines << line();
        while (!lines.constLast().isEmpty() && !lines.constLast().startsWith(tag + ' '));
        return lines;
    }
    // UID -> flags of every message of the folder, \Recent left out (it
    // belongs to whichever session saw the message first).
    QMap<QByteArray, QByteArray> flags(const QByteArray &folder)
    {
        QMap<QByteArray, QByteArray> out;
        run("EXAMINE " + folder);
        static const QRegularExpression item(QStringLiteral(R"(UID (\d+) FLAGS \(([^)]*)\))"));
        for (const QByteArray &l : run("FETCH 1:* (UID FLAGS)")) {
            const auto m = item.match(QString::fromLatin1(l));
            if (m.hasMatch())
                out.insert(m.captured(1).toLatin1(),
                           m.captured(2).remove(QStringLiteral("\\Recent")).simplified().toLatin1());
        }
        return out;
    }
    // The UID of the message with this subject in the folder selected last.
    QByteArray uidOf(const QByteArray &subject)
    {
        const QList<QByteArray> lines = run("UID SEARCH SUBJECT " + subject);
        const QByteArray found = lines.size() == 2 ? lines.constFirst().split(' ').constLast() : QByteArray();
        return found == "SEARCH" ? QByteArray() : found; // found nothing
    }
    // Removes every message of the folder.
    void clear(const QByteArray &folder)
    {
        run("SELECT " + folder);
        run("STORE 1:* +FLAGS.SILENT (\\Deleted)");
        run("EXPUNGE");
    }

private:
    QByteArray line()
    {
        while (!m_socket.canReadLine())
            if (!m_socket.waitForReadyRead(5000))
                return {};
        return m_socket.readLine().trimmed();
    }

    QTcpSocket m_socket;
    int m_tags = 0;
};

QByteArray message(const QByteArray &from, const QByteArray &subject)
{
    return "From: " + from + "\r\nSubject: " + subject + "\r\nMessage-ID: <" + subject
        + "@example.org>\r\n\r\nbody\r\n";
}

} // namespace

class TestDovecotImap : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup() { f.reset(); }

    void fetchSortsAndLeavesFlags();
    void emptyRecycleBin_data();
    void emptyRecycleBin();
    void expungedMeanwhileIsLeftAlone();
    void checkAndDeleteInOneSession_data();
    void checkAndDeleteInOneSession();
    void xoauth2();
    void watchMovesArrivals();
    void folderLessonsLeaveFlags();

private:
    // One at a time, so that the server numbers them in this order.
    bool deliver(const QByteArray &from, const QByteArray &subject)
    {
        const bool added = m_server.addMessage(message(from, subject));
        return added && m_peer.run("SELECT INBOX").constLast().contains(" OK");
    }
    // Three messages, two of them from a filtered sender.
    void deliverAndFetch()
    {
        QVERIFY(deliver("spam@example.net", "one"));
        QVERIFY(deliver("friend@example.org", "two"));
        QVERIFY(deliver("spam@example.net", "three"));
        f->filter.insert(QStringLiteral("spam@example.net"));
        QCOMPARE(f->fetch(), MailOutcome::Done);
        VERIFY_BOXES(f->boxes);
    }

    FakeAuthServer m_auth{QStringLiteral("trelvik")};
    DovecotServer m_server;
    ImapPeer m_peer;
    std::unique_ptr<MailFixture> f;
};

void TestDovecotImap::initTestCase()
{
    QString why;
    if (!DovecotServer::available(&why))
        QSKIP(qPrintable(why));
    QVERIFY(m_auth.listen());
    m_server.setOAuth2Introspection(m_auth.url(QStringLiteral("/introspect")));
    QVERIFY2(m_server.start(&why), qPrintable(why));
    QVERIFY2(m_peer.open(m_server.imapPort(), m_server.user(), m_server.password()), qPrintable(m_server.logText()));
    // As in a mailbox with a history: the messages every test delivers get
    // UIDs past their sequence numbers, since these are expunged first.
    for (int i = 0; i < 5; ++i)
        QVERIFY(m_server.addMessage(message("earlier@example.org", "earlier" + QByteArray::number(i))));
}

void TestDovecotImap::init()
{
    for (const QByteArray folder : {"Junk", "Trash", "INBOX"})
        m_peer.clear(folder);
    f = std::make_unique<MailFixture>();
    ProfileSettingsRecord &s = f->settings;
    s.MailProtocol = QStringLiteral("IMAP");
    s.EmailPort = QString::number(m_server.imapPort());
    s.EmailUserid = m_server.user();
    s.EmailPassword = m_server.password();
}

void TestDovecotImap::fetchSortsAndLeavesFlags()
{
    QVERIFY(deliver("spam@example.net", "seen"));
    QVERIFY(deliver("friend@example.org", "flagged"));
    QVERIFY(deliver("friend@example.org", "new"));
    m_peer.run("STORE 1 +FLAGS (\\Seen)");
    m_peer.run("STORE 2 +FLAGS (\\Flagged $Important)");
    const auto before = m_peer.flags("INBOX");
    QCOMPARE(before.size(), 3);

    f->filter.insert(QStringLiteral("spam@example.net"));
    QCOMPARE(f->fetch(), MailOutcome::Done);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(rowTexts(f->inbox, 1), (QStringList{QStringLiteral("flagged"), QStringLiteral("new")}));
    QCOMPARE(rowTexts(f->recycle, 1), QStringList{QStringLiteral("seen")});
    QCOMPARE(m_peer.flags("INBOX"), before);

    // The connection test opens the folder read-only too.
    const TestConnectionResult tested = testConnection(f->settings);
    QVERIFY2(tested.ok, qPrintable(tested.text));
    QVERIFY2(tested.text.contains(QLatin1String("logged in; 3 messages waiting in INBOX")), qPrintable(tested.text));
    QCOMPARE(m_peer.flags("INBOX"), before);
}

void TestDovecotImap::emptyRecycleBin_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("folder"); // where the two go; empty: nowhere
    QTest::addColumn<QString>("done");
    QTest::newRow("Junk") << QStringLiteral("Junk") << QStringLiteral("Junk") << QStringLiteral("moved to Junk");
    QTest::newRow("Trash") << QStringLiteral("Trash") << QStringLiteral("Trash") << QStringLiteral("moved to Trash");
    QTest::newRow("Delete") << QStringLiteral("Delete") << QString() << QString();
}

void TestDovecotImap::emptyRecycleBin()
{
    QFETCH(QString, action);
    QFETCH(QString, folder);
    QFETCH(QString, done);
    f->settings.ImapEmptyAction = action;
    deliverAndFetch();
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(f->recycle.count(), 2);

    QTemporaryDir dir;
    RuleDatabase db(dir.path());
    QVERIFY(db.OpenRuleDatabase());
    const DeletionResult result =
        MailFixture::shown(EmptyRecycleBin(f->status, f->recycle, f->settings, Global::CancelRequested(), f->options,
                                           historyJournal(db, kWork, {})));
    VERIFY_BOXES(f->boxes);
    QCOMPARE(result.outcome(), MailOutcome::Done);
    // The history says what became of them.
    const auto records = DeletionHistory(db).read(nullptr);
    QVERIFY(records && records->size() == 2);
    for (const DeletionRecord &r : *records)
        QVERIFY(r.action == done && !r.unconfirmed);
    QCOMPARE(result.deleted.size(), 2);
    QCOMPARE(result.action, done);
    QCOMPARE(f->recycle.count(), 0);
    QCOMPARE(m_peer.flags("INBOX").size(), 1);
    for (const QString &other : {QStringLiteral("Junk"), QStringLiteral("Trash")})
        QCOMPARE(m_server.messageCount(other), other == folder ? 2 : 0);
    // The progress and the end say what happened.
    const QStringList said = f->status.eventsStartingWith(QStringLiteral("status:"));
    QVERIFY(said.contains(done.isEmpty() ? u"status:Deleted 2 of 2"_s : u"status:Moved 2 of 2"_s));
    QVERIFY(said.contains(u"status:Empty Recycle Bin: 2 messages "_s + (done.isEmpty() ? u"deleted"_s : done)));
}

void TestDovecotImap::checkAndDeleteInOneSession_data()
{
    emptyRecycleBin_data();
}

// As `--check --delete` runs: the fetch and the removal in one session, in
// a folder whose UIDs are far from their sequence numbers (another program
// expunged its first messages), and a hit that another program expunges
// between the fetch and the removal. Only the rules' hits leave INBOX, and
// the report and the history say what the server did.
void TestDovecotImap::checkAndDeleteInOneSession()
{
    QFETCH(QString, action);
    QFETCH(QString, folder);
    QFETCH(QString, done);
    for (int i = 0; i < 6; ++i)
        QVERIFY(deliver("friend@example.org", "old" + QByteArray::number(i)));
    m_peer.run("STORE 1:6 +FLAGS.SILENT (\\Deleted)");
    QVERIFY(m_peer.run("EXPUNGE").constLast().contains(" OK"));
    QVERIFY(deliver("friend@example.org", "keep1"));
    QVERIFY(deliver("spam@example.net", "hit"));
    QVERIFY(deliver("friend@example.org", "keep2"));
    QVERIFY(deliver("spam@example.net", "taken"));
    f->filter.insert(QStringLiteral("spam@example.net"));
    f->settings.ImapEmptyAction = action;
    ImapMailbox mailbox(f->status, f->settings, Global::CancelRequested(), f->options, imapFoldersOf(f->settings));
    QVERIFY(FetchHeader(f->status, f->inbox, f->recycle, f->classifier(), mailbox, Global::CancelRequested(), true,
                        nullptr, SessionEnd::LeaveOpen)
                .ok());
    QCOMPARE(rowTexts(f->recycle, 1), (QStringList{QStringLiteral("hit"), QStringLiteral("taken")}));
    m_peer.run("SELECT INBOX");
    const QByteArray taken = m_peer.uidOf("taken");
    m_peer.run("UID STORE " + taken + " +FLAGS.SILENT (\\Deleted)");
    QVERIFY(m_peer.run("UID EXPUNGE " + taken).constLast().contains(" OK"));

    QTemporaryDir dir;
    RuleDatabase db(dir.path());
    QVERIFY(db.OpenRuleDatabase());
    const DeletionResult result = EmptyRecycleBinInSession(f->status, f->recycle, mailbox, Global::CancelRequested(),
                                                           historyJournal(db, kWork, {}));
    QCOMPARE(result.outcome(), MailOutcome::Done);
    QCOMPARE(result.deleted.size(), 1);
    QCOMPARE(result.deleted.constFirst().subject, QStringLiteral("hit"));
    QCOMPARE(result.changed, 1);
    QCOMPARE(rowTexts(f->recycle, 1), QStringList{QStringLiteral("taken")});
    m_peer.run("EXAMINE INBOX");
    QVERIFY(m_peer.uidOf("hit").isEmpty());
    QVERIFY(!m_peer.uidOf("keep1").isEmpty() && !m_peer.uidOf("keep2").isEmpty());
    QCOMPARE(m_peer.flags("INBOX").size(), 2);
    for (const QString &other : {QStringLiteral("Junk"), QStringLiteral("Trash")})
        QCOMPARE(m_server.messageCount(other), other == folder ? 1 : 0);
    const auto records = DeletionHistory(db).read(nullptr);
    QVERIFY(records && records->size() == 1);
    QVERIFY(records->constFirst().subject == QStringLiteral("hit") && !records->constFirst().unconfirmed
            && records->constFirst().action == done);
}

void TestDovecotImap::expungedMeanwhileIsLeftAlone()
{
    deliverAndFetch();
    if (QTest::currentTestFailed())
        return;
    // Another program removes "one" between the fetch and Empty.
    m_peer.run("SELECT INBOX");
    const QByteArray one = m_peer.uidOf("one");
    const QByteArray two = m_peer.uidOf("two");
    QVERIFY(!one.isEmpty() && !two.isEmpty());
    m_peer.run("UID STORE " + one + " +FLAGS.SILENT (\\Deleted)");
    QVERIFY(m_peer.run("UID EXPUNGE " + one).constLast().contains(" OK"));

    f->boxes.expect(QStringLiteral("1 of 2 messages could not be moved to Junk on the server (refused, or changed "
                                   "since the fetch); it stays in the Recycle Bin."),
                    QStringLiteral("Empty Recycle Bin"), MessageBox::Icon::Critical);
    const DeletionResult result = f->empty();
    VERIFY_BOXES(f->boxes);
    QCOMPARE(result.deleted.size(), 1);
    QCOMPARE(result.changed, 1);
    QCOMPARE(rowTexts(f->recycle, 1), QStringList{QStringLiteral("one")});
    QCOMPARE(m_server.messageCount(QStringLiteral("Junk")), 1);
    QCOMPARE(m_peer.flags("INBOX").keys(), QList<QByteArray>{two}); // the Inbox's row untouched
}

void TestDovecotImap::xoauth2()
{
    ProfileSettingsRecord &s = f->settings;
    s.EmailPassword.clear();
    m_auth.signInHere(s);
    QNetworkAccessManager browser;
    AuthorizationFlow flow({m_auth.url(QStringLiteral("/authorize")),
                            m_auth.url(QStringLiteral("/token")),
                            m_auth.clientId(),
                            {},
                            QStringLiteral("mail")});
    flow.setBrowser([&browser](const QUrl &url) {
        QNetworkReply *reply = browser.get(QNetworkRequest(url));
        QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
        return true;
    });
    const TokenResponse signedIn = flow.run();
    QVERIFY2(signedIn.status == TokenResponse::Status::Ok, qPrintable(signedIn.error));
    s.OAuthRefreshToken = signedIn.refreshToken;
    s.OAuthAccessToken = signedIn.accessToken;
    s.OAuthAccessExpiry = signedIn.expiresAt;
    f->options.accessToken = profileAccessTokens(s);
    const int introspections = m_auth.introspections();

    deliverAndFetch();
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(f->recycle.count(), 2);
    QCOMPARE(m_auth.introspections(), introspections + 1);
    QVERIFY(m_auth.problems().isEmpty());
}

void TestDovecotImap::watchMovesArrivals()
{
    QVERIFY(deliver("spam@example.net", "before"));
    f->filter.insert(QStringLiteral("spam@example.net"));
    DeletionJournal journal;
    QStringList recorded;
    journal.pending = [&recorded](const QList<MessageEntry> &rows, QString *) {
        for (const MessageEntry &row : rows)
            recorded << row.subject;
        return true;
    };
    journal.settle = [](bool) {};
    CancelFlag cancel;
    ImapWatch watch(f->status, f->settings, cancel, f->classifier(), journal);
    QStringList moved;
    // Delivered once the watch idles, so that the server has to announce them.
    connect(&watch, &ImapWatch::watching, this, [this](const QString &, bool idle) {
        QVERIFY(idle);
        QTimer::singleShot(300, this, [this] {
            QVERIFY(m_server.addMessage(message("friend@example.org", "good")));
            QVERIFY(m_server.addMessage(message("spam@example.net", "arrived")));
        });
    });
    connect(&watch, &ImapWatch::moved, this, [&](const MessageEntry &entry, const QString &folder) {
        moved << folder + QLatin1Char(':') + entry.subject;
        cancel.set();
    });
    QTimer::singleShot(15000, &cancel, &CancelFlag::set); // whatever happens, the test ends

    QCOMPARE(watch.run().kind, MailOutcome::Cancelled);
    QCOMPARE(moved, QStringList{QStringLiteral("Junk:arrived")});
    QCOMPARE(recorded, QStringList{QStringLiteral("arrived")});
    QCOMPARE(m_server.messageCount(QStringLiteral("Junk")), 1);
    m_peer.run("SELECT INBOX");
    QVERIFY(!m_peer.uidOf("before").isEmpty()); // there before the watch: left to a check
    QVERIFY(!m_peer.uidOf("good").isEmpty());
}

// Lessons from Junk and INBOX: each header once, of the right kind, and
// every flag of both folders as it was (no \Seen), read by another client.
void TestDovecotImap::folderLessonsLeaveFlags()
{
    for (const QByteArray subject : {"junk1", "junk2", "junk3"})
        QVERIFY(deliver("spam@example.net", subject));
    QVERIFY(deliver("friend@example.org", "good1"));
    QVERIFY(deliver("friend@example.org", "good2"));
    QVERIFY(m_peer.run("MOVE 1:3 Junk").constLast().contains(" OK"));
    m_peer.run("STORE 1 +FLAGS (\\Flagged)");
    const auto inboxBefore = m_peer.flags("INBOX");
    const auto junkBefore = m_peer.flags("Junk");
    QCOMPARE(junkBefore.size(), 3);

    ImapSession session(f->status, f->settings, Global::CancelRequested());
    QVERIFY(session.connectServer().ok());
    QVERIFY(session.login().ok());
    QStringList spam, good;
    ImapFolderLessons lessons(session, f->status, Global::CancelRequested());
    const MailResult read = lessons.read([&](const QList<QByteArray> &headers, bool isSpam) {
        for (const QByteArray &header : headers)
            (isSpam ? spam : good) << QString::fromLatin1(header).section(u"Subject: "_s, 1).section(u'\r', 0, 0);
        return true;
    });
    QVERIFY2(read.ok(), qPrintable(read.text));
    (void)session.logout();
    spam.sort();
    good.sort();
    QCOMPARE(spam, (QStringList{u"junk1"_s, u"junk2"_s, u"junk3"_s}));
    QCOMPARE(good, (QStringList{u"good1"_s, u"good2"_s}));
    QCOMPARE(m_peer.flags("INBOX"), inboxBefore);
    QCOMPARE(m_peer.flags("Junk"), junkBefore);
    for (const QByteArray &flags : m_peer.flags("Junk").values() + m_peer.flags("INBOX").values())
        QVERIFY2(!flags.contains("\\Seen"), flags.constData());
}

QTEST_GUILESS_MAIN(TestDovecotImap)
#include "tst_dovecotimap.moc"
