// The OAuth2 login against a scripted server: XOAUTH2 with and without an
// initial response, OAUTHBEARER where XOAUTH2 is not offered, a refused
// token's error continuation answered (never waited on), one renewal and no
// more, and no token in a box or a status text. A connection test that
// renews the sign-in hands back the refresh token the provider rotated.
#include "AuthorizationFlow.h"
#include "ConnectionTester.h"
#include "FakeAuthServer.h"
#include "MailTestFixture.h"
#include "OAuthTokens.h"
#include "SaslOAuth.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTest>

using Script = QList<QPair<QByteArray, QByteArray>>;

namespace {
const QString kToken = QStringLiteral("ya29.first-token");
const QString kLongToken = QStringLiteral("ya29.") + QString(300, QLatin1Char('L'));
const QString kFresh = QStringLiteral("ya29.fresh-token");
const QByteArray kRefusedChallenge = "+ "
    + QByteArray(R"({"status":"401","schemes":"bearer","scope":"mail"})").toBase64() + "\r\n";

// Script placeholders for the client's responses, which depend on the port.
QByteArray response(const QByteArray &placeholder, const QString &first, int port)
{
    const QString user = QStringLiteral("user");
    if (placeholder == "XO1")
        return xoauth2Response(user, first);
    if (placeholder == "XO2")
        return xoauth2Response(user, kFresh);
    if (placeholder == "OB1")
        return oauthBearerResponse(user, QStringLiteral("127.0.0.1"), port, first);
    if (placeholder == "IR1")
        return "AUTH XOAUTH2 " + xoauth2Response(user, first);
    return placeholder;
}
} // namespace

class TestOAuthLogin : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        f = std::make_unique<MailFixture>();
        f->settings.EmailPassword.clear();
        f->settings.SignInMethod = QStringLiteral("OAuth2");
        f->settings.OAuthClientId = QStringLiteral("client");
        renewals = 0;
    }
    void cleanup() { f.reset(); }

    void responses();
    void conversations_data();
    void conversations();
    void testConnectionKeepsRotatedToken();
    void unreadSignInAdvice_data();
    void unreadSignInAdvice();

private:
    void fetch()
    {
        SessionOptions options{MailFixture::kTestLimitMs};
        options.accessToken = [this](bool renew) {
            if (!renew)
                return AccessToken{AccessToken::State::Ready, first, {}};
            ++renewals;
            return renewed;
        };
        MailFixture::shown(FetchHeader(f->status, f->inbox, f->recycle, f->classifier(), f->settings,
                                       Global::CancelRequested(), options));
    }

    std::unique_ptr<MailFixture> f;
    AccessToken renewed;
    QString first;
    int renewals = 0;
};

void TestOAuthLogin::responses()
{
    QCOMPARE(QByteArray::fromBase64(xoauth2Response(QStringLiteral("me@example.com"), QStringLiteral("tok"))),
             QByteArray("user=me@example.com\x01"
                        "auth=Bearer tok\x01\x01"));
    // The GS2 authorisation identity escapes "," and "=".
    QCOMPARE(QByteArray::fromBase64(oauthBearerResponse(QStringLiteral("a,b=c"), QStringLiteral("pop.example"), 995,
                                                        QStringLiteral("tok"))),
             QByteArray("n,a=a=2Cb=3Dc,\x01host=pop.example\x01port=995\x01"
                        "auth=Bearer tok\x01\x01"));
    QCOMPARE(oauthMechanism({QStringLiteral("USER"), QStringLiteral("SASL PLAIN OAUTHBEARER xoauth2")}),
             OAuthMechanism::XOAuth2);
    QCOMPARE(oauthMechanism({QStringLiteral("SASL OAUTHBEARER")}), OAuthMechanism::OAuthBearer);
    QCOMPARE(oauthMechanism({QStringLiteral("XOAUTH2"), QStringLiteral("SASL PLAIN")}), OAuthMechanism::None);
}

void TestOAuthLogin::conversations_data()
{
    // The script after the greeting (CAPA answered with `capabilities`);
    // steps are command, reply pairs; `renewal` is what a renewal gives.
    QTest::addColumn<QString>("token");
    QTest::addColumn<QList<QByteArray>>("capabilities");
    QTest::addColumn<Script>("script");
    QTest::addColumn<int>("renewState"); // AccessToken::State of the renewal
    QTest::addColumn<int>("expectedRenewals");
    QTest::addColumn<QString>("box"); // empty: logged in, no box
    const QString refusedTwice = QStringLiteral("The server refused the OAuth2 sign-in of user.\r\n"
                                                "The server said: Authentication failed\r\n"
                                                "Check that the user name is the account that signed in, or sign in "
                                                "again in the settings.");
    const int ready = int(AccessToken::State::Ready);
    const int signIn = int(AccessToken::State::SignInNeeded);

    QTest::newRow("initial response where SASL-IR is offered")
        << kToken << QList<QByteArray>{"SASL XOAUTH2", "SASL-IR"} << Script{{"IR1", "+OK hi\r\n"}} << ready << 0
        << QString();
    QTest::newRow("two steps where no initial response is offered")
        << kToken << QList<QByteArray>{"SASL PLAIN XOAUTH2"}
        << Script{{"AUTH XOAUTH2", "+ \r\n"}, {"XO1", "+OK hi\r\n"}} << ready << 0 << QString();
    QTest::newRow("two steps for a response too long for one line")
        << kLongToken << QList<QByteArray>{"SASL XOAUTH2", "SASL-IR"}
        << Script{{"AUTH XOAUTH2", "+\r\n"}, {"XO1", "+OK hi\r\n"}} << ready << 0 << QString();
    QTest::newRow("OAUTHBEARER where XOAUTH2 is not offered")
        << kToken << QList<QByteArray>{"SASL OAUTHBEARER"} << Script{{"AUTH OAUTHBEARER", "+ \r\n"}, {"OB1", "+OK\r\n"}}
        << ready << 0 << QString();
    QTest::newRow("refused token answered, renewed once, accepted")
        << kToken << QList<QByteArray>{"SASL XOAUTH2"}
        << Script{{"AUTH XOAUTH2", "+ \r\n"},
                  {"XO1", kRefusedChallenge},
                  {"", "-ERR [AUTH] Authentication failed\r\n"},
                  {"AUTH XOAUTH2", "+ \r\n"},
                  {"XO2", "+OK hi\r\n"}}
        << ready << 1 << QString();
    QTest::newRow("refused twice: one renewal, then the box")
        << kToken << QList<QByteArray>{"SASL XOAUTH2"}
        << Script{{"AUTH XOAUTH2", "+ \r\n"}, {"XO1", kRefusedChallenge}, {"", "-ERR [AUTH] Authentication failed\r\n"},
                  {"AUTH XOAUTH2", "+ \r\n"}, {"XO2", kRefusedChallenge}, {"", "-ERR [AUTH] Authentication failed\r\n"}}
        << ready << 1 << refusedTwice;
    QTest::newRow("OAUTHBEARER error continuation answered with %x01")
        << kToken << QList<QByteArray>{"SASL OAUTHBEARER"}
        << Script{{"AUTH OAUTHBEARER", "+ \r\n"},
                  {"OB1", kRefusedChallenge},
                  {"AQ==", "-ERR [AUTH] Authentication failed\r\n"}}
        << signIn << 1 << QStringLiteral("Sign in again.");
    QTest::newRow("mailbox in use: no renewal")
        << kToken << QList<QByteArray>{"SASL XOAUTH2"}
        << Script{{"AUTH XOAUTH2", "+ \r\n"}, {"XO1", "-ERR [IN-USE] locked\r\n"}} << ready << 0
        << QStringLiteral("The mailbox is in use by another mail program, so the server refused the login.\r\n"
                          "The server said: locked\r\nPlease try again later.");
    QTest::newRow("no OAuth2 mechanism: nothing sent")
        << kToken << QList<QByteArray>{"SASL PLAIN", "USER"} << Script{} << ready << 0
        << QStringLiteral("The server does not offer OAuth2 sign-in (SASL XOAUTH2 or OAUTHBEARER), so the login was "
                          "not tried.\r\nChoose the sign-in method Password for this server.");
}

void TestOAuthLogin::conversations()
{
    QFETCH(QString, token);
    QFETCH(QList<QByteArray>, capabilities);
    QFETCH(Script, script);
    QFETCH(int, renewState);
    QFETCH(int, expectedRenewals);
    QFETCH(QString, box);
    first = token;
    renewed = {AccessToken::State(renewState), kFresh, QStringLiteral("Sign in again.")};
    f->server.greet("+OK ready", capabilities);
    for (const auto &[command, reply] : script)
        f->server.expect(response(command, first, f->settings.EmailPort.toInt()), reply);
    if (box.isEmpty())
        f->server.stat(0).quit();
    fetch();
    VERIFY_SCRIPT(f->server);
    QCOMPARE(renewals, expectedRenewals);
    QCOMPARE(f->boxes.shown().size(), box.isEmpty() ? 0 : 1);
    if (!box.isEmpty())
        QCOMPARE(f->boxes.shown().constFirst().text, box);
    for (const QString &event : f->status.events)
        QVERIFY2(!event.contains(QLatin1String("ya29")), qPrintable(event));
}

// A provider that withdraws a refresh token once it is used: the test's
// renewal must not spend the profile's sign-in.
void TestOAuthLogin::testConnectionKeepsRotatedToken()
{
    testsupport::FakeAuthServer auth(QStringLiteral("user"));
    QVERIFY(auth.listen());
    auth.setRotateRefreshTokens(true);
    ProfileSettingsRecord s = f->settings;
    auth.signInHere(s);
    AuthorizationFlow flow(endpointsOf(s));
    QNetworkAccessManager browser;
    flow.setBrowser([&browser](const QUrl &url) {
        QObject::connect(browser.get(QNetworkRequest(url)), &QNetworkReply::finished, &browser, [] {});
        return true;
    });
    const TokenResponse signedIn = flow.run();
    QCOMPARE(signedIn.status, TokenResponse::Status::Ok);
    s.OAuthRefreshToken = signedIn.refreshToken;

    // The access token of the sign-in is not kept: the test renews at once.
    f->server.greet("+OK ready", {"SASL XOAUTH2", "SASL-IR"})
        .expect("AUTH XOAUTH2 " + xoauth2Response(QStringLiteral("user"), QStringLiteral("fake-access-3")), "+OK\r\n")
        .stat(0)
        .quit();
    const TestConnectionResult result = testConnection(s, SessionOptions{5000});
    QVERIFY2(result.ok, qPrintable(result.text));
    VERIFY_SCRIPT(f->server);
    QCOMPARE(auth.refreshGrants(), 1);
    QVERIFY(!result.renewedRefreshToken.isEmpty());
    QVERIFY(result.renewedRefreshToken != signedIn.refreshToken);
    QVERIFY(!result.text.contains(QLatin1String("fake-")));
    // The old one is spent; the handed-back one works.
    QCOMPARE(OAuthClient::refresh(endpointsOf(s), signedIn.refreshToken, 5000).status, TokenResponse::Status::Refused);
    QCOMPARE(OAuthClient::refresh(endpointsOf(s), result.renewedRefreshToken, 5000).status, TokenResponse::Status::Ok);
}

void TestOAuthLogin::unreadSignInAdvice_data()
{
    // The keyring's reason carries its own advice: a locked keyring is
    // unlocked, not signed in to again.
    QTest::addColumn<QString>("problem");
    QTest::addColumn<QString>("error");
    const QString locked = QStringLiteral("The OAuth2 sign-in of profile Home could not be read from the desktop "
                                          "keyring.\r\nThe keyring said: The desktop keyring is locked. Unlock it ...");
    QTest::newRow("keyring locked") << locked << locked;
    QTest::newRow("never signed in") << QString()
                                     << QStringLiteral("This profile has not signed in with Google yet.\r\nSign in "
                                                       "again: open the Settings and press \"Sign in...\".");
}

void TestOAuthLogin::unreadSignInAdvice()
{
    QFETCH(QString, problem);
    QFETCH(QString, error);
    ProfileSettingsRecord s = f->settings;
    s.OAuthProvider = QStringLiteral("Google");
    s.SecretProblem = problem;
    const AccessToken token = profileAccessTokens(s)(false);
    QCOMPARE(token.state, AccessToken::State::SignInNeeded);
    QCOMPARE(WindowWords::text(token.error, token.reason), error);
}

QTEST_GUILESS_MAIN(TestOAuthLogin)
#include "tst_oauthlogin.moc"
