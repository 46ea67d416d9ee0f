// The secured login against a scripted server: STARTTLS that cannot happen
// ends before the user name is sent, refused logins are explained by their
// response codes, SASL PLAIN stands in for a refused USER, and no password
// reaches a box or a text.
#include "ConnectionTester.h"
#include "LoginReplies.h"
#include "MailTestFixture.h"

#include <QTest>


namespace {
const QString kFailed = QStringLiteral("Connection Failed");
const QString kInvalid = QStringLiteral("Invalid Email UserID or Password");

} // namespace

class TestPop3Security : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { f = std::make_unique<MailFixture>(); }
    void cleanup() { f.reset(); }

    void startTlsFailsClosed_data();
    void startTlsFailsClosed();
    void loginRefusalTexts_data();
    void loginRefusalTexts();
    void saslPlainFallback();
    void passwordNeverShown();

private:
    std::unique_ptr<MailFixture> f;
};

void TestPop3Security::startTlsFailsClosed_data()
{
    QTest::addColumn<QList<QByteArray>>("capabilities");
    QTest::addColumn<QByteArray>("stlsReply"); // empty: STLS is never sent
    QTest::addColumn<QString>("box"); // how the box's text starts
    const QString notOffered = QStringLiteral("The server does not offer STARTTLS, so the connection cannot be secured "
                                              "and the user name and password were not sent.\r\n"
                                              "Choose SSL/TLS (usually port 995) if the server offers it.");
    QTest::newRow("STLS not offered") << QList<QByteArray>{"USER", "TOP", "UIDL"} << QByteArray() << notOffered;
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
    QTest::newRow("SYS/TEMP, deeper code") << "-ERR [SYS/TEMP/DISK] Disk full\r\n"
                                           << "The server has a temporary problem and could not log you in.\r\n"
                                              "The server said: Disk full"
                                                  + later;
}

void TestPop3Security::loginRefusalTexts()
{
    QFETCH(QString, reply);
    QFETCH(QString, text);
    const LoginRefusal refusal = loginRefusal(reply, QStringLiteral("secret"));
    QCOMPARE(refusal.text, text);
    QCOMPARE(refusal.title, kFailed);
}

void TestPop3Security::saslPlainFallback()
{
    // USER refused: AUTH PLAIN with the initial response stands in.
    f->server.greet("+OK ready", {"SASL CRAM-MD5 PLAIN", "UIDL"})
        .expect("USER user", "-ERR USER is not allowed here\r\n")
        .expect("AUTH PLAIN AHVzZXIAc2VjcmV0", "+OK welcome\r\n")
        .stat(0)
        .quit();
    f->fetch();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
}

void TestPop3Security::passwordNeverShown()
{
    // The refusal echoes the password: not into the box, the status or the tester's text.
    Global::ProfileSettings.EmailPassword = QStringLiteral("hunter2-very-secret");
    for (int run = 0; run < 2; ++run)
        f->server.greet().expect("USER user", "+OK\r\n")
            .expect("PASS hunter2-very-secret", "-ERR [SYS/PERM] PASS hunter2-very-secret rejected\r\n");
    f->fetch(MailFixture::kTestLimitMs);
    QCOMPARE(f->boxes.shown().size(), 1);
    QVERIFY(!f->boxes.shown().constFirst().text.contains(QLatin1String("hunter2")));
    for (const QString &event : f->status.events)
        QVERIFY2(!event.contains(QLatin1String("hunter2")), qPrintable(event));
    const TestConnectionResult result = testConnection(Global::ProfileSettings, SessionOptions{MailFixture::kTestLimitMs});
    QVERIFY(!result.ok);
    QVERIFY2(result.text.startsWith(QStringLiteral("Connected to 127.0.0.1:")) && !result.text.contains(QLatin1String("hunter2")),
             qPrintable(result.text));
}

QTEST_GUILESS_MAIN(TestPop3Security)
#include "tst_pop3security.moc"
