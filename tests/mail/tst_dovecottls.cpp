// The secured session against a real POP3 server (a private Dovecot with a
// self-signed certificate made for the run): TLS from the first byte and
// STARTTLS, certificates verified, refused, trusted when asked and trusted
// by fingerprint, a certificate for another name, a refused password, and a
// whole fetch and deletion inside TLS.
#include "ConnectionTester.h"
#include "DovecotServer.h"
#include "MailTestFixture.h"

#include <QSslConfiguration>
#include <QTest>

using testsupport::DovecotServer;

namespace {

const QString kUntrusted = QStringLiteral("The server's certificate is not trusted, so the connection was closed "
                                          "before the password was sent.\r\n");

// Counts prompts, keeps what the last one was shown, answers as told.
struct PromptRecorder {
    CertificateDecision answer = CertificateDecision::Refuse;
    int calls = 0;
    QString host;
    QList<QSslCertificate> chain;
    QList<QSslError::SslError> errors;
    QStringList trusted;

    SessionOptions options()
    {
        SessionOptions o;
        o.inactivityLimitMs = 10000;
        o.certificatePrompt = [this](const QString &h, const QList<QSslCertificate> &c, const QList<QSslError> &e) {
            ++calls;
            host = h;
            chain = c;
            errors.clear();
            for (const QSslError &error : e)
                errors << error.error();
            return answer;
        };
        o.certificateTrusted = [this](const QString &fingerprint) { trusted << fingerprint; };
        return o;
    }
};

QStringList loginLines(const QString &log)
{
    QStringList lines;
    for (const QString &line : log.split(QLatin1Char('\n')))
        if (line.contains(QLatin1String("Login: user=<")))
            lines << line;
    return lines;
}

QStringList boxTexts(const testsupport::MessageBoxRecorder &boxes)
{
    QStringList texts;
    for (const MessageBox::Request &r : boxes.shown())
        texts << r.text;
    return texts;
}

} // namespace

class TestDovecotTls : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void implicitTlsPinnedByFingerprint();
    void startTlsVerifiedByTrustStore();
    void untrustedRefusedThenTrustedOnce();
    void certificateForAnotherName();
    void refusedPasswordInsideTls();
    void fetchAndDeleteInsideTls_data();
    void fetchAndDeleteInsideTls();

private:
    void useServer(ConnectionSecurity security, const QString &host = QStringLiteral("127.0.0.1"));
    void trustAsAuthority(const QByteArray &pem);
    QString fingerprint() const;
    // Waits until Dovecot has logged the end of one more connection.
    void awaitDisconnects(int count);

    DovecotServer m_server;
    std::unique_ptr<MailFixture> f;
    QSslConfiguration m_defaultSsl;
};

void TestDovecotTls::initTestCase()
{
    QString why;
    if (!DovecotServer::available(&why))
        QSKIP(qPrintable(why));
    if (!QSslSocket::supportsSsl())
        QFAIL("Qt has no TLS backend");
    QVERIFY(m_server.addMessage("From: Ann <ann@example.org>\r\nSubject: one\r\n\r\nbody\r\n"));
    QVERIFY(m_server.addMessage("From: Offers <deals@spam.example>\r\nSubject: two\r\n\r\nbody\r\n"));
    QString error;
    QVERIFY2(m_server.start(&error), qPrintable(error));
    m_defaultSsl = QSslConfiguration::defaultConfiguration();
}

void TestDovecotTls::init()
{
    f = std::make_unique<MailFixture>();
}

void TestDovecotTls::cleanup()
{
    f.reset();
    QSslConfiguration::setDefaultConfiguration(m_defaultSsl);
}

void TestDovecotTls::useServer(ConnectionSecurity security, const QString &host)
{
    Global::ProfileSettingsRecord &s = Global::ProfileSettings;
    s.EmailHost = host;
    s.EmailUserid = m_server.user();
    s.EmailPassword = m_server.password();
    s.EmailSecurity = security == ConnectionSecurity::StartTls ? QStringLiteral("STARTTLS") : QStringLiteral("SSL/TLS");
    s.EmailPort = QString::number(security == ConnectionSecurity::StartTls ? m_server.plainPort() : m_server.tlsPort());
}

void TestDovecotTls::trustAsAuthority(const QByteArray &pem)
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.addCaCertificates(QSslCertificate::fromData(pem));
    QSslConfiguration::setDefaultConfiguration(config);
}

QString TestDovecotTls::fingerprint() const
{
    return QString::fromLatin1(
        QSslCertificate(m_server.certificatePem()).digest(QCryptographicHash::Sha256).toHex());
}

void TestDovecotTls::awaitDisconnects(int count)
{
    QTRY_VERIFY_WITH_TIMEOUT(m_server.logText().count(QStringLiteral("Disconnected")) >= count, 10000);
}

void TestDovecotTls::implicitTlsPinnedByFingerprint()
{
    useServer(ConnectionSecurity::Implicit, QStringLiteral("localhost"));
    Global::ProfileSettings.TrustedCertificate = fingerprint().toUpper(); // case is not significant
    PromptRecorder prompt;

    const TestConnectionResult result = testConnection(Global::ProfileSettings, prompt.options());
    QVERIFY2(result.ok, qPrintable(result.text));
    QVERIFY2(result.text.startsWith(QStringLiteral("Connected to localhost:%1 with TLS 1.").arg(m_server.tlsPort())),
             qPrintable(result.text));
    QVERIFY2(result.text.contains(QLatin1String("certificate trusted for this profile; logged in; 2 messages waiting.")),
             qPrintable(result.text));
    QVERIFY(!result.text.contains(m_server.password()));
    QCOMPARE(prompt.calls, 0);
    QVERIFY(f->boxes.shown().isEmpty());
}

void TestDovecotTls::startTlsVerifiedByTrustStore()
{
    trustAsAuthority(m_server.certificatePem());
    useServer(ConnectionSecurity::StartTls);
    PromptRecorder prompt;

    const TestConnectionResult result = testConnection(Global::ProfileSettings, prompt.options());
    QVERIFY2(result.ok, qPrintable(result.text));
    QVERIFY2(result.text.contains(QLatin1String(" with TLS 1.")), qPrintable(result.text));
    QVERIFY2(result.text.contains(QLatin1String("certificate verified; logged in")), qPrintable(result.text));
    QCOMPARE(prompt.calls, 0);
    // What the server offered in the clear is forgotten: inside TLS it no
    // longer offers STLS.
    {
        RecordingStatus quiet;
        Global::CancelFlag cancel;
        Pop3Session session(quiet, Global::ProfileSettings, cancel, prompt.options());
        QCOMPARE(session.ConnectServer(), Pop3Session::kConnected);
        QVERIFY(session.isEncrypted());
        QVERIFY(session.hasCapability(QStringLiteral("USER")));
        QVERIFY(!session.hasCapability(QStringLiteral("STLS")));
        QCOMPARE(session.LoginServer(), qint16(1));
        QCOMPARE(session.QuitServer(), Pop3Session::Outcome::Reply);
        session.CloseServer();
    }

    // Dovecot notes how each login came: every one of them inside TLS.
    QTRY_VERIFY_WITH_TIMEOUT(loginLines(m_server.logText()).size() >= 2, 10000);
    for (const QString &line : loginLines(m_server.logText()))
        QVERIFY2(line.contains(QLatin1String(", TLS")), qPrintable(line));
}

void TestDovecotTls::untrustedRefusedThenTrustedOnce()
{
    for (const ConnectionSecurity security : {ConnectionSecurity::Implicit, ConnectionSecurity::StartTls}) {
        const int logins = m_server.logText().count(QStringLiteral("user=<trelvik>"));
        const int disconnects = m_server.logText().count(QStringLiteral("Disconnected"));
        useServer(security);
        Global::ProfileSettings.TrustedCertificate.clear();
        PromptRecorder prompt;

        // Refused: the run ends like a failed connect and nothing of the
        // credentials reaches the server.
        f->fetch();
        QCOMPARE(prompt.calls, 0); // no prompt given: refused without asking
        prompt.answer = CertificateDecision::Refuse;
        FetchHeader(f->status, f->inbox, f->recycle, f->lookup(), prompt.options());
        QCOMPARE(prompt.calls, 1);
        QCOMPARE(prompt.host, QStringLiteral("127.0.0.1"));
        QVERIFY(prompt.errors.contains(QSslError::SelfSignedCertificate));
        QCOMPARE(prompt.chain.value(0), QSslCertificate(m_server.certificatePem()));
        const QStringList texts = boxTexts(f->boxes);
        QCOMPARE(texts.size(), 2);
        for (const QString &text : texts)
            QVERIFY2(text.startsWith(kUntrusted) && text.size() > kUntrusted.size(), qPrintable(text));
        QCOMPARE(f->inbox.count(), 0);
        QCOMPARE(f->status.statusText, QStringLiteral("Disconnected"));
        awaitDisconnects(disconnects + 2);
        QCOMPARE(m_server.logText().count(QStringLiteral("user=<trelvik>")), logins);
        QVERIFY(prompt.trusted.isEmpty());

        // Trusted when asked: the run goes on and the fingerprint is handed
        // out to be kept.
        f->boxes.reset();
        prompt.answer = CertificateDecision::TrustAlways;
        FetchHeader(f->status, f->inbox, f->recycle, f->lookup(), prompt.options());
        VERIFY_BOXES(f->boxes);
        QCOMPARE(prompt.calls, 2);
        QCOMPARE(prompt.trusted, QStringList{fingerprint()});
        // The log does show a login when there was one.
        QTRY_VERIFY_WITH_TIMEOUT(m_server.logText().count(QStringLiteral("user=<trelvik>")) > logins, 10000);
        QCOMPARE(f->inbox.count() + f->recycle.count(), m_server.messageCount());

        // Kept: the next run connects without asking.
        Global::ProfileSettings.TrustedCertificate = prompt.trusted.constFirst();
        f->inbox.clear();
        f->recycle.clear();
        FetchHeader(f->status, f->inbox, f->recycle, f->lookup(), prompt.options());
        VERIFY_BOXES(f->boxes);
        QCOMPARE(prompt.calls, 2);
        QCOMPARE(f->inbox.count() + f->recycle.count(), m_server.messageCount());
        f->inbox.clear();
        f->recycle.clear();
        f->boxes.reset();
    }
}

void TestDovecotTls::certificateForAnotherName()
{
    DovecotServer other;
    other.setCertificateNames(QStringLiteral("mail.example.invalid"), {QStringLiteral("DNS:mail.example.invalid")});
    QString error;
    QVERIFY2(other.start(&error), qPrintable(error));
    const QByteArray pem = other.certificatePem();
    // Its certificate is one the system trusts, but for another name.
    trustAsAuthority(pem);

    Global::ProfileSettingsRecord settings;
    settings.EmailHost = QStringLiteral("127.0.0.1");
    settings.EmailPort = QString::number(other.tlsPort());
    settings.EmailSecurity = QStringLiteral("SSL/TLS");
    settings.EmailUserid = other.user();
    settings.EmailPassword = other.password();
    PromptRecorder prompt;

    TestConnectionResult result = testConnection(settings, prompt.options());
    QVERIFY2(!result.ok, qPrintable(result.text));
    QCOMPARE(prompt.calls, 1);
    QCOMPARE(prompt.errors, QList<QSslError::SslError>{QSslError::HostNameMismatch});
    QVERIFY2(result.text.startsWith(QStringLiteral("Could not connect to 127.0.0.1:%1: The server's certificate is not trusted")
                                        .arg(other.tlsPort())),
             qPrintable(result.text));
    QVERIFY(f->boxes.shown().isEmpty()); // the tester shows none of its own

    // The trusted fingerprint of another certificate does not help.
    settings.TrustedCertificate = fingerprint();
    result = testConnection(settings, prompt.options());
    QVERIFY(!result.ok);
    QCOMPARE(prompt.calls, 2);

    // Its own fingerprint does, for exactly its own errors.
    settings.TrustedCertificate =
        QString::fromLatin1(QSslCertificate(pem).digest(QCryptographicHash::Sha256).toHex());
    result = testConnection(settings, prompt.options());
    QVERIFY2(result.ok, qPrintable(result.text));
    QCOMPARE(prompt.calls, 2);
    QTRY_VERIFY_WITH_TIMEOUT(other.logText().contains(QLatin1String("Login: user=<trelvik>")), 10000);
}

void TestDovecotTls::refusedPasswordInsideTls()
{
    useServer(ConnectionSecurity::StartTls);
    Global::ProfileSettings.TrustedCertificate = fingerprint();
    Global::ProfileSettings.EmailPassword = QStringLiteral("wrong horse battery");
    f->boxes.expect(QStringLiteral("Invalid Email UserID or Password"), QStringLiteral("Connection Failed"),
                    MessageBox::Icon::Critical);
    f->fetch(10000);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->inbox.count(), 0);
}

void TestDovecotTls::fetchAndDeleteInsideTls_data()
{
    QTest::addColumn<ConnectionSecurity>("security");
    QTest::newRow("SSL/TLS") << ConnectionSecurity::Implicit;
    QTest::newRow("STARTTLS") << ConnectionSecurity::StartTls;
}

void TestDovecotTls::fetchAndDeleteInsideTls()
{
    QFETCH(ConnectionSecurity, security);
    QVERIFY(m_server.addMessage("From: Offers <more@spam.example>\r\nSubject: again\r\n\r\nbody\r\n"));
    const int before = m_server.messageCount();
    useServer(security);
    Global::ProfileSettings.TrustedCertificate = fingerprint();
    f->filter << QStringLiteral("*@spam.example");

    f->fetch(10000);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->inbox.count() + f->recycle.count(), before);
    QVERIFY(f->recycle.count() >= 1);
    const int deleting = f->recycle.count();

    f->empty(10000);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->recycle.count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_server.messageCount(), before - deleting, 5000);
}

QTEST_GUILESS_MAIN(TestDovecotTls)
#include "tst_dovecottls.moc"
