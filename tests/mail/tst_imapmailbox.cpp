#include "CancelFlag.h"
#include "ImapMailbox.h"
#include "MailOperations.h"
#include "MessageFolderModel.h"
#include "ProfileRecord.h"
#include "RecordingStatus.h"
#include "ScriptedImapServer.h"

#include <QTest>

#include <memory>

// An IMAP mailbox against scripted servers: what goes out for each of a
// server's answers, and what the screening makes of them.
class TestImapMailbox : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fetchSortsByUidThroughAnExpunge();
    void headersComeInChunksSentAhead();
    void logins_data();
    void logins();
    void byeMidFetchEndsWithTheServersWords();
    void cancelMidFetchReadsWhatIsOwedThenLogsOut();
    void emptyMovesConfirmedRowsToJunk();
    void noUidplusIsToldAtTheEnd();
    void renumberedFolderTouchesNothing_data();
    void renumberedFolderTouchesNothing();
    void removal_data();
    void removal();
};

// C: command (or, with `line`, a line that is none), S: untagged lines
// and the tagged status.
struct Exchange {
    QByteArray command;
    QByteArrayList untagged;
    QByteArray status;
    bool line = false;
};
Q_DECLARE_METATYPE(QList<Exchange>)

namespace {

const QByteArray kLogin = "LOGIN \"ann\" \"secret\"";
const QByteArray kLoggedIn = "OK [CAPABILITY IMAP4rev1 MOVE UIDPLUS] Logged in";

ImapFolders junk()
{
    ImapFolders folders;
    folders.target = QStringLiteral("Junk");
    return folders;
}

// One mailbox over a scripted server, logged in as ann/secret.
struct Session {
    explicit Session(const QString &security = QStringLiteral("None"), ImapFolders folders = junk(),
                     AccessTokenSource token = {})
    {
        settings.EmailHost = QStringLiteral("mail.test");
        settings.EmailPort = QStringLiteral("143");
        settings.EmailSecurity = security;
        settings.EmailUserid = QStringLiteral("ann");
        settings.EmailPassword = QStringLiteral("secret");
        SessionOptions options;
        options.inactivityLimitMs = 3000;
        options.accessToken = std::move(token);
        if (options.accessToken)
            settings.SignInMethod = QStringLiteral("OAuth2");
        auto connection = std::make_unique<ScriptedImapServer>();
        server = connection.get();
        mailbox = std::make_unique<ImapMailbox>(std::move(connection), status, settings, cancel, options, folders);
    }
    // Greeted with plain capabilities, then logged in with LOGIN.
    void loggedIn(const QByteArray &capabilities = "IMAP4rev1 MOVE UIDPLUS")
    {
        server->greet("* OK [CAPABILITY " + capabilities + "] ready");
        server->expect(kLogin, {}, "OK [CAPABILITY " + capabilities + "] Logged in");
    }
    void script(const QList<Exchange> &exchanges)
    {
        for (const Exchange &e : exchanges)
            e.line ? server->expectLine(e.command, e.untagged, e.status)
                   : server->expect(e.command, e.untagged, e.status);
    }
    // EXAMINE of INBOX, then its listing: messages 1..count with UIDs 1..count.
    void listed(int count)
    {
        QByteArrayList fetches;
        for (int n = 1; n <= count; ++n)
            fetches << "* " + QByteArray::number(n) + " FETCH (UID " + QByteArray::number(n) + " RFC822.SIZE 99)";
        script({{"EXAMINE \"INBOX\"", {"* " + QByteArray::number(count) + " EXISTS", "* OK [UIDVALIDITY 5] ok"}, "OK"},
                {"UID FETCH 1:* (UID RFC822.SIZE)", fetches, "OK"}});
    }
    CancelFlag cancel;
    RecordingStatus status;
    ProfileSettingsRecord settings;
    ScriptedImapServer *server = nullptr;
    std::unique_ptr<ImapMailbox> mailbox;
};

QByteArray headerFetch(int sequence, int uid, const QByteArray &from)
{
    const QByteArray header = "From: " + from + "\r\nSubject: s" + QByteArray::number(uid) + "\r\n\r\n";
    return "* " + QByteArray::number(sequence) + " FETCH (UID " + QByteArray::number(uid) + " RFC822.SIZE "
        + QByteArray::number(uid * 100) + " BODY[HEADER] {" + QByteArray::number(header.size()) + "}\r\n" + header
        + ")";
}

MessageClassifier spamFrom(const QString &address)
{
    return [address](const QString &sender, QByteArrayView, qint64) {
        SortReason reason;
        if (sender == address)
            reason.kind = SortReason::Kind::Filter;
        return reason;
    };
}

QStringList uids(const MessageFolderModel &model)
{
    QStringList out;
    for (int r = 0; r < model.count(); ++r)
        out << model.entry(r).uid;
    return out;
}

void fillRecycle(MessageFolderModel &recycle, const QStringList &ids)
{
    QList<MessageEntry> rows;
    for (const QString &id : ids) {
        MessageEntry e;
        e.uid = id;
        e.number = id.section(QLatin1Char('/'), 1).toInt();
        rows.append(e);
    }
    recycle.appendRows(rows);
}

const Exchange kSelect{"SELECT \"INBOX\"", {"* 3 EXISTS", "* OK [UIDVALIDITY 77] UIDs valid"}, "OK [READ-WRITE] done"};

} // namespace

// The fetch opens the folder read-only and peeks (the script refuses any
// other command): no flag can change. A
// message expunged by another client while its chunk is read shifts the
// sequence numbers of those after it, but each header still reaches the
// row of its UID.
void TestImapMailbox::fetchSortsByUidThroughAnExpunge()
{
    Session s;
    s.loggedIn();
    s.script({{"EXAMINE \"INBOX\"", {"* 3 EXISTS", "* OK [UIDVALIDITY 77] UIDs valid"}, "OK [READ-ONLY] done"},
              {"UID FETCH 1:* (UID RFC822.SIZE)",
               {"* 1 FETCH (UID 10 RFC822.SIZE 1000)", "* 2 FETCH (RFC822.SIZE 1100 UID 11)",
                "* 3 FETCH (UID 12 RFC822.SIZE 1200)"},
               "OK done"},
              {"UID FETCH 10:12 (UID RFC822.SIZE BODY.PEEK[HEADER])",
               {headerFetch(1, 10, "a@x.example"), "* 2 EXPUNGE", headerFetch(2, 12, "spam@x.example")},
               "OK done"},
              {"LOGOUT", {"* BYE bye"}, "OK done"}});
    s.server->inPieces(1); // LOGOUT's answer a byte at a time
    MessageFolderModel inbox, recycle;
    const MailResult fetched = FetchHeader(s.status, inbox, recycle, spamFrom(QStringLiteral("spam@x.example")),
                                           *s.mailbox, s.cancel);
    QVERIFY2(fetched.ok(), qPrintable(fetched.text));
    VERIFY_IMAP_SCRIPT(*s.server);
    QCOMPARE(uids(inbox), QStringList{"77/10"});
    QCOMPARE(uids(recycle), QStringList{"77/12"});
    QCOMPARE(inbox.entry(0).sender, QStringLiteral("a@x.example"));
    QCOMPARE(inbox.entry(0).headerBlock(), QByteArray("From: a@x.example\r\nSubject: s10\r\n\r\n")); // kept whole
    QCOMPARE(recycle.entry(0).subject, QStringLiteral("s12"));
    QCOMPARE(recycle.entry(0).bytes, qint64(1200));
}

// A large folder is read in chunks of UIDs, each asked before the answer
// to the one before has arrived.
void TestImapMailbox::headersComeInChunksSentAhead()
{
    Session s;
    s.loggedIn();
    s.listed(1200);
    for (int first = 1; first <= 1200; first += 500) {
        const int last = qMin(first + 499, 1200);
        QByteArrayList headers;
        for (int n = first; n <= last; ++n)
            headers << headerFetch(n, n, "a@x.example");
        s.script({{"UID FETCH " + QByteArray::number(first) + ':' + QByteArray::number(last)
                       + " (UID RFC822.SIZE BODY.PEEK[HEADER])",
                   headers, "OK"}});
    }
    s.script({{"LOGOUT", {"* BYE"}, "OK"}});
    MessageFolderModel inbox, recycle;
    const MailResult fetched = FetchHeader(s.status, inbox, recycle, spamFrom({}), *s.mailbox, s.cancel);
    QVERIFY2(fetched.ok(), qPrintable(fetched.text));
    VERIFY_IMAP_SCRIPT(*s.server);
    QCOMPARE(inbox.count(), 1200);
    QCOMPARE(inbox.entry(1199).uid, QStringLiteral("5/1200"));
    QCOMPARE(s.server->sentAhead().mid(3, 3), (QList<bool>{false, true, true}));
}

void TestImapMailbox::logins_data()
{
    QTest::addColumn<QString>("security");
    QTest::addColumn<QByteArray>("capabilities");
    QTest::addColumn<QList<Exchange>>("exchanges");
    QTest::addColumn<QString>("failure"); // empty: logged in

    // Nothing of the user's goes out on a channel the profile wants secured.
    const QString tls = QStringLiteral("STARTTLS");
    QTest::newRow("STARTTLS not offered")
        << tls << QByteArray("IMAP4rev1 AUTH=PLAIN") << QList<Exchange>{} << QStringLiteral("does not offer STARTTLS");
    QTest::newRow("STARTTLS refused") << tls << QByteArray("IMAP4rev1 STARTTLS")
                                      << QList<Exchange>{{"STARTTLS", {}, "BAD not now"}}
                                      << QStringLiteral("refused to start TLS");
    // What was offered in the clear is asked again: LOGINDISABLED is gone.
    QTest::newRow("STARTTLS, then capabilities again")
        << tls << QByteArray("IMAP4rev1 STARTTLS LOGINDISABLED")
        << QList<Exchange>{{"STARTTLS", {}, "OK begin"},
                           {"CAPABILITY", {"* CAPABILITY IMAP4rev1 AUTH=PLAIN"}, "OK done"},
                           {kLogin, {}, kLoggedIn}}
        << QString();
    // LOGINDISABLED: SASL PLAIN ("\0ann\0secret"), at once or after "+".
    const QString none = QStringLiteral("None");
    QTest::newRow("PLAIN, initial response")
        << none << QByteArray("IMAP4rev1 LOGINDISABLED AUTH=PLAIN SASL-IR")
        << QList<Exchange>{{"AUTHENTICATE PLAIN AGFubgBzZWNyZXQ=", {}, "OK welcome"},
                           {"CAPABILITY", {"* CAPABILITY IMAP4rev1 MOVE"}, "OK"}}
        << QString();
    QTest::newRow("PLAIN after the go-ahead")
        << none << QByteArray("IMAP4rev1 LOGINDISABLED AUTH=PLAIN")
        << QList<Exchange>{{"AUTHENTICATE PLAIN", {"+ "}, {}}, {"AGFubgBzZWNyZXQ=", {}, kLoggedIn, true}} << QString();
    QTest::newRow("no way to send a password") << none << QByteArray("IMAP4rev1 LOGINDISABLED AUTH=GSSAPI")
                                               << QList<Exchange>{} << QStringLiteral("password was not sent");
    // A refused token gets one fresh one; the error the server sends as a
    // continuation is answered, so that its refusal follows.
    const auto xoauth2 = [](const QByteArray &token) {
        return "AUTHENTICATE XOAUTH2 "
            + QByteArray("user=ann\x01"
                         "auth=Bearer "
                         + token + "\x01\x01")
                  .toBase64();
    };
    QTest::newRow("XOAUTH2, renewed once") << QStringLiteral("OAuth2") << QByteArray("IMAP4rev1 SASL-IR AUTH=XOAUTH2")
                                           << QList<Exchange>{{xoauth2("t1"), {"+ eyJzdGF0dXMiOiI0MDEifQ=="}, {}},
                                                              {"", {}, "NO [AUTHENTICATIONFAILED] invalid token", true},
                                                              {xoauth2("t2"), {}, kLoggedIn}}
                                           << QString();
}

void TestImapMailbox::logins()
{
    QFETCH(QString, security);
    QFETCH(QByteArray, capabilities);
    QFETCH(QList<Exchange>, exchanges);
    QFETCH(QString, failure);
    const bool oauth = security == QStringLiteral("OAuth2");
    Session s(
        oauth ? QStringLiteral("None") : security, junk(), !oauth ? AccessTokenSource{} : [](bool renew) {
            return AccessToken{AccessToken::State::Ready, renew ? QStringLiteral("t2") : QStringLiteral("t1"), {}};
        });
    s.server->greet("* OK [CAPABILITY " + capabilities + "] ready");
    s.script(exchanges);
    const MailResult result = s.mailbox->open();
    QCOMPARE(result.ok(), failure.isEmpty());
    QVERIFY2(result.text.contains(failure), qPrintable(result.text));
    VERIFY_IMAP_SCRIPT(*s.server);
    if (security == QStringLiteral("STARTTLS"))
        QCOMPARE(s.mailbox->session().isEncrypted(), failure.isEmpty());
}

void TestImapMailbox::byeMidFetchEndsWithTheServersWords()
{
    Session s;
    s.loggedIn();
    s.listed(2);
    s.script({{"UID FETCH 1:2 (UID RFC822.SIZE BODY.PEEK[HEADER])",
               {headerFetch(1, 1, "a@x.example"), "* BYE Server shutting down"},
               {}}});
    s.server->thenHangUp();
    MessageFolderModel inbox, recycle;
    const MailResult fetched = FetchHeader(s.status, inbox, recycle, spamFrom({}), *s.mailbox, s.cancel);
    QCOMPARE(fetched.kind, MailOutcome::ConnectionFailed);
    QVERIFY2(fetched.text.contains(QStringLiteral("The server said: Server shutting down")), qPrintable(fetched.text));
    QCOMPARE(uids(inbox), QStringList{"5/1"});
    VERIFY_IMAP_SCRIPT(*s.server);
}

// A Cancel as the first header is sorted: the rest of the chunk is read
// but not shown, and the session still ends with LOGOUT's answer.
void TestImapMailbox::cancelMidFetchReadsWhatIsOwedThenLogsOut()
{
    Session s;
    s.loggedIn();
    s.listed(3);
    s.script({{"UID FETCH 1:3 (UID RFC822.SIZE BODY.PEEK[HEADER])",
               {headerFetch(1, 1, "a@x.example"), headerFetch(2, 2, "b@x.example"), headerFetch(3, 3, "c@x.example")},
               "OK done"}});
    s.server->inPieces(16);
    s.script({{"LOGOUT", {"* BYE"}, "OK"}});
    MessageFolderModel inbox, recycle;
    const MessageClassifier cancelAtFirst = [&s](const QString &, QByteArrayView, qint64) {
        s.cancel.set();
        return SortReason{};
    };
    const MailResult fetched = FetchHeader(s.status, inbox, recycle, cancelAtFirst, *s.mailbox, s.cancel);
    QCOMPARE(fetched.kind, MailOutcome::Cancelled);
    QCOMPARE(uids(inbox), QStringList{"5/1"});
    QCOMPARE(s.status.statusText, QStringLiteral("Fetch cancelled: 1 of 3 messages read"));
    VERIFY_IMAP_SCRIPT(*s.server);
}
// Rows are confirmed by UID (one gone meanwhile stays), moved in one
// command, and the session ends with LOGOUT.
void TestImapMailbox::emptyMovesConfirmedRowsToJunk()
{
    Session s;
    s.loggedIn();
    s.script({kSelect,
              {"UID SEARCH UID 10,12,15", {"* SEARCH 12 10"}, "OK done"},
              {"UID MOVE 10,12 \"Junk\"", {"* OK [COPYUID 9 10,12 1:2] moved", "* 1 EXPUNGE", "* 1 EXPUNGE"}, "OK"},
              {"LOGOUT", {"* BYE"}, "OK"}});
    MessageFolderModel recycle;
    fillRecycle(recycle, {"77/10", "77/12", "77/15"});
    const DeletionResult result = EmptyRecycleBin(s.status, recycle, *s.mailbox, s.cancel);
    VERIFY_IMAP_SCRIPT(*s.server);
    QCOMPARE(result.deleted.size(), 2);
    QCOMPARE(result.changed, 1);
    QCOMPARE(result.action, QStringLiteral("moved to Junk"));
    QCOMPARE(uids(recycle), QStringList{"77/15"});
}

// The rows are moved, but the originals stay marked as deleted: the end
// says so, as a note, and the status says where they went.
void TestImapMailbox::noUidplusIsToldAtTheEnd()
{
    Session s(QStringLiteral("None"), ImapFolders{});
    s.loggedIn("IMAP4rev1");
    s.script({kSelect,
              {"LIST \"\" \"*\"", {"* LIST () \"/\" INBOX", "* LIST () \"/\" Spam"}, "OK"},
              {"UID SEARCH UID 10,12", {"* SEARCH 10 12"}, "OK done"},
              {"UID COPY 10,12 \"Spam\"", {}, "OK"},
              {"UID STORE 10,12 +FLAGS.SILENT (\\Deleted)", {}, "OK"},
              {"LOGOUT", {"* BYE"}, "OK"}});
    MessageFolderModel recycle;
    fillRecycle(recycle, {"77/10", "77/12"});
    const DeletionResult result = EmptyRecycleBin(s.status, recycle, *s.mailbox, s.cancel);
    VERIFY_IMAP_SCRIPT(*s.server);
    QCOMPARE(result.outcome(), MailOutcome::Done);
    QCOMPARE(result.deleted.size(), 2);
    QCOMPARE(result.result.title, QStringLiteral("Empty Recycle Bin"));
    QVERIFY2(result.result.text.contains(QStringLiteral("left in INBOX marked as deleted")),
             qPrintable(result.result.text));
    QCOMPARE(s.status.statusText, QStringLiteral("Empty Recycle Bin: 2 messages moved to Spam"));
}

void TestImapMailbox::renumberedFolderTouchesNothing_data()
{
    QTest::addColumn<QList<Exchange>>("exchanges");
    QTest::addColumn<QString>("why");
    // The search goes out beside the SELECT; nothing after it may.
    QTest::newRow("UIDVALIDITY changed") << QList<Exchange>{{"SELECT \"INBOX\"",
                                                             {"* OK [UIDVALIDITY 78] renumbered"},
                                                             "OK [READ-WRITE] done"},
                                                            {"UID SEARCH UID 10,12", {"* SEARCH 10 12"}, "OK done"}}
                                         << QStringLiteral("UIDVALIDITY changed");
    QTest::newRow("SELECT refused") << QList<Exchange>{{"SELECT \"INBOX\"", {}, "NO no such folder"},
                                                       {"UID SEARCH UID 10,12", {}, "BAD no folder selected"}}
                                    << QStringLiteral("refused to open the folder INBOX");
}

void TestImapMailbox::renumberedFolderTouchesNothing()
{
    QFETCH(QList<Exchange>, exchanges);
    QFETCH(QString, why);
    Session s;
    s.loggedIn();
    s.script(exchanges);
    MessageFolderModel recycle;
    fillRecycle(recycle, {"77/10", "77/12"});
    const DeletionResult result = EmptyRecycleBin(s.status, recycle, *s.mailbox, s.cancel);
    VERIFY_IMAP_SCRIPT(*s.server);
    QVERIFY(result.deleted.isEmpty());
    QCOMPARE(uids(recycle), (QStringList{"77/10", "77/12"}));
    QVERIFY2(result.result.text.contains(why), qPrintable(result.result.text));
}

void TestImapMailbox::removal_data()
{
    QTest::addColumn<QByteArray>("capabilities");
    QTest::addColumn<int>("removal");
    QTest::addColumn<QString>("target"); // empty: the server's Junk folder
    QTest::addColumn<QList<Exchange>>("exchanges");
    QTest::addColumn<int>("accepted"); // 1 accepted, 0 refused, -1 never asked
    QTest::addColumn<QString>("note");

    const int move = int(ImapFolders::Removal::MoveToFolder);
    const QString junk = QStringLiteral("Junk");
    QTest::newRow("move refused") << QByteArray("IMAP4rev1 MOVE UIDPLUS") << move << junk
                                  << QList<Exchange>{{"UID MOVE 10,12 \"Junk\"", {}, "NO [TRYCREATE] no such folder"}}
                                  << 0 << QStringLiteral("The folder Junk does not exist on the server.");
    QTest::newRow("no MOVE: copy, mark, expunge those")
        << QByteArray("IMAP4rev1 UIDPLUS") << move << junk
        << QList<Exchange>{{"UID COPY 10,12 \"Junk\"", {}, "OK [COPYUID 9 10,12 1:2] done"},
                           {"UID STORE 10,12 +FLAGS.SILENT (\\Deleted)", {}, "OK"},
                           {"UID EXPUNGE 10,12", {"* 1 EXPUNGE", "* 1 EXPUNGE"}, "OK"}}
        << 1 << QString();
    QTest::newRow("copy refused: nothing marked")
        << QByteArray("IMAP4rev1 UIDPLUS") << move << junk
        << QList<Exchange>{{"UID COPY 10,12 \"Junk\"", {}, "NO [OVERQUOTA] full"}} << 0
        << QStringLiteral("The server said: full");
    QTest::newRow("no UIDPLUS: left marked, and said")
        << QByteArray("IMAP4rev1") << move << junk
        << QList<Exchange>{{"UID COPY 10,12 \"Junk\"", {}, "OK"},
                           {"UID STORE 10,12 +FLAGS.SILENT (\\Deleted)", {}, "OK"}}
        << 1 << QStringLiteral("left in INBOX marked as deleted");
    QTest::newRow("delete for good") << QByteArray("IMAP4rev1 MOVE UIDPLUS") << int(ImapFolders::Removal::Delete)
                                     << junk
                                     << QList<Exchange>{{"UID STORE 10,12 +FLAGS.SILENT (\\Deleted)", {}, "OK"},
                                                        {"UID EXPUNGE 10,12", {}, "OK"}}
                                     << 1 << QString();
    QTest::newRow("Junk marked by SPECIAL-USE")
        << QByteArray("IMAP4rev1 MOVE SPECIAL-USE") << move << QString()
        << QList<Exchange>{{"LIST (SPECIAL-USE) \"\" \"*\"",
                            {"* LIST (\\HasNoChildren \\Junk) \"/\" \"Bulk\"", "* LIST () \"/\" Spam"},
                            "OK"},
                           {"UID MOVE 10,12 \"Bulk\"", {}, "OK"}}
        << 1 << QString();
    QTest::newRow("Junk by its usual name")
        << QByteArray("IMAP4rev1 MOVE") << move << QString()
        << QList<Exchange>{{"LIST \"\" \"*\"",
                            {"* LIST (\\Noselect) \"/\" Junk", "* LIST () \"/\" INBOX",
                             "* LIST () \"/\" {12}\r\n[Gmail]/Spam"},
                            "OK"},
                           {"UID MOVE 10,12 \"[Gmail]/Spam\"", {}, "OK"}}
        << 1 << QString();
    QTest::newRow("no Junk folder") << QByteArray("IMAP4rev1 MOVE") << move << QString()
                                    << QList<Exchange>{{"LIST \"\" \"*\"", {"* LIST () \"/\" INBOX"}, "OK"}} << -1
                                    << QStringLiteral("nothing was moved");
}

// Every way of removing touches exactly the UIDs asked for, never with a
// plain EXPUNGE (the script refuses any command it does not list).
void TestImapMailbox::removal()
{
    QFETCH(QByteArray, capabilities);
    QFETCH(int, removal);
    QFETCH(QString, target);
    QFETCH(QList<Exchange>, exchanges);
    QFETCH(int, accepted);
    QFETCH(QString, note);
    ImapFolders folders;
    folders.removal = ImapFolders::Removal(removal);
    folders.target = target;
    Session s(QStringLiteral("None"), folders);
    s.loggedIn(capabilities);
    s.script({kSelect});
    s.script(exchanges);
    QVERIFY(s.mailbox->open().ok());
    QList<int> answers;
    const MailResult removed = s.mailbox->remove({12, 10},
                                                 [&](qsizetype i, bool ok) { answers.append(int(i) * 10 + int(ok)); });
    QCOMPARE(removed.ok(), accepted >= 0);
    QCOMPARE(answers, accepted < 0 ? QList<int>{} : (QList<int>{accepted, 10 + accepted}));
    QVERIFY2(removed.text.contains(note) && removed.text.isEmpty() == note.isEmpty(), qPrintable(removed.text));
    VERIFY_IMAP_SCRIPT(*s.server);
}

QTEST_GUILESS_MAIN(TestImapMailbox)
#include "tst_imapmailbox.moc"
