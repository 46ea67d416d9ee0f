// The secured login against a scripted server: STARTTLS that cannot happen
// ends before the user name is sent, refused logins are explained by their
// response codes, SASL PLAIN stands in for a refused USER, the connection
// tester reports without boxes, and no password reaches a box or a text.
#include "ConnectionTester.h"
#include "LoginReplies.h"
#include "MailTestFixture.h"

#include <QTest>

using testsupport::ScriptedPop3Server;
using Icon = MessageBox::Icon;

namespace {
const QString kFailed = QStringLiteral("Connection Failed");
const QString kInvalid = QStringLiteral("Invalid Email UserID or Password");

} // namespace

class TestPop3Security : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { f = std::make_unique<MailFixture>(); }
    void cleanup() { f.reset(); }

    void securityFromProfile_data();
    void securityFromProfile();
    void startTlsFailsClosed_data();
    void startTlsFailsClosed();
    void implicitTlsNobodyListening();
    void loginRefusalTexts_data();
    void loginRefusalTexts();
    void saslPlainFallback_data();
    void saslPlainFallback();
    void passwordNeverInBoxes_data();
    void passwordNeverInBoxes();
    void testerReports();

private:
    std::unique_ptr<MailFixture> f;
};

void TestPop3Security::securityFromProfile_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("expected");
    QTest::newRow("empty, port 995") << "" << "995" << int(ConnectionSecurity::Implicit);
    QTest::newRow("starttls, any case") << "starttls" << "110" << int(ConnectionSecurity::StartTls);
    QTest::newRow("SSL/TLS on 110") << "SSL/TLS" << "110" << int(ConnectionSecurity::Implicit);
    QTest::newRow("unknown word") << "TLS" << "995" << int(ConnectionSecurity::Unknown);
}

void TestPop3Security::securityFromProfile()
{
    QFETCH(QString, value);
    QFETCH(QString, port);
    QFETCH(int, expected);
    Global::ProfileSettingsRecord settings;
    settings.EmailSecurity = value;
    settings.EmailPort = port;
    QCOMPARE(int(connectionSecurity(settings)), expected);
}

void TestPop3Security::startTlsFailsClosed_data()
{
    QTest::addColumn<QList<QByteArray>>("capabilities");
    QTest::addColumn<QByteArray>("stlsReply"); // empty: STLS is never sent
    QTest::addColumn<QString>("box"); // how the box's text starts
    const QString notOffered = QStringLiteral("The server does not offer STARTTLS, so the connection cannot be secured "
                                              "and the user name and password were not sent.\r\n"
                                              "Choose SSL/TLS (usually port 995) if the server offers it.");
    QTest::newRow("STLS not offered") << QList<QByteArray>{"USER", "TOP", "UIDL"} << QByteArray() << notOffered;
    QTest::newRow("STLS refused")
        << QList<QByteArray>{"USER", "STLS"} << QByteArray("-ERR TLS is resting today\r\n")
        << QStringLiteral("The server refused to start TLS, so the user name and password were not sent.\r\n"
                          "The server said: TLS is resting today");
    // The server agrees to TLS but goes on in plain text: the handshake fails.
    QTest::newRow("plain text after STLS")
        << QList<QByteArray>{"STLS"} << QByteArray("+OK go ahead\r\n+OK pretend this is TLS\r\n")
        << QStringLiteral("A secure connection to the server could not be made, so the password was not sent.\r\n");
}

void TestPop3Security::startTlsFailsClosed()
{
    QFETCH(QList<QByteArray>, capabilities);
    QFETCH(QByteArray, stlsReply);
    QFETCH(QString, box);
    Global::ProfileSettings.EmailSecurity = QStringLiteral("STARTTLS");
    f->server.greetOnly().capa(capabilities);
    if (!stlsReply.isEmpty())
        f->server.expect("STLS", stlsReply);
    f->fetch(MailFixture::kTestLimitMs);
    VERIFY_SCRIPT(f->server);
    QCOMPARE(f->boxes.shown().size(), 1);
    QVERIFY2(f->boxes.shown().constFirst().text.startsWith(box), qPrintable(f->boxes.shown().constFirst().text));
    QCOMPARE(f->boxes.shown().constFirst().title, kFailed);
    for (const QByteArray &command : f->server.commands())
        QVERIFY2(!command.startsWith("USER") && !command.startsWith("PASS") && !command.startsWith("AUTH"), command);
    QCOMPARE(f->status.eventsStartingWith(QStringLiteral("status:")).mid(0, 1),
             QStringList{"status:Connecting To Server..."});
    QCOMPARE(f->status.statusText, QStringLiteral("Disconnected"));
    QTRY_VERIFY_WITH_TIMEOUT(!f->server.clientConnected(), 5000);
}

void TestPop3Security::implicitTlsNobodyListening()
{
    quint16 port = 0;
    {
        ScriptedPop3Server closed;
        QVERIFY(closed.listen());
        port = closed.port();
    }
    Global::ProfileSettings.EmailSecurity = QStringLiteral("SSL/TLS");
    Global::ProfileSettings.EmailPort = QString::number(port);
    f->boxes.expect(QStringLiteral("Unable to connect to Host.\r\nCheck Network Connection"), QStringLiteral("127.0.0.1"),
                    Icon::Critical);
    f->fetch();
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->status.statusText, QStringLiteral("Disconnected"));
}

void TestPop3Security::loginRefusalTexts_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("text");
    const QString later = QStringLiteral("\r\nPlease try again later.");
    QTest::newRow("AUTH") << "-ERR [AUTH] Authentication failed.\r\n" << kInvalid;
    QTest::newRow("IN-USE")
        << "-ERR [IN-USE] Mailbox locked by another session\r\n"
        << "The mailbox is in use by another mail program, so the server refused the login.\r\n"
           "The server said: Mailbox locked by another session"
               + later;
    QTest::newRow("LOGIN-DELAY") << "-ERR [LOGIN-DELAY] wait 15 minutes\r\n"
                                 << "The server allows logins only every so often and refused this one.\r\n"
                                    "The server said: wait 15 minutes"
                                        + later;
    QTest::newRow("SYS/TEMP, deeper code") << "-ERR [SYS/TEMP/DISK] Disk full\r\n"
                                           << "The server has a temporary problem and could not log you in.\r\n"
                                              "The server said: Disk full"
                                                  + later;
    QTest::newRow("echoed password blanked")
        << "-ERR [SYS/PERM] password secret is banned; secret!\r\n"
        << QStringLiteral("The server has a problem and could not log you in.\r\n"
                          "The server said: password *** is banned; ***!");
    QTest::newRow("control characters and a second line")
        << "-ERR [SYS/TEMP] a\tb\x07" "c\r\n+OK injected\r\n"
        << "The server has a temporary problem and could not log you in.\r\nThe server said: a b c" + later;
}

void TestPop3Security::loginRefusalTexts()
{
    QFETCH(QString, reply);
    QFETCH(QString, text);
    const LoginRefusal refusal = loginRefusal(reply, QStringLiteral("secret"));
    QCOMPARE(refusal.text, text);
    QCOMPARE(refusal.title, kFailed);
}

void TestPop3Security::saslPlainFallback_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QList<QByteArray>>("capabilities");
    QTest::addColumn<QList<QByteArray>>("exchange"); // command, reply, command, reply...
    QTest::addColumn<bool>("loggedIn");

    QTest::newRow("initial response") << "secret" << QList<QByteArray>{"SASL CRAM-MD5 PLAIN", "UIDL"}
                                      << QList<QByteArray>{"AUTH PLAIN AHVzZXIAc2VjcmV0", "+OK welcome\r\n"} << true;
    QTest::newRow("refused") << "secret" << QList<QByteArray>{"SASL PLAIN"}
                             << QList<QByteArray>{"AUTH PLAIN AHVzZXIAc2VjcmV0", "-ERR [AUTH] no\r\n"} << false;
    QTest::newRow("no PLAIN offered: PASS as before")
        << "secret" << QList<QByteArray>{"SASL CRAM-MD5", "PLAIN"}
        << QList<QByteArray>{"PASS secret", "+OK\r\n"} << true;
}

void TestPop3Security::saslPlainFallback()
{
    QFETCH(QString, password);
    QFETCH(QList<QByteArray>, capabilities);
    QFETCH(QList<QByteArray>, exchange);
    QFETCH(bool, loggedIn);
    Global::ProfileSettings.EmailPassword = password;
    f->server.greet("+OK ready", capabilities).expect("USER user", "-ERR USER is not allowed here\r\n");
    for (qsizetype i = 0; i + 1 < exchange.size(); i += 2)
        f->server.expect(exchange.at(i), exchange.at(i + 1));
    if (loggedIn)
        f->server.stat(0).quit();
    else
        f->boxes.expect(kInvalid, kFailed, Icon::Critical);
    f->fetch();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
}

void TestPop3Security::passwordNeverInBoxes_data()
{
    QTest::addColumn<bool>("dropped"); // else the refusal echoes it
    QTest::newRow("dropped at PASS") << true;
    QTest::newRow("refusal echoes it") << false;
}

void TestPop3Security::passwordNeverInBoxes()
{
    QFETCH(bool, dropped);
    Global::ProfileSettings.EmailPassword = QStringLiteral("hunter2-very-secret");
    f->server.greet().expect("USER user", "+OK\r\n");
    if (dropped)
        f->server.expectDrop("PASS hunter2-very-secret");
    else
        f->server.expect("PASS hunter2-very-secret", "-ERR [SYS/PERM] PASS hunter2-very-secret rejected\r\n");
    f->fetch(MailFixture::kTestLimitMs);
    QCOMPARE(f->boxes.shown().size(), 1);
    QVERIFY(!f->boxes.shown().constFirst().text.contains(QLatin1String("hunter2")));
    for (const QString &event : f->status.events)
        QVERIFY2(!event.contains(QLatin1String("hunter2")), qPrintable(event));

    f->server.greet().expect("USER user", "+OK\r\n").expect("PASS hunter2-very-secret", "-ERR hunter2-very-secret\r\n");
    const TestConnectionResult result = testConnection(Global::ProfileSettings, SessionOptions{MailFixture::kTestLimitMs});
    QVERIFY(!result.ok);
    QCOMPARE(result.text, QStringLiteral("Connected to 127.0.0.1:%1; not encrypted: the password is sent in clear; "
                                         "login failed: Invalid Email UserID or Password.")
                              .arg(Global::ProfileSettings.EmailPort));
}

void TestPop3Security::testerReports()
{
    // The tester leaves the profile in use alone and shows no box.
    Global::ProfileSettingsRecord settings = Global::ProfileSettings;
    f->server.greet().login().stat(12, 3000).quit();
    const TestConnectionResult result = testConnection(settings, SessionOptions{5000});
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QVERIFY(result.ok);
    QCOMPARE(result.text, QStringLiteral("Connected to 127.0.0.1:%1; not encrypted: the password is sent in clear; "
                                         "logged in; 12 messages waiting.").arg(settings.EmailPort));
}

QTEST_GUILESS_MAIN(TestPop3Security)
#include "tst_pop3security.moc"
