// The secured login against a scripted server: STARTTLS that cannot happen
// ends before the user name is sent, refused logins are explained by their
// response codes, SASL PLAIN stands in for a refused USER, and no password
// reaches a box or a text.
#include "ConnectionTester.h"
#include "LoginReplies.h"
#include "MailTestFixture.h"
#include "WindowWords.h"

#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslKey>
#include <QTemporaryDir>
#include <QTest>


namespace {
const QString kFailed = QStringLiteral("Connection Failed");
const QString kInvalid =
    QStringLiteral("Invalid Email UserID or Password\r\nCorrect them with the Setting button beside the profile box.");

} // namespace

class TestPop3Security : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_certificateDir.isValid());
        QString error;
        QVERIFY2(testsupport::makeTestCertificate(m_certificateDir.path(), &m_certificate, &m_key, &error),
                 qPrintable(error));
    }
    void init()
    {
        f = std::make_unique<MailFixture>();
        // Qt's own complaints reach a timer's mail: none may be provoked.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("QSslSocket|handshake")));
    }
    void cleanup() { f.reset(); }

    void startTlsFailsClosed_data();
    void startTlsFailsClosed();
    void loginRefusalTexts_data();
    void loginRefusalTexts();
    void saslPlainFallback();
    void saslPlainAfterPipelinedLogin();
    void passwordNeverShown();
    void testWithoutPassword_data();
    void testWithoutPassword();
    void greetings_data();
    void greetings();
    void implicitTlsAgainstPlainServer();
    void nonAsciiCredentials();
    void unknownSecurityValue();
    void userAndPassTogether_data();
    void userAndPassTogether();

private:
    std::unique_ptr<MailFixture> f;
    QTemporaryDir m_certificateDir;
    QByteArray m_certificate;
    QByteArray m_key;
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
    f->settings.EmailSecurity = QStringLiteral("STARTTLS");
    f->server.greetOnly().capa(capabilities);
    if (!stlsReply.isEmpty())
        f->server.expect("STLS", stlsReply);
    f->fetch();
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
    QTest::newRow("IN-USE") << "-ERR [IN-USE] Mailbox locked by another session\r\n"
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
    QCOMPARE(WindowWords::text(refusal.text, refusal.reason), text);
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

void TestPop3Security::saslPlainAfterPipelinedLogin()
{
    // Inside TLS USER, PASS and the listing go out together; when USER is
    // refused, the listing's refusals are not taken for the mailbox's.
    const QSslCertificate certificate(m_certificate);
    QVERIFY(f->server.listenTls(certificate, QSslKey(m_key, QSsl::Rsa)));
    f->settings.EmailPort = QString::number(f->server.port());
    f->settings.EmailSecurity = QStringLiteral("SSL/TLS");
    f->settings.TrustedCertificate = QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex());
    f->server.greet("+OK ready", {"PIPELINING", "SASL PLAIN", "UIDL"})
        .expect("USER user", "-ERR USER is not allowed here\r\n")
        .expect("PASS secret", "-ERR log in first\r\n")
        .expect("STAT", "-ERR log in first\r\n")
        .expect("UIDL", "-ERR log in first\r\n")
        .expect("LIST", "-ERR log in first\r\n")
        .expect("AUTH PLAIN AHVzZXIAc2VjcmV0", "+OK welcome\r\n")
        .stat(1)
        .uidl({"u1"})
        .listAll({10})
        .top(1, "From: a@x.example\r\n")
        .quit();
    f->fetch();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->inbox.count(), 1);
}

void TestPop3Security::passwordNeverShown()
{
    // The refusal echoes the password: not into the box, the status or the tester's text.
    f->settings.EmailPassword = QStringLiteral("hunter2-very-secret");
    for (int run = 0; run < 2; ++run)
        f->server.greet()
            .expect("USER user", "+OK\r\n")
            .expect("PASS hunter2-very-secret", "-ERR [SYS/PERM] PASS hunter2-very-secret rejected\r\n");
    f->fetch();
    QCOMPARE(f->boxes.shown().size(), 1);
    QVERIFY(!f->boxes.shown().constFirst().text.contains(QLatin1String("hunter2")));
    for (const QString &event : f->status.events)
        QVERIFY2(!event.contains(QLatin1String("hunter2")), qPrintable(event));
    const TestConnectionResult result = testConnection(f->settings, SessionOptions{});
    QVERIFY(!result.ok);
    QVERIFY2(result.text.startsWith(QStringLiteral("Connected to 127.0.0.1:"))
                 && !result.text.contains(QLatin1String("hunter2")),
             qPrintable(result.text));
}

void TestPop3Security::testWithoutPassword_data()
{
    // The keyring's reason when it kept the password; else only that none is there.
    QTest::addColumn<QString>("problem");
    QTest::addColumn<QString>("text");
    const QString locked = QStringLiteral("The email password of profile Home could not be read from the desktop "
                                          "keyring.\r\nThe keyring said: The desktop keyring is locked.");
    QTest::newRow("keyring locked") << locked
                                    << QStringLiteral(
                                           "The email password of profile Home could not be read from the "
                                           "desktop keyring. The keyring said: The desktop keyring is locked. "
                                           "The login was not tried: enter the password.");
    QTest::newRow("none typed") << QString() << QStringLiteral("No password is entered, so the login was not tried.");
}

// An empty PASS only costs a failed login at the server: never sent.
void TestPop3Security::testWithoutPassword()
{
    QFETCH(QString, problem);
    QFETCH(QString, text);
    f->settings.EmailPassword.clear();
    f->settings.SecretProblem = problem;
    const TestConnectionResult result = testConnection(f->settings, SessionOptions{});
    QVERIFY(!result.ok);
    QCOMPARE(result.text, text);
    QCOMPARE(f->server.connections(), 0);
}

void TestPop3Security::greetings_data()
{
    // What a server that is not (or not yet) talking POP3 gets: a box that
    // points at the settings, and never the user name or password.
    QTest::addColumn<QByteArray>("greeting");
    QTest::addColumn<QString>("box");
    const QString where = QStringLiteral("The server 127.0.0.1 (port %1) ");
    const QString check =
        QStringLiteral("\r\nCheck the server name, the port and the connection security in the settings.");
    QTest::newRow("-ERR: the server's words")
        << QByteArray("-ERR [SYS/TEMP] too busy, try later\r\n")
        << "The server 127.0.0.1 refused the session.\r\nThe server said: too busy, try later";
    QTest::newRow("junk") << QByteArray("HTTP/1.1 400 Bad Request\r\n\r\n")
                          << where + "did not answer as a POP3 server." + check;
    QTest::newRow("bare LF lines") << QByteArray("+OK hello\n+OK again\n")
                                   << where + "did not answer as a POP3 server." + check;
    QTest::newRow("nothing") << QByteArray()
                             << where
            + "accepted the connection but sent no POP3 greeting in 0.4 seconds.\r\n"
              "If this port expects TLS from the start (usually port 995), choose SSL/TLS "
              "as Connection Security."
            + check;
}

void TestPop3Security::greetings()
{
    QFETCH(QByteArray, greeting);
    QFETCH(QString, box);
    f->server.greetRaw(greeting);
    f->boxes.expect(box.contains(QLatin1String("%1")) ? box.arg(f->server.port()) : box, kFailed,
                    MessageBox::Icon::Critical);
    f->fetch(MailFixture::kTestLimitMs);
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->server.commands(), QList<QByteArray>());
}

void TestPop3Security::implicitTlsAgainstPlainServer()
{
    // SSL/TLS chosen for a port that talks plain POP3: the box names the
    // other choice instead of a TLS library's words.
    f->settings.EmailSecurity = QStringLiteral("SSL/TLS");
    f->server.greetOnly();
    f->fetch();
    QCOMPARE(f->boxes.shown().size(), 1);
    const QString text = f->boxes.shown().constFirst().text;
    QVERIFY2(text.contains(QStringLiteral("(port %1) answers in plain text, not SSL/TLS.\r\nChoose STARTTLS")
                               .arg(f->server.port())),
             qPrintable(text));
    for (const QByteArray &command : f->server.commands())
        QVERIFY2(!command.contains("USER") && !command.contains("PASS"), command);
}

void TestPop3Security::nonAsciiCredentials()
{
    // UTF-8 on the wire, as AUTH PLAIN sends them.
    f->settings.EmailUserid = QStringLiteral("j\u00fcrgen");
    f->settings.EmailPassword = QStringLiteral("p\u00e4ssw\u00f6rd\u20ac");
    f->server.greet()
        .expect("USER j\xc3\xbcrgen", "+OK\r\n")
        .expect("PASS p\xc3\xa4ssw\xc3\xb6rd\xe2\x82\xac", "+OK\r\n")
        .stat(0)
        .quit();
    f->fetch();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
}

void TestPop3Security::unknownSecurityValue()
{
    // A hand-edited value is refused before anything is sent, never read as "None".
    f->settings.EmailSecurity = QStringLiteral("TLS please");
    f->boxes.expect(QStringLiteral("The connection security \"TLS please\" is not known, so nothing was sent.\r\n"
                                   "Choose None, STARTTLS or SSL/TLS in the settings."),
                    kFailed, MessageBox::Icon::Critical);
    f->fetch();
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->server.connections(), 0);
}

void TestPop3Security::userAndPassTogether_data()
{
    // To a server offering PIPELINING, PASS goes out with USER inside TLS,
    // and in the clear only when CAPA lists USER (plain-text login allowed
    // there); a refused USER still ends the login on PASS's answer.
    QTest::addColumn<bool>("tls");
    QTest::addColumn<QList<QByteArray>>("capabilities");
    QTest::addColumn<QByteArray>("userReply");
    QTest::addColumn<QByteArray>("passReply");
    QTest::addColumn<bool>("loggedIn");
    QTest::addColumn<bool>("together");
    const QList<QByteArray> plain{"PIPELINING", "UIDL"};
    const QList<QByteArray> withUser{"PIPELINING", "UIDL", "USER"};
    QTest::newRow("TLS: both accepted") << true << plain << QByteArray("+OK\r\n") << QByteArray("+OK in\r\n") << true
                                        << true;
    QTest::newRow("TLS: USER refused") << true << plain << QByteArray("-ERR who?\r\n") << QByteArray("-ERR no\r\n")
                                       << false << true;
    QTest::newRow("TLS: PASS refused") << true << plain << QByteArray("+OK\r\n") << QByteArray("-ERR [AUTH] no\r\n")
                                       << false << true;
    QTest::newRow("plain: PASS waits for USER")
        << false << plain << QByteArray("+OK\r\n") << QByteArray("+OK in\r\n") << true << false;
    QTest::newRow("plain, USER listed: together")
        << false << withUser << QByteArray("+OK\r\n") << QByteArray("+OK in\r\n") << true << true;
    QTest::newRow("plain, USER listed, PASS refused")
        << false << withUser << QByteArray("+OK\r\n") << QByteArray("-ERR [AUTH] no\r\n") << false << true;
}

void TestPop3Security::userAndPassTogether()
{
    QFETCH(bool, tls);
    QFETCH(QList<QByteArray>, capabilities);
    QFETCH(QByteArray, userReply);
    QFETCH(QByteArray, passReply);
    QFETCH(bool, loggedIn);
    QFETCH(bool, together);
    if (tls) {
        const QSslCertificate certificate(m_certificate);
        QVERIFY(f->server.listenTls(certificate, QSslKey(m_key, QSsl::Rsa)));
        f->settings.EmailPort = QString::number(f->server.port());
        f->settings.EmailSecurity = QStringLiteral("SSL/TLS");
        f->settings.TrustedCertificate = QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex());
    }
    f->server.greet("+OK ready", capabilities).expect("USER user", userReply).expect("PASS secret", passReply);
    if (loggedIn)
        f->server.expect("STAT", "+OK 0 0\r\n").expect("UIDL", "+OK\r\n.\r\n").expect("LIST", "+OK\r\n.\r\n").quit();
    else if (together) // the listing went out behind PASS, and is refused with it
        f->server.expect("STAT", "-ERR log in first\r\n")
            .expect("UIDL", "-ERR log in first\r\n")
            .expect("LIST", "-ERR log in first\r\n");
    if (!loggedIn)
        f->boxes.expect(kInvalid, kFailed, MessageBox::Icon::Critical);
    f->fetch();
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->server.unansweredBefore("PASS secret") > 0, together);
    // The listing goes out behind PASS: no round trip of its own.
    if (loggedIn)
        QVERIFY(f->server.unansweredBefore("STAT") > 0);
}

QTEST_GUILESS_MAIN(TestPop3Security)
#include "tst_pop3security.moc"
