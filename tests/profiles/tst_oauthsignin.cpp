// The settings dialog's sign-in group: OAuth2 fields only for OAuth2, a
// provider fills in its server and addresses, and "Sign in..." runs the
// browser sign-in against a test authorization server and keeps its
// refresh token for the save, saying who signed in. A refusal in the
// browser gets its page, and its whole text shows in the dialog.
#include "FakeAuthServer.h"
#include "OAuthSignInWidget.h"
#include "ProfileKeys.h"
#include "SecretStore.h"
#include "ProfileTestHelpers.h"
#include "frmSetting.h"

#include <QUrlQuery>

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
    void refusalShownWhole();
    void signInTheKeyringKeeps();
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
    ProfileSettingsRecord s;
    w.apply(s);
    QVERIFY(s.usesOAuth2());
    QCOMPARE(s.OAuthTokenUrl, QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/token"));
    // openid email: the id token then says who signed in.
    QCOMPARE(s.OAuthScope,
             QStringLiteral("https://outlook.office.com/POP.AccessAsUser.All offline_access openid email"));
    // IMAP asks Microsoft for another permission, at the IMAP port; back on
    // POP3 the scope is POP3's again.
    w.setImap(true);
    w.apply(s);
    QCOMPARE(s.OAuthScope,
             QStringLiteral("https://outlook.office.com/IMAP.AccessAsUser.All offline_access openid email"));
    Q_EMIT provider->activated(provider->currentIndex());
    QCOMPARE(chosen.constLast().constFirst().value<OAuthPreset>().port, QStringLiteral("993"));
    w.setImap(false);
    w.apply(s);
    QCOMPARE(s.OAuthScope,
             QStringLiteral("https://outlook.office.com/POP.AccessAsUser.All offline_access openid email"));
    provider->setCurrentText(QStringLiteral("Google"));
    Q_EMIT provider->activated(provider->currentIndex());
    w.apply(s);
    QCOMPARE(s.OAuthScope, QStringLiteral("https://mail.google.com/ openid email"));
    QString warning;
    QCOMPARE(w.missingField(&warning), clientId);
    QCOMPARE(warning, QStringLiteral("Client ID cannot be empty"));
}

void TestOAuthSignIn::signInKeepsRefreshToken_data()
{
    QTest::addColumn<bool>("approve"); // false: the browser never answers, the user cancels
    QTest::addColumn<QString>("scope");
    QTest::addColumn<QString>("shown");
    QTest::newRow("approved, id token") << true << "mail openid email"
                                        << "Signed in as joe@example.org. OK keeps the sign-in.";
    QTest::newRow("approved, no id token") << true << "mail"
                                           << "Signed in. OK keeps the sign-in.";
    QTest::newRow("cancelled") << false << "mail openid email"
                               << "The sign-in was cancelled.";
}

void TestOAuthSignIn::signInKeepsRefreshToken()
{
    QFETCH(bool, approve);
    QFETCH(QString, scope);
    QFETCH(QString, shown);
    testsupport::FakeAuthServer auth(QStringLiteral("joe@example.org"));
    QVERIFY(auth.listen());
    ProfileSettingsRecord s;
    auth.signInHere(s);
    s.OAuthScope = scope;
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
    ProfileSettingsRecord after;
    w.apply(after);
    auto *label = w.findChild<QLabel *>(QStringLiteral("lblSignedIn"));
    if (approve) {
        QCOMPARE(auth.codeGrants(), 1);
        QVERIFY(after.OAuthRefreshToken.startsWith(QLatin1String("fake-refresh-")));
        QVERIFY(!after.OAuthAccessToken.isEmpty());
    } else {
        QCOMPARE(auth.codeGrants(), 0);
        QCOMPARE(after.OAuthRefreshToken, QString());
    }
    QCOMPARE(label->text(), shown);
    QVERIFY(!label->text().contains(QLatin1String("fake-")));
}

// Deny in the browser: the browser gets its page although the flow ends at
// once, and the dialog shows the reason with the provider's words in full.
void TestOAuthSignIn::refusalShownWhole()
{
    profiletest::Env env;
    testsupport::FakeAuthServer auth(QStringLiteral("joe@example.org"));
    QVERIFY(auth.listen());
    env.profile.setName(QStringLiteral("Home"));
    env.profile.settings().EmailHost = QStringLiteral("pop.example.org");
    auth.signInHere(env.profile.settings());
    profiletest::seedProfile(env.profile.name());
    frmSetting dialog(env.profile, nullptr, &env.host);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *signIn = profiletest::child<OAuthSignInWidget>(&dialog, QStringLiteral("fraSignIn"));
    const QString words = QStringLiteral("The user has denied access to the scope requested by the client "
                                         "application, and Trelvik may not read this mailbox until consent is given "
                                         "(1+1 tries).");
    QNetworkAccessManager browser;
    QNetworkReply *page = nullptr;
    signIn->setBrowser([&](const QUrl &consent) {
        const QUrlQuery asked(consent);
        QUrl back(asked.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded));
        // Form-encoded, as providers send it: spaces as "+", a real "+" as %2B.
        const auto form = [](const QString &value) {
            return QString::fromLatin1(QUrl::toPercentEncoding(value, " ").replace(' ', '+'));
        };
        back.setQuery(QStringLiteral("error=access_denied&error_description=%1&state=%2")
                          .arg(form(words), form(asked.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded))),
                      QUrl::StrictMode);
        page = browser.get(QNetworkRequest(back));
        return true;
    });
    signIn->signIn(QStringLiteral("joe@example.org"));
    QVERIFY(page);
    if (!page->isFinished())
        QVERIFY(QSignalSpy(page, &QNetworkReply::finished).wait(5000));
    QCOMPARE(page->error(), QNetworkReply::NoError);
    QVERIFY(page->readAll().contains("The sign-in was not completed."));

    auto *label = profiletest::child<QLabel>(&dialog, QStringLiteral("lblSignedIn"));
    QCOMPARE(label->text(),
             QStringLiteral("The sign-in was refused in the browser (access_denied). The provider said: ") + words);
    // All of it on screen: as tall as its width needs, inside the window.
    QTRY_VERIFY2(label->height() >= label->heightForWidth(label->width()),
                 qPrintable(QStringLiteral("%1 < %2").arg(label->height()).arg(label->heightForWidth(label->width()))));
    QVERIFY(label->mapTo(&dialog, QPoint(0, label->height())).y() <= dialog.height());
}

QTEST_MAIN(TestOAuthSignIn)
// The keyring holds the sign-in but is locked: the dialog does not say
// "Not signed in." beside the keyring's words.
void TestOAuthSignIn::signInTheKeyringKeeps()
{
    testsupport::TempHome home;
    const QString profile = QStringLiteral("Home");
    modRegistry::WriteStoreValue(modRegistry::HKEY_CURRENT_USER, kSettingKeyPrefix + profile,
                                 secretValueName(SecretKind::OAuthRefreshToken) + ProfileKeys::kSecretPlaceSuffix,
                                 modRegistry::REG_SZ, QStringLiteral("Keyring"));
    ProfileSettingsRecord s;
    s.SecretProblem = QStringLiteral("The OAuth2 sign-in of profile Home could not be read from the desktop "
                                     "keyring.\r\nThe keyring said: The desktop keyring is locked.");
    OAuthSignInWidget w;
    w.load(s, profile);
    QCOMPARE(w.findChild<QLabel *>(QStringLiteral("lblSignedIn"))->text(),
             QStringLiteral("The sign-in is kept in the desktop keyring, which did not give it (see above)."));
    s.SecretProblem.clear(); // read, and empty: not signed in
    w.load(s, profile);
    QCOMPARE(w.findChild<QLabel *>(QStringLiteral("lblSignedIn"))->text(), QStringLiteral("Not signed in."));
}

#include "tst_oauthsignin.moc"
