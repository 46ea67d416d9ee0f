// The secured session against a real POP3 server (a private Dovecot whose
// self-signed certificate names only "localhost"): TLS from the first byte
// and STARTTLS, a certificate refused, trusted when asked and then by its
// fingerprint, refused for another name (127.0.0.1), a refused password,
// and fetch and deletion inside TLS.
#include "ConnectionTester.h"
#include "DovecotServer.h"
#include "MailTestFixture.h"

#include <QSslCertificate>
#include <QTest>

using testsupport::DovecotServer;

namespace {
const QString kUntrusted = QStringLiteral("The server's certificate is not trusted, so the connection was closed "
                                          "before the password was sent.\r\n");

// Counts prompts, keeps what the last one was shown, answers as told.
struct PromptRecorder {
    CertificateDecision answer = CertificateDecision::Refuse;
    int calls = 0;
    QList<QSslError::SslError> errors;
    QStringList trusted;

    SessionOptions options()
    {
        SessionOptions o;
        o.inactivityLimitMs = 10000;
        o.certificatePrompt = [this](const QString &, const QList<QSslCertificate> &, const QList<QSslError> &e) {
            ++calls;
            errors.clear();
            for (const QSslError &error : e)
                errors << error.error();
            return answer;
        };
        o.certificateTrusted = [this](const QString &fingerprint) { trusted << fingerprint; };
        return o;
    }
};
} // namespace

class TestDovecotTls : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init() { f = std::make_unique<MailFixture>(); }
    void cleanup() { f.reset(); }

    void untrustedRefusedThenTrusted_data();
    void untrustedRefusedThenTrusted();
    void anotherHostName();
    void refusedPasswordInsideTls();

private:
    void useServer(bool startTls, const QString &host)
    {
        ProfileSettingsRecord &s = f->settings;
        s.EmailHost = host;
        s.EmailUserid = m_server.user();
        s.EmailPassword = m_server.password();
        s.EmailSecurity = startTls ? QStringLiteral("STARTTLS") : QStringLiteral("SSL/TLS");
        s.EmailPort = QString::number(startTls ? m_server.plainPort() : m_server.tlsPort());
    }
    QString fingerprint() const { return m_server.certificateFingerprint(); }

    DovecotServer m_server;
    std::unique_ptr<MailFixture> f;
};

void TestDovecotTls::initTestCase()
{
    QString why;
    if (!DovecotServer::available(&why))
        QSKIP(qPrintable(why));
    QVERIFY2(QSslSocket::supportsSsl(), "Qt has no TLS backend");
    m_server.setCertificateNames(QStringLiteral("localhost"), {QStringLiteral("DNS:localhost")});
    QVERIFY(m_server.addMessage("From: Ann <ann@example.org>\r\nSubject: one\r\n\r\nbody\r\n"));
    QVERIFY2(m_server.start(&why), qPrintable(why));
}

void TestDovecotTls::untrustedRefusedThenTrusted_data()
{
    QTest::addColumn<bool>("startTls");
    QTest::newRow("SSL/TLS") << false;
    QTest::newRow("STARTTLS") << true;
}

void TestDovecotTls::untrustedRefusedThenTrusted()
{
    QFETCH(bool, startTls);
    QVERIFY(m_server.addMessage("From: Offers <deals@spam.example>\r\nSubject: two\r\n\r\nbody\r\n"));
    const int messages = m_server.messageCount();
    const auto logCount = [this](const QString &text) { return int(m_server.logText().count(text)); };
    const int logins = logCount(QStringLiteral("user=<trelvik>"));
    const int disconnects = logCount(QStringLiteral("Disconnected"));
    useServer(startTls, QStringLiteral("localhost"));
    f->filter << QStringLiteral("*@spam.example");
    PromptRecorder prompt;

    // Refused without a prompt, and by the prompt: the run ends like a failed
    // connect and nothing of the credentials reaches the server.
    f->fetch(10000);
    QCOMPARE(prompt.calls, 0);
    MailFixture::shown(FetchHeader(f->status, f->inbox, f->recycle, f->classifier(), f->settings,
                                   Global::CancelRequested(), prompt.options()));
    QCOMPARE(prompt.calls, 1);
    QCOMPARE(prompt.errors, QList<QSslError::SslError>{QSslError::SelfSignedCertificate});
    QCOMPARE(f->boxes.shown().size(), 2);
    for (const MessageBox::Request &box : f->boxes.shown())
        QVERIFY2(box.text.startsWith(kUntrusted) && box.text.size() > kUntrusted.size(), qPrintable(box.text));
    QCOMPARE(f->inbox.count(), 0);
    QVERIFY(prompt.trusted.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(logCount(QStringLiteral("Disconnected")) >= disconnects + 2, 10000);
    QCOMPARE(logCount(QStringLiteral("user=<trelvik>")), logins);

    // Trusted when asked: the fetch goes on and the fingerprint is handed out.
    f->boxes.reset();
    prompt.answer = CertificateDecision::TrustAlways;
    MailFixture::shown(FetchHeader(f->status, f->inbox, f->recycle, f->classifier(), f->settings,
                                   Global::CancelRequested(), prompt.options()));
    VERIFY_BOXES(f->boxes);
    QCOMPARE(prompt.calls, 2);
    QCOMPARE(prompt.trusted, QStringList{fingerprint()});
    QCOMPARE(f->inbox.count() + f->recycle.count(), messages);
    const int deleting = f->recycle.count();
    QVERIFY(deleting >= 1);

    // Kept (its case does not matter): the deletion connects without asking.
    f->settings.TrustedCertificate = fingerprint().toUpper();
    f->empty(10000);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->recycle.count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_server.messageCount(), messages - deleting, 5000);
    // Dovecot's log process writes a sign-in's line when it gets to it: the
    // fetch's and the deletion's are waited for here, or a busy machine
    // could hand them to the next row's count.
    QTRY_COMPARE_WITH_TIMEOUT(logCount(QStringLiteral("user=<trelvik>")), logins + 2, 10000);
}

void TestDovecotTls::anotherHostName()
{
    // The certificate names "localhost"; reached as 127.0.0.1 it names another server.
    useServer(false, QStringLiteral("127.0.0.1"));
    PromptRecorder prompt;
    const TestConnectionResult result = testConnection(f->settings, prompt.options());
    QCOMPARE(prompt.calls, 1);
    QVERIFY(prompt.errors.contains(QSslError::HostNameMismatch));
    QVERIFY2(!result.ok
                 && result.text.startsWith(QStringLiteral("Could not connect to 127.0.0.1:%1: The server's "
                                                          "certificate is not trusted")
                                               .arg(m_server.tlsPort())),
             qPrintable(result.text));
}

void TestDovecotTls::refusedPasswordInsideTls()
{
    useServer(true, QStringLiteral("localhost"));
    f->settings.TrustedCertificate = fingerprint();
    f->settings.EmailPassword = QStringLiteral("wrong horse battery");
    f->boxes
        .expect(QStringLiteral(
                    "Invalid Email UserID or Password\r\nCorrect them with the Setting button beside the profile box."),
                QStringLiteral("Connection Failed"), MessageBox::Icon::Critical);
    f->fetch(10000);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->inbox.count(), 0);
}

QTEST_GUILESS_MAIN(TestDovecotTls)
#include "tst_dovecottls.moc"
