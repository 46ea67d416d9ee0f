// The settings dialog's sign-in group: OAuth2 fields only for OAuth2, a
// provider fills in its server and addresses, and "Sign in..." runs the
// browser sign-in against a test authorization server and keeps its
// refresh token for the save, saying who signed in.
#include "FakeAuthServer.h"
#include "OAuthSignInWidget.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

class TestOAuthSignIn : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void presetsAndVisibility();
    void signInKeepsRefreshToken_data();
    void signInKeepsRefreshToken();
};

void TestOAuthSignIn::presetsAndVisibility()
{
    OAuthSignInWidget w;
    w.load({}, QString());
    w.show();
    auto *method = w.findChild<QComboBox *>(QStringLiteral("cboSignInMethod"));
    auto *provider = w.findChild<QComboBox *>(QStringLiteral("cboOAuthProvider"));
    auto *clientId = w.findChild<QLineEdit *>(QStringLiteral("txtOAuthClientId"));
    QVERIFY(method && provider && clientId);
    QCOMPARE(method->currentText(), QStringLiteral("Password")); // what every old profile reads as
    QVERIFY(!clientId->isVisible());
    method->setCurrentText(QStringLiteral("OAuth2"));
    QVERIFY(clientId->isVisible());

    QSignalSpy chosen(&w, &OAuthSignInWidget::presetChosen);
    provider->setCurrentText(QStringLiteral("Microsoft"));
    Q_EMIT provider->activated(provider->currentIndex());
    QCOMPARE(chosen.size(), 1);
    const auto preset = chosen.constFirst().constFirst().value<OAuthPreset>();
    QCOMPARE(preset.host, QStringLiteral("outlook.office365.com"));
    QCOMPARE(preset.port, QStringLiteral("995"));
    Global::ProfileSettingsRecord s;
    w.apply(s);
    QVERIFY(s.usesOAuth2());
    QCOMPARE(s.OAuthTokenUrl, QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/token"));
    QCOMPARE(s.OAuthScope, QStringLiteral("https://outlook.office.com/POP.AccessAsUser.All offline_access"));
    QString warning;
    QCOMPARE(w.missingField(&warning), clientId);
    QCOMPARE(warning, QStringLiteral("Client ID cannot be empty"));
}

void TestOAuthSignIn::signInKeepsRefreshToken_data()
{
    QTest::addColumn<bool>("approve"); // false: the browser never answers, the user cancels
    QTest::newRow("approved") << true;
    QTest::newRow("cancelled") << false;
}

void TestOAuthSignIn::signInKeepsRefreshToken()
{
    QFETCH(bool, approve);
    testsupport::FakeAuthServer auth(QStringLiteral("joe@example.org"));
    QVERIFY(auth.listen());
    Global::ProfileSettingsRecord s;
    auth.signInHere(s);
    OAuthSignInWidget w;
    w.load(s, QString());
    QNetworkAccessManager browser;
    w.setBrowser([&](const QUrl &url) {
        if (approve)
            connect(browser.get(QNetworkRequest(url)), &QNetworkReply::finished, &browser, [] {});
        else
            QTimer::singleShot(0, &w, [&w] {
                auto *box = w.findChild<QWidget *>(QStringLiteral("dlgSignIn"));
                QVERIFY(box);
                auto *cancel = box->findChild<QPushButton *>();
                QVERIFY(cancel);
                cancel->click();
            });
        return true;
    });
    w.signIn(QStringLiteral("joe@example.org"));
    Global::ProfileSettingsRecord after;
    w.apply(after);
    auto *label = w.findChild<QLabel *>(QStringLiteral("lblSignedIn"));
    if (approve) {
        QCOMPARE(auth.codeGrants(), 1);
        QVERIFY(after.OAuthRefreshToken.startsWith(QLatin1String("fake-refresh-")));
        QVERIFY(!after.OAuthAccessToken.isEmpty());
        QVERIFY2(label->text().startsWith(QLatin1String("Signed in")), qPrintable(label->text()));
    } else {
        QCOMPARE(auth.codeGrants(), 0);
        QCOMPARE(after.OAuthRefreshToken, QString());
        QCOMPARE(label->text(), QStringLiteral("The sign-in was cancelled."));
    }
    QVERIFY(!label->text().contains(QLatin1String("fake-")));
}

QTEST_MAIN(TestOAuthSignIn)
#include "tst_oauthsignin.moc"
