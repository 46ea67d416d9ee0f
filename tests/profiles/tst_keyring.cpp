// Secrets in the desktop keyring: a gnome-keyring-daemon on a private bus
// takes a profile's secrets, gives them back, takes over an old scrambled
// password and lets go of them with the profile. A keyring that refuses, or
// is not there at all, never loses a secret.
#include "Global.h"
#include "KeyringSecretStore.h"
#include "Profile.h"
#include "ProfileSecrets.h"
#include "PrivateKeyring.h"
#include "Scramble.h"
#include "ScrambledSecretStore.h"
#include "SettingsStore.h"
#include "TestSupport.h"

#include <QFile>
#include <QTest>

using namespace modRegistry;

namespace {

const QString kProfile = QStringLiteral("Home");

Global::ProfileSettingsRecord secrets()
{
    Global::ProfileSettingsRecord s;
    s.EmailPassword = QStringLiteral("mail pässword");
    s.DialupPassword = QStringLiteral("dial-secret");
    // Longer than one scrambled form holds, as refresh tokens can be.
    s.OAuthRefreshToken = QStringLiteral("1//refresh-") + QString(1500, QLatin1Char('r'));
    return s;
}

QByteArray settingsFile()
{
    QFile f(StoreFilePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A keyring that answers every call with the same refusal.
class RefusingKeyring : public SecretStore {
public:
    Answer read(const QString &, SecretKind) override { return refusal(); }
    Answer write(const QString &, SecretKind, const QString &) override { return refusal(); }
    Answer remove(const QString &, SecretKind) override { return refusal(); }
    int calls = 0;

private:
    Answer refusal()
    {
        ++calls;
        return {Status::Refused, {}, QStringLiteral("The keyring is locked.")};
    }
};

} // namespace

class TestKeyring : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QString why;
        if (!testsupport::PrivateKeyring::available(&why))
            QSKIP(qPrintable(why));
        QVERIFY2(keyring.start(&why), qPrintable(why));
    }
    void init()
    {
        home = std::make_unique<testsupport::TempHome>();
        WriteStoreValue(HKEY_CURRENT_USER, kSettingKeyPrefix + kProfile, QStringLiteral("EmailHost"), REG_SZ,
                        QStringLiteral("pop.example"));
    }
    void cleanup() { home.reset(); }

    void saveReadBackDelete();
    void scrambledPasswordMoves();
    void refusingKeyringKeepsSecrets();
    void noKeyringFallsBack(); // last: it stops the keyring

private:
    testsupport::PrivateKeyring keyring;
    KeyringSecretStore store{10000};
    std::unique_ptr<testsupport::TempHome> home;
};

void TestKeyring::saveReadBackDelete()
{
    const Global::ProfileSettingsRecord saved = secrets();
    const ProfileSecrets::Report report = ProfileSecrets::save(store, kProfile, saved);
    QVERIFY2(!report.trouble, qPrintable(report.text));
    // Nothing of any secret in the settings file, scrambled or not.
    for (const SecretKind kind : {SecretKind::EmailPassword, SecretKind::DialupPassword, SecretKind::OAuthRefreshToken}) {
        QCOMPARE(ReadStoreValue(HKEY_CURRENT_USER, kSettingKeyPrefix + kProfile, secretValueName(kind), QString()),
                 QString());
        QCOMPARE(ProfileSecrets::placeOf(kProfile, kind), ProfileSecrets::Place::Keyring);
    }
    QVERIFY(!settingsFile().contains("dial-secret"));

    Global::ProfileSettingsRecord loaded;
    QVERIFY(!ProfileSecrets::load(store, kProfile, loaded).trouble);
    QCOMPARE(loaded.EmailPassword, saved.EmailPassword);
    QCOMPARE(loaded.DialupPassword, saved.DialupPassword);
    QCOMPARE(loaded.OAuthRefreshToken, saved.OAuthRefreshToken);
    QCOMPARE(loaded.SecretProblem, QString());

    // Emptied: gone from the keyring too.
    Global::ProfileSettingsRecord withoutDialup = saved;
    withoutDialup.DialupPassword.clear();
    QVERIFY(!ProfileSecrets::save(store, kProfile, withoutDialup).trouble);
    QCOMPARE(store.read(kProfile, SecretKind::DialupPassword).status, SecretStore::Status::NotFound);
    QCOMPARE(ProfileSecrets::placeOf(kProfile, SecretKind::DialupPassword), ProfileSecrets::Place::Nowhere);

    ProfileSecrets::remove(store, kProfile);
    QCOMPARE(store.read(kProfile, SecretKind::EmailPassword).status, SecretStore::Status::NotFound);
    QCOMPARE(store.read(kProfile, SecretKind::OAuthRefreshToken).status, SecretStore::Status::NotFound);
}

void TestKeyring::scrambledPasswordMoves()
{
    // A profile from before the keyring (or from a machine without one).
    QString old = QStringLiteral("old secret");
    WriteStoreValue(HKEY_CURRENT_USER, kSettingKeyPrefix + kProfile, QStringLiteral("EmailPassword"), REG_SZ,
                    modSecurity::ScrambleText(old));
    Global::ProfileSettingsRecord s;
    QVERIFY(!ProfileSecrets::load(store, kProfile, s).trouble);
    QCOMPARE(s.EmailPassword, QStringLiteral("old secret"));
    QCOMPARE(ProfileSecrets::placeOf(kProfile, SecretKind::EmailPassword), ProfileSecrets::Place::SettingsFile);

    QVERIFY(!ProfileSecrets::save(store, kProfile, s).trouble);
    QCOMPARE(ProfileSecrets::placeOf(kProfile, SecretKind::EmailPassword), ProfileSecrets::Place::Keyring);
    QCOMPARE(ReadStoreValue(HKEY_CURRENT_USER, kSettingKeyPrefix + kProfile, QStringLiteral("EmailPassword"), QString()),
             QString());
    QCOMPARE(store.read(kProfile, SecretKind::EmailPassword).secret, QStringLiteral("old secret"));
    ProfileSecrets::remove(store, kProfile);
}

void TestKeyring::refusingKeyringKeepsSecrets()
{
    RefusingKeyring refusing;
    const ProfileSecrets::Report saved = ProfileSecrets::save(refusing, kProfile, secrets());
    QVERIFY(saved.trouble);
    QVERIFY2(saved.text.contains(QLatin1String("kept scrambled in the settings file")), qPrintable(saved.text));
    QVERIFY2(saved.text.contains(QLatin1String("The keyring is locked.")), qPrintable(saved.text));
    QCOMPARE(refusing.calls, 1); // asked once, not once per secret
    Global::ProfileSettingsRecord loaded;
    QVERIFY(!ProfileSecrets::load(refusing, kProfile, loaded).trouble);
    QCOMPARE(loaded.EmailPassword, secrets().EmailPassword);
    QCOMPARE(loaded.OAuthRefreshToken, secrets().OAuthRefreshToken);

    // In the keyring, which then refuses to give it: the password reads as
    // missing and the reason is kept, so it is asked for, never used empty.
    QVERIFY(!ProfileSecrets::save(store, kProfile, secrets()).trouble);
    Global::ProfileSettingsRecord locked;
    locked.EmailPassword = QStringLiteral("stale");
    const ProfileSecrets::Report read = ProfileSecrets::load(refusing, kProfile, locked);
    QVERIFY(read.trouble);
    QCOMPARE(locked.EmailPassword, QString());
    QVERIFY2(locked.SecretProblem.startsWith(QLatin1String("The email password, dial-up password, OAuth2 sign-in "
                                                           "of profile Home could not be read")),
             qPrintable(locked.SecretProblem));
    // A refusal to save then keeps the scrambled form; the keyring's copy
    // is no longer what counts.
    QVERIFY(ProfileSecrets::save(refusing, kProfile, secrets()).trouble);
    QCOMPARE(ProfileSecrets::placeOf(kProfile, SecretKind::EmailPassword), ProfileSecrets::Place::SettingsFile);
    ProfileSecrets::remove(store, kProfile);
}

void TestKeyring::noKeyringFallsBack()
{
    keyring.stopKeyring();
    const SecretStore::Answer answer = store.write(kProfile, SecretKind::EmailPassword, QStringLiteral("x"));
    QCOMPARE(answer.status, SecretStore::Status::NoKeyring);
    // No keyring is no fault: the secrets stay in the settings file and a
    // later load finds them there.
    const ProfileSecrets::Report saved = ProfileSecrets::save(store, kProfile, secrets());
    QCOMPARE(ProfileSecrets::placeOf(kProfile, SecretKind::EmailPassword), ProfileSecrets::Place::SettingsFile);
    QVERIFY(!saved.trouble);
    Global::CurrentProfile = kProfile;
    LoadProfile(kProfile);
    QCOMPARE(Global::ProfileSettings.EmailPassword, secrets().EmailPassword);
    QCOMPARE(Global::ProfileSettings.DialupPassword, secrets().DialupPassword);
    QCOMPARE(Global::ProfileSettings.SecretProblem, QString());
}

QTEST_GUILESS_MAIN(TestKeyring)
#include "tst_keyring.moc"
