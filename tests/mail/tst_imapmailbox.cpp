#include "CancelFlag.h"
#include "ImapCommands.h"
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
    void checkIsOneWriteReadByUid();
    void checkEnds_data();
    void checkEnds();
    void logins_data();
    void logins();
    void emptyMovesConfirmedRowsToJunk();
    void noUidplusIsToldAtTheEnd();
    void copyAcceptedAfterCancelIsFinished();
    void renumberedFolderTouchesNothing_data();
    void renumberedFolderTouchesNothing();
    void removal_data();
    void removal();
    void longMoveRefusedGoesAgainShort();
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
const QByteArray kCheckFetch = "UID FETCH 1:* (UID RFC822.SIZE FLAGS BODY.PEEK[HEADER])";
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
    // The check's one write: the login, the capabilities (the login's
    // answer may not name them), EXAMINE of INBOX, and the FETCH that lists
    // the folder and reads its headers.
    void checkWrite(const QByteArray &loginStatus, const QByteArray &exists, const QByteArrayList &fetched,
                    const QByteArray &fetchStatus)
    {
        const bool in = !loginStatus.startsWith("NO");
        server->greet("* OK [CAPABILITY IMAP4rev1 MOVE UIDPLUS] ready");
        script({{kLogin, {}, loginStatus},
                {"CAPABILITY", {"* CAPABILITY IMAP4rev1 MOVE UIDPLUS"}, "OK"},
                {"EXAMINE \"INBOX\"", in ? QByteArrayList{exists, "* OK [UIDVALIDITY 77] ok"} : QByteArrayList{},
                 in ? "OK [READ-ONLY] done" : "BAD log in first"},
                {kCheckFetch, fetched, fetchStatus}});
    }
    CancelFlag cancel;
    RecordingStatus status;
    ProfileSettingsRecord settings;
    ScriptedImapServer *server = nullptr;
    std::unique_ptr<ImapMailbox> mailbox;
};

// A FETCH answer with the header of `uid`, after `items` (its size, flags).
QByteArray headerFetch(int sequence, int uid, const QByteArray &from, const QByteArray &items = "FLAGS ()")
{
    const QByteArray header = "From: " + from + "\r\nSubject: s" + QByteArray::number(uid) + "\r\n\r\n";
    return "* " + QByteArray::number(sequence) + " FETCH (UID " + QByteArray::number(uid) + ' ' + items
        + (items.isEmpty() ? "" : " ") + "BODY[HEADER] {" + QByteArray::number(header.size()) + "}\r\n" + header + ")";
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

QStringList uids(const QList<MessageEntry> &rows)
{
    QStringList out;
    for (const MessageEntry &e : rows)
        out << e.uid;
    return out;
}

void fillRecycle(MessageFolderModel &recycle, const QStringList &ids)
{
    QList<MessageEntry> rows;
    for (const QString &id : ids) {
        MessageEntry e;
        e.uid = id;
        e.number = int(rows.size()) + 1; // the row's place in its fetch, never a UID
        rows.append(e);
    }
    recycle.appendRows(rows);
}

const Exchange kSelect{"SELECT \"INBOX\"", {"* 3 EXISTS", "* OK [UIDVALIDITY 77] UIDs valid"}, "OK [READ-WRITE] done"};

} // namespace

// The check goes out in one write behind the login and peeks at a folder
// opened read-only (the script refuses any other command): no flag can
// change. Its one answer arrives in small pieces; each message becomes its
// row by UID, its items may come split over responses, a FETCH that only
// tells of another client's flag change is no message, one whose header
// never came is kept unread and named, and one marked \Deleted waits for
// its expunge, unscreened and named. LOGOUT goes out behind the FETCH.
void TestImapMailbox::checkIsOneWriteReadByUid()
{
    Session s;
    s.checkWrite("OK Logged in", "* 4 EXISTS",
                 {headerFetch(1, 10, "a@x.example", "RFC822.SIZE 1000 FLAGS (\\Seen)"),
                  "* 2 FETCH (RFC822.SIZE 1100 UID 11 FLAGS (\\Seen))", "* 2 FETCH (UID 11 FLAGS (\\Seen \\Flagged))",
                  "* 3 FETCH (UID 12 FLAGS () RFC822.SIZE 1200)", headerFetch(3, 12, "spam@x.example", {}),
                  headerFetch(4, 13, "spam@x.example", "FLAGS (\\Deleted) RFC822.SIZE 1300"),
                  "* 1 FETCH (UID 10 FLAGS ())"},
                 "OK done");
    s.server->inPieces(5);
    s.script({{"LOGOUT", {"* BYE bye"}, "OK done"}});
    MessageFolderModel inbox, recycle;
    const MailResult fetched = FetchHeader(s.status, inbox, recycle, spamFrom(QStringLiteral("spam@x.example")),
                                           *s.mailbox, s.cancel);
    QVERIFY2(fetched.ok(), qPrintable(fetched.text));
    VERIFY_IMAP_SCRIPT(*s.server);
    QCOMPARE(s.server->sentAhead(), (QList<bool>{false, true, true, true, true}));
    QCOMPARE(uids(inbox), (QStringList{"77/10", "77/11"}));
    QCOMPARE(uids(recycle), QStringList{"77/12"});
    QCOMPARE(inbox.entry(0).headerBlock(), QByteArray("From: a@x.example\r\nSubject: s10\r\n\r\n")); // kept whole
    QCOMPARE(inbox.entry(0).bytes, qint64(1000));
    QCOMPARE(recycle.entry(0).subject, QStringLiteral("s12"));
    QCOMPARE(recycle.entry(0).bytes, qint64(1200));
    QVERIFY(recycle.entry(0).number != inbox.entry(0).number && recycle.entry(0).number != inbox.entry(1).number);
    QCOMPARE(inbox.entry(1).sender, QString());
    QCOMPARE(inbox.entry(1).bytes, qint64(1100));
    QCOMPARE(inbox.entry(1).sortReason.kind, SortReason::Kind::NoRule);
    QVERIFY2(s.status.statusText.contains(QStringLiteral("1 message could not be read (UID 11)"))
                 && s.status.statusText.contains(QStringLiteral("1 message marked as deleted waits")),
             qPrintable(s.status.statusText));
}

void TestImapMailbox::checkEnds_data()
{
    QTest::addColumn<QByteArray>("loginStatus");
    QTest::addColumn<QByteArrayList>("fetched");
    QTest::addColumn<QByteArray>("fetchStatus"); // empty: the server hangs up instead
    QTest::addColumn<bool>("cancelAtFirst");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("read");

    const QByteArrayList three{headerFetch(1, 4003, "a@x.example"), headerFetch(2, 4006, "b@x.example"),
                               headerFetch(3, 4009, "c@x.example")};
    const int failed = int(MailOutcome::ConnectionFailed);
    // What went out behind a refused login is refused as well, harmlessly.
    QTest::newRow("login refused") << QByteArray("NO [AUTHENTICATIONFAILED] no") << QByteArrayList{}
                                   << QByteArray("BAD log in first") << false << failed
                                   << QStringLiteral("Invalid Email UserID or Password") << QStringList{};
    QTest::newRow("headers refused") << QByteArray(kLoggedIn) << QByteArrayList{} << QByteArray("BAD what?") << false
                                     << failed << QStringLiteral("refused to send the headers") << QStringList{};
    QTest::newRow("BYE mid-fetch") << QByteArray(kLoggedIn) << QByteArrayList{three.at(0), "* BYE Server shutting down"}
                                   << QByteArray() << false << failed
                                   << QStringLiteral("The server said: Server shutting down") << QStringList{"77/4003"};
    // Reads protect nothing: the rest is not waited for, the session closes.
    QTest::newRow("Cancel at the first row")
        << QByteArray(kLoggedIn) << three << QByteArray("OK done") << true << int(MailOutcome::Cancelled)
        << QStringLiteral("Fetch cancelled: 1 of 3 messages read") << QStringList{"77/4003"};
}

void TestImapMailbox::checkEnds()
{
    QFETCH(QByteArray, loginStatus);
    QFETCH(QByteArrayList, fetched);
    QFETCH(QByteArray, fetchStatus);
    QFETCH(bool, cancelAtFirst);
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(QStringList, read);
    Session s;
    const bool loggedIn = !loginStatus.startsWith("NO");
    s.checkWrite(loginStatus, "* 3 EXISTS", fetched, fetchStatus);
    s.server->inPieces(16);
    if (fetchStatus.isEmpty())
        s.server->thenHangUp();
    if (loggedIn)
        s.script({{"LOGOUT", fetchStatus.isEmpty() ? QByteArrayList{} : QByteArrayList{"* BYE"},
                   fetchStatus.isEmpty() ? QByteArray() : QByteArray("OK")}});
    MessageFolderModel inbox, recycle;
    const MessageClassifier classify = [&](const QString &, QByteArrayView, qint64) {
        if (cancelAtFirst)
            s.cancel.set();
        return SortReason{};
    };
    const MailResult result = FetchHeader(s.status, inbox, recycle, classify, *s.mailbox, s.cancel);
    QCOMPARE(int(result.kind), kind);
    QVERIFY2((result.text + s.status.statusText).contains(text), qPrintable(result.text + s.status.statusText));
    QCOMPARE(uids(inbox), read);
    VERIFY_IMAP_SCRIPT(*s.server);
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

// Rows are confirmed by UID (one gone meanwhile stays), moved in one
// command with LOGOUT behind it, and counted by what the server says it
// moved: a message another client expunged between the search and the move
// is in no COPYUID, so it changed on the server and was not moved by us.
void TestImapMailbox::emptyMovesConfirmedRowsToJunk()
{
    Session s;
    s.loggedIn();
    s.script({kSelect,
              {"UID SEARCH UID 10,12,15,4294967290 UNDELETED", {"* SEARCH 12 10 4294967290"}, "OK done"},
              {"UID MOVE 10,12,4294967290 \"Junk\"",
               {"* OK [COPYUID 9 12,4294967290 1:2] moved", "* 1 EXPUNGE", "* 1 EXPUNGE"},
               "OK"},
              {"LOGOUT", {"* BYE"}, "OK"}});
    MessageFolderModel recycle;
    fillRecycle(recycle, {"77/10", "77/12", "77/15", "77/4294967290"});
    const DeletionResult result = EmptyRecycleBin(s.status, recycle, *s.mailbox, s.cancel);
    VERIFY_IMAP_SCRIPT(*s.server);
    QCOMPARE(uids(result.deleted), (QStringList{"77/4294967290", "77/12"}));
    QCOMPARE(result.changed, 2);
    QCOMPARE(result.action, QStringLiteral("moved to Junk"));
    QCOMPARE(uids(recycle), (QStringList{"77/10", "77/15"}));
    QCOMPARE(s.status.statusText,
             QStringLiteral("Empty Recycle Bin: 2 messages moved to Junk, 2 changed on the server, not moved to Junk"));
}

// The rows are copied and marked, but the originals stay marked as
// deleted: what the search finds marked counts as moved, and the end says
// so, as a note.
void TestImapMailbox::noUidplusIsToldAtTheEnd()
{
    Session s(QStringLiteral("None"), ImapFolders{});
    s.loggedIn("IMAP4rev1");
    s.script({kSelect,
              {"LIST \"\" \"*\"", {"* LIST () \"/\" INBOX", "* LIST (\\Junk) \"/\" Ind&AOk-sirables"}, "OK"},
              {"UID SEARCH UID 10,12 UNDELETED", {"* SEARCH 10 12"}, "OK done"},
              {"UID COPY 10,12 \"Ind&AOk-sirables\"", {}, "OK"},
              {"UID STORE 10,12 +FLAGS.SILENT (\\Deleted)", {}, "OK"},
              {"UID SEARCH UID 10,12", {"* SEARCH 10 12"}, "OK"},
              {"UID SEARCH UID 10,12 DELETED", {"* SEARCH 10 12"}, "OK"},
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
    QCOMPARE(s.status.statusText, QStringLiteral("Empty Recycle Bin: 2 messages moved to Indésirables"));
}

// Cancel while a server without MOVE copies: once the late copy is
// accepted, the originals are still marked and expunged, and told as moved.
void TestImapMailbox::copyAcceptedAfterCancelIsFinished()
{
    Session s;
    s.loggedIn("IMAP4rev1 UIDPLUS");
    s.script({kSelect, {"UID SEARCH UID 10,12 UNDELETED", {"* SEARCH 12 10"}, "OK"}});
    s.server->expect("UID COPY 10,12 \"Junk\"", {}, "OK [COPYUID 9 10,12 1:2] done");
    s.server->whenTaken([&s] { s.cancel.set(); }).late(200).inPieces(7);
    s.script({{"UID STORE 10,12 +FLAGS.SILENT (\\Deleted)", {}, "OK"},
              {"UID EXPUNGE 10,12", {"* 3 EXPUNGE", "* 1 EXPUNGE"}, "OK"},
              {"LOGOUT", {"* BYE"}, "OK"}});
    MessageFolderModel recycle;
    fillRecycle(recycle, {"77/10", "77/12"});
    const DeletionResult result = EmptyRecycleBin(s.status, recycle, *s.mailbox, s.cancel);
    VERIFY_IMAP_SCRIPT(*s.server);
    QCOMPARE(result.outcome(), MailOutcome::Cancelled);
    QStringList deleted = uids(result.deleted);
    deleted.sort();
    QCOMPARE(deleted, (QStringList{"77/10", "77/12"}));
    QCOMPARE(recycle.count(), 0);
}

void TestImapMailbox::renumberedFolderTouchesNothing_data()
{
    QTest::addColumn<QList<Exchange>>("exchanges");
    QTest::addColumn<QString>("why");
    // The search goes out beside the SELECT; nothing after it may.
    QTest::newRow("UIDVALIDITY changed")
        << QList<Exchange>{{"SELECT \"INBOX\"", {"* OK [UIDVALIDITY 78] renumbered"}, "OK [READ-WRITE] done"},
                           {"UID SEARCH UID 10,12 UNDELETED", {"* SEARCH 10 12"}, "OK done"}}
        << QStringLiteral("UIDVALIDITY changed");
    QTest::newRow("SELECT refused") << QList<Exchange>{{"SELECT \"INBOX\"", {}, "NO no such folder"},
                                                       {"UID SEARCH UID 10,12 UNDELETED", {}, "BAD no folder selected"}}
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
    QTest::addColumn<QList<Exchange>>("exchanges"); // after SELECT
    QTest::addColumn<QString>("answers"); // for 12, then 10: R removed, F refused, G gone, - none
    QTest::addColumn<int>("kind"); // MailOutcome of the removal
    QTest::addColumn<QString>("note");

    const int move = int(ImapFolders::Removal::MoveToFolder);
    const int done = int(MailOutcome::Done);
    const QString junk = QStringLiteral("Junk");
    const Exchange search{"UID SEARCH UID 10,12 UNDELETED", {"* SEARCH 10 12"}, "OK"};
    const Exchange bothThere{"UID SEARCH UID 10,12", {"* SEARCH 10 12"}, "OK"};
    const Exchange noneThere{"UID SEARCH UID 10,12", {"* SEARCH"}, "OK"};
    QTest::newRow("moved, told by COPYUID in the completion")
        << QByteArray("IMAP4rev1 MOVE UIDPLUS") << move << junk
        << QList<Exchange>{search, {"UID MOVE 10,12 \"Junk\"", {}, "OK [COPYUID 9 10,12 5:6] done"}} << "RR" << done
        << QString();
    QTest::newRow("moved, no COPYUID: the search says")
        << QByteArray("IMAP4rev1 MOVE") << move << junk
        << QList<Exchange>{search,
                           {"UID MOVE 10,12 \"Junk\"", {}, "OK"},
                           {"UID SEARCH UID 10,12", {"* SEARCH 12"}, "OK"}}
        << "FR" << done << QString();
    QTest::newRow("move refused: no such folder")
        << QByteArray("IMAP4rev1 MOVE UIDPLUS") << move << junk
        << QList<Exchange>{search, {"UID MOVE 10,12 \"Junk\"", {}, "NO [TRYCREATE] no such folder"}} << "FF"
        << int(MailOutcome::NotConfigured) << QStringLiteral("The folder Junk does not exist on the server.");
    QTest::newRow("no MOVE: copy, mark, expunge those")
        << QByteArray("IMAP4rev1 UIDPLUS") << move << junk
        << QList<Exchange>{search,
                           {"UID COPY 10,12 \"Junk\"", {}, "OK [COPYUID 9 12 1] done"},
                           {"UID STORE 10,12 +FLAGS.SILENT (\\Deleted)", {}, "OK"},
                           {"UID EXPUNGE 10,12", {"* 1 EXPUNGE"}, "OK"},
                           noneThere}
        << "RG" << done << QString();
    QTest::newRow("copy refused: nothing marked")
        << QByteArray("IMAP4rev1 UIDPLUS") << move << junk
        << QList<Exchange>{search, {"UID COPY 10,12 \"Junk\"", {}, "NO [OVERQUOTA] full"}, bothThere} << "FF" << done
        << QStringLiteral("The server said: full");
    QTest::newRow("no UIDPLUS: left marked, and said")
        << QByteArray("IMAP4rev1") << move << junk
        << QList<Exchange>{search,
                           {"UID COPY 10,12 \"Junk\"", {}, "OK"},
                           {"UID STORE 10,12 +FLAGS.SILENT (\\Deleted)", {}, "OK"},
                           {"UID SEARCH UID 10,12", {"* SEARCH 12"}, "OK"},
                           {"UID SEARCH UID 10,12 DELETED", {"* SEARCH 12"}, "OK"}}
        << "RG" << done << QStringLiteral("left in INBOX marked as deleted");
    QTest::newRow("delete for good") << QByteArray("IMAP4rev1 MOVE UIDPLUS") << int(ImapFolders::Removal::Delete)
                                     << junk
                                     << QList<Exchange>{search,
                                                        {"UID STORE 10,12 +FLAGS.SILENT (\\Deleted)", {}, "OK"},
                                                        {"UID EXPUNGE 10,12", {}, "OK"},
                                                        noneThere}
                                     << "RR" << done << QString();
    QTest::newRow("Junk marked by SPECIAL-USE")
        << QByteArray("IMAP4rev1 MOVE SPECIAL-USE") << move << QString()
        << QList<Exchange>{{"LIST (SPECIAL-USE) \"\" \"*\"",
                            {"* LIST (\\HasNoChildren \\Junk) \"/\" \"Bulk\"", "* LIST () \"/\" Spam"},
                            "OK"},
                           search,
                           {"UID MOVE 10,12 \"Bulk\"", {}, "OK"},
                           noneThere}
        << "RR" << done << QString();
    QTest::newRow("Junk by its usual name")
        << QByteArray("IMAP4rev1 MOVE") << move << QString()
        << QList<Exchange>{{"LIST \"\" \"*\"",
                            {"* LIST (\\Noselect) \"/\" Junk", "* LIST () \"/\" INBOX",
                             "* LIST () \"/\" {12}\r\n[Gmail]/Spam"},
                            "OK"},
                           search,
                           {"UID MOVE 10,12 \"[Gmail]/Spam\"", {}, "OK"},
                           noneThere}
        << "RR" << done << QString();
    QTest::newRow("no Junk folder") << QByteArray("IMAP4rev1 MOVE") << move << QString()
                                    << QList<Exchange>{{"LIST \"\" \"*\"", {"* LIST () \"/\" INBOX"}, "OK"}, search}
                                    << "--" << int(MailOutcome::NotConfigured) << QStringLiteral("nothing was moved");
}

// Every way of removing touches exactly the UIDs asked for, never with a
// plain EXPUNGE (the script refuses any command it does not list), and
// tells of each only what the server's answers say.
void TestImapMailbox::removal()
{
    QFETCH(QByteArray, capabilities);
    QFETCH(int, removal);
    QFETCH(QString, target);
    QFETCH(QList<Exchange>, exchanges);
    QFETCH(QString, answers);
    QFETCH(int, kind);
    QFETCH(QString, note);
    ImapFolders folders;
    folders.removal = ImapFolders::Removal(removal);
    folders.target = target;
    Session s(QStringLiteral("None"), folders);
    s.loggedIn(capabilities);
    s.script({kSelect});
    s.script(exchanges);
    QVERIFY(s.mailbox->open().ok());
    QList<LocatedMessage> found;
    MailResult result = s.mailbox->locate({{{}, 1, "77/12", {}}, {{}, 2, "77/10", {}}}, found);
    QList<MessageKey> keys;
    for (const LocatedMessage &f : found)
        if (f.state == LocatedMessage::State::Found)
            keys << f.key;
    QString told = QStringLiteral("--");
    if (result.ok())
        result = s.mailbox->remove(keys, [&](qsizetype i, RemovalAnswer a) {
            told[i] = a == RemovalAnswer::Removed ? 'R' : a == RemovalAnswer::Refused ? 'F' : 'G';
        });
    QCOMPARE(told, answers);
    QCOMPARE(int(result.kind), kind);
    QVERIFY2(result.text.contains(note) && result.text.isEmpty() == note.isEmpty(), qPrintable(result.text));
    VERIFY_IMAP_SCRIPT(*s.server);
}

// Many scattered rows: one search of the folder, one long UID MOVE; a
// server that refuses the long line (BAD: it did nothing) gets the same
// UIDs again in lines within the short bound, and no LOGOUT goes out before
// they are answered. Rows the search did not find are never asked.
void TestImapMailbox::longMoveRefusedGoesAgainShort()
{
    Session s;
    s.loggedIn("IMAP4rev1 MOVE UIDPLUS");
    QList<quint32> asked, found;
    QByteArray there = "* SEARCH";
    for (quint32 uid = 7; uid <= 14000; uid += 7) {
        asked << uid;
        if (uid % 5 != 0) { // the rest went meanwhile
            found << uid;
            there += ' ' + QByteArray::number(uid);
        }
    }
    const QByteArray longSet = ImapCommands::uidSet(found);
    QVERIFY(longSet.size() > ImapCommands::kUidSetBytes);
    s.script({kSelect,
              {"UID SEARCH UNDELETED", {there}, "OK"},
              {"UID MOVE " + longSet + " \"Junk\"", {}, "BAD line too long"}});
    const QList<ImapCommands::UidSetPart> parts = ImapCommands::uidSets(found, ImapCommands::kUidSetBytes);
    QVERIFY(parts.size() > 1);
    for (const ImapCommands::UidSetPart &part : parts) {
        QVERIFY(part.set.size() <= ImapCommands::kUidSetBytes);
        s.script({{"UID MOVE " + part.set + " \"Junk\"",
                   {},
                   "OK [COPYUID 9 " + part.set + " 1:" + QByteArray::number(part.uids.size()) + "] done"}});
    }
    s.script({{"LOGOUT", {"* BYE"}, "OK"}});
    QVERIFY(s.mailbox->open().ok());
    QList<MessageIdentity> rows;
    for (const quint32 uid : std::as_const(asked))
        rows.append({{}, qint32(rows.size() + 1), QStringLiteral("77/%1").arg(uid), {}});
    QList<LocatedMessage> located;
    QVERIFY(s.mailbox->locate(rows, located).ok());
    QList<MessageKey> keys;
    for (const LocatedMessage &l : std::as_const(located))
        if (l.state == LocatedMessage::State::Found)
            keys << l.key;
    QCOMPARE(keys.size(), found.size());
    qsizetype removed = 0;
    s.mailbox->commitAfterRemoving();
    const MailResult result =
        s.mailbox->remove(keys, [&](qsizetype, RemovalAnswer a) { removed += a == RemovalAnswer::Removed ? 1 : 0; });
    QVERIFY2(result.ok(), qPrintable(result.text));
    QCOMPARE(removed, found.size());
    QVERIFY(s.mailbox->commit().ok());
    VERIFY_IMAP_SCRIPT(*s.server);
}

QTEST_GUILESS_MAIN(TestImapMailbox)
#include "tst_imapmailbox.moc"
