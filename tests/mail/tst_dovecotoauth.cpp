// OAuth2 end to end against a real POP3 server: a private Dovecot whose
// oauth2 passdb asks a small authorization server of the test whether a
// token is active. The test signs in as a browser would (following the
// consent address to the loopback redirect), fetches and empties the
// Recycle Bin with XOAUTH2, has an expired token renewed and accepted, and
// a revoked sign-in ask for a new one without trying again. A sign-in
// ends on Cancel, and an answer with a foreign state is turned away.
#include "AuthorizationFlow.h"
#include "DovecotServer.h"
#include "FakeAuthServer.h"
#include "MailTestFixture.h"
#include "OAuthTokens.h"

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>

using testsupport::DovecotServer;
using testsupport::FakeAuthServer;

class TestDovecotOAuth : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup() { f.reset(); }

    void signInFetchAndDelete();
    void expiredTokenRenewed_data();
    void expiredTokenRenewed();
    void revokedSignInAsksAgain();
    void signInCancelled();

private:
    SessionOptions options()
    {
        SessionOptions o;
        o.inactivityLimitMs = 15000;
        o.accessToken = profileAccessTokens(f->settings);
        return o;
    }
    OAuthEndpoints endpoints() const
    {
        return {m_auth.url(QStringLiteral("/authorize")),
                m_auth.url(QStringLiteral("/token")),
                m_auth.clientId(),
                {},
                QStringLiteral("mail")};
    }
    // Opens the consent address as a browser would: the request, and the
    // redirect to the program's loopback listener.
    bool browse(const QUrl &url)
    {
        QNetworkReply *reply = m_browser.get(QNetworkRequest(url));
        connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
        ++m_pagesOpened;
        return true;
    }

    FakeAuthServer m_auth{QStringLiteral("trelvik")};
    DovecotServer m_server;
    QNetworkAccessManager m_browser;
    int m_pagesOpened = 0;
    std::unique_ptr<MailFixture> f;
};

void TestDovecotOAuth::initTestCase()
{
    QString why;
    if (!DovecotServer::available(&why))
        QSKIP(qPrintable(why));
    QVERIFY(m_auth.listen());
    m_server.setOAuth2Introspection(m_auth.url(QStringLiteral("/introspect")));
    QVERIFY2(m_server.start(&why), qPrintable(why));
}

void TestDovecotOAuth::init()
{
    f = std::make_unique<MailFixture>();
    ProfileSettingsRecord &s = f->settings;
    s.EmailHost = QStringLiteral("127.0.0.1");
    s.EmailPort = QString::number(m_server.plainPort());
    s.EmailUserid = m_server.user();
    s.EmailPassword.clear();
    m_auth.signInHere(s);

    // Each case starts signed in, through the browser.
    AuthorizationFlow flow(endpoints());
    flow.setBrowser([this](const QUrl &url) { return browse(url); });
    const TokenResponse signedIn = flow.run();
    QVERIFY2(signedIn.status == TokenResponse::Status::Ok, qPrintable(signedIn.error + m_auth.problems().join(u',')));
    QVERIFY(!signedIn.refreshToken.isEmpty());
    s.OAuthRefreshToken = signedIn.refreshToken;
    s.OAuthAccessToken = signedIn.accessToken;
    s.OAuthAccessExpiry = signedIn.expiresAt;
}

void TestDovecotOAuth::signInFetchAndDelete()
{
    for (const QByteArray subject : {"one", "two"})
        QVERIFY(m_server.addMessage("From: a@example.org\r\nSubject: " + subject + "\r\n\r\nbody\r\n"));
    f->filter.insert(QStringLiteral("a@example.org"));
    const int refreshes = m_auth.refreshGrants();
    MailFixture::shown(FetchHeader(f->status, f->inbox, f->recycle, f->classifier(), f->settings,
                                   Global::CancelRequested(), options()));
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->recycle.count(), 2);
    QCOMPARE(m_auth.refreshGrants(), refreshes); // the fresh token served as it was
    MailFixture::shown(EmptyRecycleBin(f->status, f->recycle, f->settings, Global::CancelRequested(), options()));
    VERIFY_BOXES(f->boxes);
    QTRY_COMPARE_WITH_TIMEOUT(m_server.messageCount(), 0, 10000);
    QVERIFY(m_auth.problems().isEmpty());
    for (const QString &event : f->status.events)
        QVERIFY2(!event.contains(QLatin1String("fake-access")), qPrintable(event));
}

void TestDovecotOAuth::expiredTokenRenewed_data()
{
    // Expired by the clock: renewed before the login. Withdrawn at the
    // server while the clock says it is good: refused, renewed, accepted.
    QTest::addColumn<bool>("knownExpired");
    QTest::newRow("expired by the clock") << true;
    QTest::newRow("refused by the server") << false;
}

void TestDovecotOAuth::expiredTokenRenewed()
{
    QFETCH(bool, knownExpired);
    m_auth.expireAccessTokens();
    if (knownExpired)
        f->settings.OAuthAccessExpiry = QDateTime::currentSecsSinceEpoch() - 5;
    const QString old = f->settings.OAuthAccessToken;
    const int refreshes = m_auth.refreshGrants();
    MailFixture::shown(FetchHeader(f->status, f->inbox, f->recycle, f->classifier(), f->settings,
                                   Global::CancelRequested(), options()));
    VERIFY_BOXES(f->boxes);
    QCOMPARE(m_auth.refreshGrants(), refreshes + 1);
    QVERIFY(f->settings.OAuthAccessToken != old);
    QVERIFY(f->status.eventsStartingWith(QStringLiteral("status:Verify")).size() >= 1);
}

void TestDovecotOAuth::revokedSignInAsksAgain()
{
    m_auth.expireAccessTokens();
    m_auth.revokeRefreshTokens();
    const int introspections = m_auth.introspections();
    f->boxes.expect(QStringLiteral("The sign-in is no longer accepted (it was withdrawn, has expired, or the password "
                                   "was changed).\r\nIt said: Token has been revoked.\r\nSign in again: open the "
                                   "Settings and press \"Sign in...\"."),
                    QStringLiteral("Connection Failed"), MessageBox::Icon::Critical);
    MailFixture::shown(FetchHeader(f->status, f->inbox, f->recycle, f->classifier(), f->settings,
                                   Global::CancelRequested(), options()));
    VERIFY_BOXES(f->boxes);
    // One login, one refused refresh, and no second login.
    QCOMPARE(m_auth.refusedRefreshes(), 1);
    QCOMPARE(m_auth.introspections(), introspections + 1);
    QCOMPARE(f->inbox.count(), 0);
}

void TestDovecotOAuth::signInCancelled()
{
    AuthorizationFlow flow(endpoints());
    flow.setBrowser([](const QUrl &) { return true; }); // the user never answers in the browser
    QSignalSpy finished(&flow, &AuthorizationFlow::finished);
    QVERIFY(flow.start());
    // An answer that does not carry this sign-in's state is turned away
    // and the sign-in goes on.
    QUrl forged(flow.redirectUri());
    forged.setQuery(QStringLiteral("code=stolen&state=other"));
    QNetworkReply *reply = m_browser.get(QNetworkRequest(forged));
    QSignalSpy answered(reply, &QNetworkReply::finished);
    QVERIFY(answered.wait(5000));
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 400);
    reply->deleteLater();
    QVERIFY(flow.isRunning());
    QCOMPARE(finished.size(), 0);
    QTimer::singleShot(0, &flow, &AuthorizationFlow::cancel);
    QVERIFY(finished.wait(5000));
    QCOMPARE(finished.size(), 1);
    const auto result = finished.constFirst().constFirst().value<TokenResponse>();
    QCOMPARE(result.status, TokenResponse::Status::Failed);
    QCOMPARE(result.error, QStringLiteral("The sign-in was cancelled."));
    // The listener is gone: a late answer reaches nobody.
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, QUrl(flow.redirectUri()).port());
    QVERIFY(!late.waitForConnected(2000));
}

QTEST_GUILESS_MAIN(TestDovecotOAuth)
#include "tst_dovecotoauth.moc"
