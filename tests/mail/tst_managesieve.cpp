// The ManageSieve client over a connection in memory: its framing of what
// servers send, the conversation against a transcript that answers in
// pieces and late, and what an upload sends and refuses to send.
#include "CancelFlag.h"
#include "ProfileRecord.h"
#include "SaslOAuth.h"
#include "ScriptedSieveServer.h"
#include "SieveInclude.h"
#include "SieveUpload.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QByteArray kGreeting = "\"IMPLEMENTATION\" \"Example Sieve\"\r\n\"SIEVE\" \"fileinto envelope variables "
                             "regex relational comparator-i;ascii-numeric include\"\r\n\"SASL\" \"\"\r\n"
                             "\"STARTTLS\"\r\n\"VERSION\" \"1.0\"\r\nOK \"ready\"\r\n";
const QByteArray kSecured = "\"IMPLEMENTATION\" \"Example Sieve\"\r\n\"SIEVE\" \"fileinto envelope variables regex "
                            "relational comparator-i;ascii-numeric include\"\r\n\"SASL\" \"PLAIN OAUTHBEARER\"\r\n"
                            "\"VERSION\" \"1.0\"\r\nOK \"TLS up\"\r\n";

ProfileSettingsRecord profile()
{
    ProfileSettingsRecord s;
    s.EmailHost = u"mail.example.org"_s;
    s.EmailUserid = u"ann@example.org"_s;
    s.EmailPassword = u"p\u00e4ss \"word\""_s;
    s.EmailSecurity = u"SSL/TLS"_s;
    return s;
}

QByteArray loginCommand(const ProfileSettingsRecord &s)
{
    const QByteArray plain = '\0' + s.EmailUserid.toUtf8() + '\0' + s.EmailPassword.toUtf8();
    return "AUTHENTICATE \"PLAIN\" \"" + plain.toBase64() + '"';
}

// A session over `server`, secured with STARTTLS and logged in.
struct Conversation {
    ProfileSettingsRecord settings = profile();
    CancelFlag cancel;
    ScriptedSieveServer *server;
    SieveSession session;

    explicit Conversation(qsizetype pieces = 5)
        : server(new ScriptedSieveServer(pieces))
        , session(std::unique_ptr<MailConnection>(server), settings, sieveEndpoint(settings), cancel)
    {
        server->greet(kGreeting).afterTls(kSecured).expect("STARTTLS", "OK \"go\"\r\n");
        server->expect(loginCommand(settings), "OK \"logged in\"\r\n");
    }
    MailResult open()
    {
        MailResult r = session.connectServer();
        return r.ok() ? session.login() : r;
    }
};

SieveScript::Script ourScript(const QStringList &filter)
{
    SieveScript::Options options;
    options.made = QDateTime(QDate(2026, 1, 2), QTime(3, 4), Qt::UTC);
    return SieveScript::generate(filter, {}, options);
}

} // namespace

class TestManageSieve : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void framing_data();
    void framing();
    void conversation_data();
    void conversation();
    void misbehaving_data();
    void misbehaving();
    void upload_data();
    void upload();
    void includeLines_data();
    void includeLines();
    void endpoint_data();
    void endpoint();
    void wayIn_data();
    void wayIn();
    void oauth_data();
    void oauth();
};

void TestManageSieve::framing_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("frame");
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<QByteArray>("text"); // a status's text, or a data line's items joined by "|"
    using F = SieveParser::Frame;
    QTest::newRow("status with code and text") << QByteArray("NO (QUOTA/MAXSIZE) \"too big\"\r\n") << int(F::Complete)
                                               << QByteArray("QUOTA/MAXSIZE") << QByteArray("too big");
    QTest::newRow("code with an argument")
        << QByteArray("ok (sasl \"AAE=\")\r\n") << int(F::Complete) << QByteArray("SASL") << QByteArray();
    QTest::newRow("text as a literal") << QByteArray("BYE {5}\r\nbye\r\n\r\n") << int(F::Complete) << QByteArray()
                                       << QByteArray("bye\r\n");
    QTest::newRow("literal with plus, NUL inside") << QByteArray("{3+}\r\na\0b ACTIVE\r\n", 18) << int(F::Complete)
                                                   << QByteArray() << QByteArray("a\0b|ACTIVE", 10);
    QTest::newRow("escapes in a quoted string")
        << QByteArray("\"a\\\"b\\\\c\"\r\n") << int(F::Complete) << QByteArray() << QByteArray("a\"b\\c");
    QTest::newRow("literal not all there")
        << QByteArray("{10}\r\nabc") << int(F::Incomplete) << QByteArray() << QByteArray();
    QTest::newRow("line break cut after CR")
        << QByteArray("OK\r") << int(F::Incomplete) << QByteArray() << QByteArray();
    QTest::newRow("line break in a quoted string")
        << QByteArray("\"a\r\nb\"\r\n") << int(F::Invalid) << QByteArray() << QByteArray();
    QTest::newRow("literal without digits") << QByteArray("{x}\r\n") << int(F::Invalid) << QByteArray() << QByteArray();
    QTest::newRow("literal past the bound")
        << QByteArray("{4097}\r\n") << int(F::TooLarge) << QByteArray() << QByteArray();
    QTest::newRow("endless line") << QByteArray(5000, 'a') << int(F::TooLarge) << QByteArray() << QByteArray();
    QTest::newRow("quoted string that never closes")
        << "\"IMPLEMENTATION\" \"" + QByteArray(5000, 'a') << int(F::TooLarge) << QByteArray() << QByteArray();
    const QByteArray part = "{2000}\r\n" + QByteArray(2000, 'a');
    QTest::newRow("literals past the bound together")
        << part + ' ' + part + ' ' + part << int(F::TooLarge) << QByteArray() << QByteArray();
}

void TestManageSieve::framing()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, frame);
    QFETCH(QByteArray, code);
    QFETCH(QByteArray, text);
    const SieveLimits limits{1024, 4096};
    SieveResponse r;
    QString why;
    QByteArray buffer = bytes + "NEXT\r\n";
    if (frame == int(SieveParser::Frame::Incomplete) || frame == int(SieveParser::Frame::TooLarge))
        buffer = bytes; // nothing may follow what is cut off
    QCOMPARE(int(SieveParser::take(buffer, limits, &r, &why)), frame);
    if (frame != int(SieveParser::Frame::Complete))
        return;
    QCOMPARE(buffer, QByteArray("NEXT\r\n")); // exactly the line was taken
    QCOMPARE(r.code, code);
    QByteArrayList items;
    for (const SieveItem &i : r.items)
        items << i.text;
    QCOMPARE(r.isStatus() ? r.text : items.join('|'), text);
}

void TestManageSieve::conversation_data()
{
    QTest::addColumn<QByteArray>("listAnswer");
    QTest::addColumn<QByteArray>("getAnswer");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("said"); // in the failure's text, or the script's first line
    const QByteArray script = "require \"fileinto\";\r\n# \"quoted\" {3}\r\nkeep;\r\n";
    const QByteArray literal = '{' + QByteArray::number(script.size()) + "}\r\n" + script;
    QTest::newRow("script as a literal") << QByteArray("\"trelvik\" ACTIVE\r\n\"other\"\r\nOK\r\n")
                                         << literal + "\r\nOK \"done\"\r\n"
                                         << true << u"require"_s;
    QTest::newRow("no such script") << QByteArray("OK\r\n")
                                    << QByteArray("NO (NONEXISTENT) \"There is no script by that name\"\r\n") << false
                                    << u"(NONEXISTENT) There is no script by that name"_s;
    QTest::newRow("server ends the session")
        << QByteArray("OK\r\n") << QByteArray("BYE \"shutting down\"\r\n") << false << u"shutting down"_s;
    QTest::newRow("answer that is no ManageSieve")
        << QByteArray("OK\r\n") << QByteArray("\"a\nb\"\r\n") << false << u"not ManageSieve"_s;
}

void TestManageSieve::conversation()
{
    QFETCH(QByteArray, listAnswer);
    QFETCH(QByteArray, getAnswer);
    QFETCH(bool, ok);
    QFETCH(QString, said);
    Conversation c(3);
    c.server->expect("LISTSCRIPTS", listAnswer);
    if (!getAnswer.isEmpty())
        c.server->expect("GETSCRIPT \"trelvik\"", getAnswer);
    const MailResult opened = c.open();
    QVERIFY2(opened.ok(), qPrintable(opened.text));
    QCOMPARE(c.session.server().sieveExtensions.size(), 7);
    QList<SieveScriptEntry> scripts;
    QVERIFY(c.session.listScripts(&scripts).ok());
    QByteArray text;
    const SieveAnswer got = c.session.getScript(u"trelvik"_s, &text);
    QCOMPARE(got.ok(), ok);
    if (ok) {
        QCOMPARE(scripts.size(), 2);
        QVERIFY(scripts.at(0).active && !scripts.at(1).active);
        QVERIFY(text.startsWith(said.toUtf8()) && text.endsWith("keep;\r\n"));
    } else {
        const MailResult why = c.session.refusal(got, u"Not given."_s);
        QVERIFY2(why.text.contains(said), qPrintable(why.text));
    }
    VERIFY_SIEVE_SCRIPT(*c.server);
}

// A server past a bound ends the session with the reason once it has sent
// about that much, in whatever pieces; one silent after LOGOUT is waited
// for no longer than the grace.
void TestManageSieve::misbehaving_data()
{
    QTest::addColumn<QByteArray>("greeting");
    QTest::addColumn<QString>("said"); // in the failure; empty: connected, LOGOUT goes unanswered
    const QString larger = u"sent a response larger than this program accepts"_s;
    const QString longer = u"sent an answer longer than this program accepts"_s;
    QTest::newRow("quoted string past the line bound") << "\"IMPLEMENTATION\" \"" + QByteArray(40000, 'a')
            + "\"\r\nOK\r\n" << larger;
    QByteArray literals = "\"SIEVE\"";
    for (int i = 0; i < 40; ++i)
        literals += " {1000}\r\n" + QByteArray(1000, 'a');
    QTest::newRow("literals on one line past the bound") << literals + "\r\nOK\r\n" << larger;
    QTest::newRow("flood of short lines") << QByteArray("\"A\"\r\n").repeated(8000) + "OK\r\n" << longer;
    QTest::newRow("flood of long lines") << ('"' + QByteArray(1000, 'a') + "\"\r\n").repeated(40) + "OK\r\n" << longer;
    QTest::newRow("silent after LOGOUT") << kGreeting << QString();
}

void TestManageSieve::misbehaving()
{
    QFETCH(QByteArray, greeting);
    QFETCH(QString, said);
    const ProfileSettingsRecord settings = profile();
    CancelFlag cancel;
    SessionOptions options;
    options.replyLimitBytes = 4096;
    options.inactivityLimitMs = 20000;
    options.cancelGraceMs = 200;
    const qsizetype piece = 7;
    auto *server = new ScriptedSieveServer(piece);
    server->greet(greeting).afterTls(kSecured).expect("STARTTLS", "OK\r\n").expect("LOGOUT", {});
    SieveSession session(std::unique_ptr<MailConnection>(server), settings, sieveEndpoint(settings), cancel, options);
    const qsizetype queued = server->piecesLeft();
    const MailResult opened = session.connectServer();
    if (!said.isEmpty()) {
        QVERIFY2(opened.text.contains(said), qPrintable(opened.text));
        // Read no further than about what may be held.
        QVERIFY((queued - server->piecesLeft()) * piece <= 4 * options.replyLimitBytes);
        return;
    }
    QVERIFY2(opened.ok(), qPrintable(opened.text));
    QElapsedTimer clock;
    clock.start();
    session.logout();
    // The grace, not the inactivity limit, with room for a loaded machine.
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    VERIFY_SIEVE_SCRIPT(*server);
}

void TestManageSieve::upload_data()
{
    QTest::addColumn<QByteArrayList>("commands");
    QTest::addColumn<QByteArrayList>("answers");
    QTest::addColumn<bool>("include");
    QTest::addColumn<int>("refusal");
    const SieveScript::Script ours = ourScript({u"*@spam.example"_s});
    const QByteArray bytes = ours.text.toUtf8();
    const QByteArray put = "PUTSCRIPT \"trelvik\" {" + QByteArray::number(bytes.size()) + "+}\r\n" + bytes;
    const QByteArray have = "HAVESPACE \"trelvik\" " + QByteArray::number(bytes.size());
    const QByteArray mine = "keep;\r\n";
    const QByteArray mineListed = "\"mine\" ACTIVE\r\nOK\r\n";
    const QByteArray mineGiven = "{7}\r\n" + mine + "\r\nOK\r\n";
    using R = SieveUpload::Refusal;

    QTest::newRow("none active: uploaded and activated")
        << QByteArrayList{"LISTSCRIPTS", have, put, "SETACTIVE \"trelvik\"", "LISTSCRIPTS", "GETSCRIPT \"trelvik\""}
        << QByteArrayList{"OK\r\n",
                          "OK\r\n",
                          "OK\r\n",
                          "OK\r\n",
                          "\"trelvik\" ACTIVE\r\nOK\r\n",
                          '{' + QByteArray::number(bytes.size()) + "}\r\n" + bytes + "\r\nOK\r\n"}
        << false << int(R::None);
    QTest::newRow("PUTSCRIPT over the quota: nothing activated")
        << QByteArrayList{"LISTSCRIPTS", have, put}
        << QByteArrayList{"OK\r\n", "OK\r\n", "NO (QUOTA/MAXSIZE) \"Script is too large (max 100 bytes).\"\r\n"}
        << false << int(R::TooLarge);
    QTest::newRow("another active, not asked: nothing sent")
        << QByteArrayList{"LISTSCRIPTS", "GETSCRIPT \"mine\""} << QByteArrayList{mineListed, mineGiven} << false
        << int(R::OtherActive);
    const QByteArray changed = SieveInclude::add(mine, u"trelvik"_s);
    QTest::newRow("another active, check rejects the include: left as it was")
        << QByteArrayList{"LISTSCRIPTS",
                          "GETSCRIPT \"mine\"",
                          have,
                          put,
                          "GETSCRIPT \"mine\"",
                          "CHECKSCRIPT {" + QByteArray::number(changed.size()) + "+}\r\n" + changed}
        << QByteArrayList{mineListed, mineGiven, "OK\r\n", "OK\r\n", mineGiven, "NO \"line 2: unknown include\"\r\n"}
        << true << int(R::Rejected);
    QTest::newRow("a script of that name someone wrote")
        << QByteArrayList{"LISTSCRIPTS", "GETSCRIPT \"trelvik\""}
        << QByteArrayList{"\"trelvik\"\r\nOK\r\n", "{7}\r\nkeep;\r\n\r\nOK\r\n"} << true << int(R::Edited);
}

void TestManageSieve::upload()
{
    QFETCH(QByteArrayList, commands);
    QFETCH(QByteArrayList, answers);
    QFETCH(bool, include);
    QFETCH(int, refusal);
    Conversation c(7);
    for (qsizetype i = 0; i < commands.size(); ++i)
        c.server->expect(commands.at(i), answers.at(i));
    const MailResult opened = c.open();
    QVERIFY2(opened.ok(), qPrintable(opened.text));
    const SieveUpload::Outcome o = SieveUpload::upload(c.session, ourScript({u"*@spam.example"_s}), {include});
    QCOMPARE(int(o.refusal), refusal);
    QCOMPARE(o.result.ok(), refusal == int(SieveUpload::Refusal::None));
    if (o.result.ok())
        QVERIFY(o.status.running() && o.status.state == SieveUpload::State::UpToDate);
    else
        QVERIFY(o.result.text.contains(u"was"_s)); // says what became of the server's scripts
    VERIFY_SIEVE_SCRIPT(*c.server);
}

void TestManageSieve::includeLines_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QByteArray>("after"); // what must come after the lines: the script's first command
    QTest::newRow("no require") << QByteArray("keep;\n") << QByteArray("keep;");
    QTest::newRow("one require, a comment first")
        << QByteArray("# mine\nrequire \"fileinto\"; # own words\nfileinto \"X\";\n") << QByteArray("fileinto \"X\"");
    QTest::newRow("a list already with include")
        << QByteArray("require [\"fileinto\", \"include\"];\r\ninclude :global \"spam\";\r\n")
        << QByteArray("include :global");
    QTest::newRow("requires over two lines, comment in between")
        << QByteArray("require \"fileinto\"; /* a */ require [\"Variables\"];\nif true { keep; }")
        << QByteArray("if true");
    QTest::newRow("last require ends the file") << QByteArray("require \"fileinto\";") << QByteArray();
    QTest::newRow("require that is not one") << QByteArray("requirement;\nrequire \"x\";\n") << QByteArray();
    // Inserted at the line's end, the lines would be inside the comment or
    // the vacation's text: the server takes them, and they never run.
    QTest::newRow("a bracket comment running on after the require")
        << QByteArray("require \"fileinto\"; /* my own\nfilters */\nfileinto \"X\";\n") << QByteArray("/* my own");
    QTest::newRow("a text running on after the require")
        << QByteArray("require \"vacation\"; vacation text:\nAway.\n.\n;\n") << QByteArray("vacation text:");
    // Bytes that are no UTF-8 stay as they are, there and back.
    QTest::newRow("a Latin-1 byte in the user's rule")
        << QByteArray("require \"fileinto\";\nif header :contains \"subject\" \"caf\xE9\" { fileinto \"X\"; }\n")
        << QByteArray("if header");
}

// The lines go after the script's requires (where commands may begin),
// "include" is required once, and taking them out gives back the script
// byte for byte.
void TestManageSieve::includeLines()
{
    QFETCH(QByteArray, script);
    QFETCH(QByteArray, after);
    QVERIFY(!SieveInclude::has(script));
    const QByteArray changed = SieveInclude::add(script, u"trelvik"_s);
    QVERIFY(SieveInclude::has(changed));
    QCOMPARE(changed.count("\"include\""), 1);
    const qsizetype include = changed.indexOf("include :personal \"trelvik\";");
    QVERIFY(include > 0);
    QVERIFY(changed.indexOf("require", include) < 0 || script.startsWith("requirement"));
    if (!after.isEmpty())
        QVERIFY2(changed.indexOf(after) > include, changed.constData());
    QCOMPARE(SieveInclude::remove(changed), std::optional<QByteArray>(script));
    QVERIFY(!SieveInclude::remove(script).has_value());
}

void TestManageSieve::endpoint_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("security");
    QTest::addColumn<QString>("srvTarget"); // the answer for example.org
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("expectedPort");
    QTest::addColumn<int>("expectedSecurity");
    QTest::addColumn<bool>("error");
    const int tls = int(ConnectionSecurity::StartTls);
    QTest::newRow("default") << QString() << QString() << QString() << u"mail.example.org"_s << 4190 << tls << false;
    QTest::newRow("DNS inside the domain")
        << QString() << QString() << u"sieve.example.org"_s << u"sieve.example.org"_s << 2000 << tls << false;
    QTest::newRow("DNS pointing elsewhere is not followed")
        << QString() << QString() << u"sieve.example.org.evil.test"_s << u"mail.example.org"_s << 4190 << tls << false;
    QTest::newRow("the profile's port over DNS")
        << u"5190"_s << u"ssl/tls"_s << u"sieve.example.org"_s << u"mail.example.org"_s << 5190
        << int(ConnectionSecurity::Implicit) << false;
    QTest::newRow("port that is no port")
        << u"70000"_s << QString() << QString() << u"mail.example.org"_s << 4464 << tls << true;
    QTest::newRow("security unknown") << QString() << u"Telnet"_s << QString() << u"mail.example.org"_s << 4190 << tls
                                      << true;
}

void TestManageSieve::endpoint()
{
    QFETCH(QString, port);
    QFETCH(QString, security);
    QFETCH(QString, srvTarget);
    QFETCH(QString, host);
    QFETCH(int, expectedPort);
    QFETCH(int, expectedSecurity);
    QFETCH(bool, error);
    ProfileSettingsRecord s = profile();
    s.SievePort = port;
    s.SieveSecurity = security;
    QStringList asked;
    const SieveEndpoint e = sieveEndpoint(s, [&](const QString &domain) -> std::optional<SieveSrv> {
        asked << domain;
        if (domain != u"example.org"_s || srvTarget.isEmpty())
            return std::nullopt;
        return SieveSrv{srvTarget, 2000};
    });
    QCOMPARE(e.error.isEmpty(), !error);
    if (error)
        return;
    QCOMPARE(e.host, host);
    QCOMPARE(int(e.port), expectedPort);
    QCOMPARE(int(e.security), expectedSecurity);
    QCOMPARE(asked.isEmpty(), !port.isEmpty()); // the profile's word needs no DNS
}

// A failed way in names the ManageSieve server where it is (its own port,
// not the mail server's), whatever the handshake did.
void TestManageSieve::wayIn_data()
{
    QTest::addColumn<bool>("tcpConnected");
    QTest::addColumn<bool>("plainTextPeer");
    QTest::addColumn<QString>("text");
    const QString notSecured = u"A secure connection to the ManageSieve server mail.example.org (port 2000) could not "
                               "be made, so the password was not sent.\r\nno"_s;
    QTest::newRow("handshake failed") << true << false << notSecured;
    QTest::newRow("plain text where TLS was asked") << true << true << notSecured;
    QTest::newRow("never reached") << false << false << u"2000"_s;
}

void TestManageSieve::wayIn()
{
    QFETCH(bool, tcpConnected);
    QFETCH(bool, plainTextPeer);
    QFETCH(QString, text);
    ProfileSettingsRecord settings = profile();
    settings.EmailPort = u"993"_s;
    settings.SievePort = u"2000"_s;
    settings.SieveSecurity = u"SSL/TLS"_s;
    CancelFlag cancel;
    auto *server = new ScriptedSieveServer;
    server->handshake.kind = HandshakeResult::Kind::Failed;
    server->handshake.reason = u"no"_s;
    server->handshake.tcpConnected = tcpConnected;
    server->handshake.plainTextPeer = plainTextPeer;
    SieveSession session(std::unique_ptr<MailConnection>(server), settings, sieveEndpoint(settings), cancel);
    const MailResult r = session.connectServer();
    QCOMPARE(r.kind, MailOutcome::ConnectionFailed);
    QCOMPARE(r.title, u"Connection Failed"_s);
    QVERIFY2(tcpConnected ? r.text == text : r.text.contains(text) && !r.text.contains(u"993"_s), qPrintable(r.text));
    QVERIFY(server->written().isEmpty());
}

// A refused token is renewed once, and the second refusal is the user's.
void TestManageSieve::oauth_data()
{
    QTest::addColumn<QByteArrayList>("answers"); // to each token sent
    QTest::addColumn<int>("renewals");
    QTest::addColumn<QString>("said"); // in the failure, or empty for signed in
    QTest::newRow("accepted") << QByteArrayList{"OK\r\n"} << 0 << QString();
    QTest::newRow("expired, the fresh one taken") << QByteArrayList{"NO \"expired\"\r\n", "OK\r\n"} << 1 << QString();
    QTest::newRow("refused twice: asked once more, never again")
        << QByteArrayList{"NO \"expired\"\r\n", "NO \"still tok-2 not you\"\r\n"} << 1
        << u"refused the login of ann@example.org.\r\nThe server said: still *** not you"_s;
    QTest::newRow("ends the session") << QByteArrayList{"BYE \"going down\"\r\n"} << 0 << u"going down"_s;
}

void TestManageSieve::oauth()
{
    QFETCH(QByteArrayList, answers);
    QFETCH(int, renewals);
    QFETCH(QString, said);
    ProfileSettingsRecord settings = profile();
    settings.SignInMethod = u"OAuth2"_s;
    CancelFlag cancel;
    int asked = 0;
    SessionOptions options;
    options.accessToken = [&](bool renew) {
        asked += renew ? 1 : 0;
        return AccessToken{AccessToken::State::Ready, renew ? u"tok-2"_s : u"tok-1"_s, {}};
    };
    auto *server = new ScriptedSieveServer(4);
    server->greet(kGreeting).afterTls(kSecured).expect("STARTTLS", "OK\r\n");
    for (qsizetype i = 0; i < answers.size(); ++i) {
        const QString token = i == 0 ? u"tok-1"_s : u"tok-2"_s;
        const QByteArray response = oauthBearerResponse(settings.EmailUserid, settings.EmailHost, 4190, token);
        server->expect("AUTHENTICATE \"OAUTHBEARER\" \"" + response + '"', answers.at(i));
    }
    SieveSession session(std::unique_ptr<MailConnection>(server), settings, sieveEndpoint(settings), cancel, options);
    QVERIFY(session.connectServer().ok());
    const MailResult r = session.login();
    QCOMPARE(asked, renewals);
    QVERIFY2(said.isEmpty() ? r.ok() : r.text.contains(said), qPrintable(r.text));
    VERIFY_SIEVE_SCRIPT(*server);
}

QTEST_GUILESS_MAIN(TestManageSieve)
#include "tst_managesieve.moc"
