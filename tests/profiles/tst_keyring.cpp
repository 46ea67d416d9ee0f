// Secrets in the desktop keyring: a gnome-keyring-daemon on a private bus
// takes a profile's secrets under the names the help gives, gives them back,
// takes over an old scrambled password and entries of older versions, and
// lets go of every one with the profile. A keyring that is locked, refuses,
// or is not there at all never loses a secret and is reported for what it is.
#include "CurrentProfile.h"
#include "ProfileRecord.h"
#include "KeyringSecretStore.h"
#include "Profile.h"
#include "ProfileSecrets.h"
#include "PrivateKeyring.h"
#include "Scramble.h"
#include "ScrambledSecretStore.h"
#include "SettingsStore.h"
#include "TestSupport.h"

#include <qt6keychain/keychain.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace modRegistry;

// A secret as the Secret Service passes it, for unlocking by hand.
struct TestSecret {
    QDBusObjectPath session;
    QByteArray parameters, value;
    QString contentType;
};
Q_DECLARE_METATYPE(TestSecret)
QDBusArgument &operator<<(QDBusArgument &a, const TestSecret &s)
{
    a.beginStructure();
    a << s.session << s.parameters << s.value << s.contentType;
    a.endStructure();
    return a;
}
const QDBusArgument &operator>>(const QDBusArgument &a, TestSecret &s)
{
    a.beginStructure();
    a >> s.session >> s.parameters >> s.value >> s.contentType;
    a.endStructure();
    return a;
}

namespace {

const QString kSecrets = QStringLiteral("org.freedesktop.secrets");
const QString kServicePath = QStringLiteral("/org/freedesktop/secrets");
const QString kServiceIface = QStringLiteral("org.freedesktop.Secret.Service");

QDBusMessage secretsCall(const QString &path, const QString &iface, const QString &method, const QVariantList &args)
{
    QDBusMessage m = QDBusMessage::createMethodCall(kSecrets, path, iface, method);
    m.setArguments(args);
    return QDBusConnection::sessionBus().call(m, QDBus::Block, 10000);
}

QList<QDBusObjectPath> pathList(const QVariant &v)
{
    QList<QDBusObjectPath> paths;
    v.value<QDBusArgument>() >> paths;
    return paths;
}

// The keyring's items that hold a profile's entry of a kind, locked or not.
QList<QDBusObjectPath> itemsFor(const QString &profile, SecretKind kind)
{
    const QMap<QString, QString> attributes{{QStringLiteral("server"), QStringLiteral("Trelvik")},
                                            {QStringLiteral("user"), secretLabel(profile, kind)}};
    const QDBusMessage reply = secretsCall(kServicePath, kServiceIface, QStringLiteral("SearchItems"),
                                           {QVariant::fromValue(attributes)});
    return pathList(reply.arguments().value(0)) + pathList(reply.arguments().value(1));
}

QDBusObjectPath defaultCollection()
{
    return secretsCall(kServicePath, kServiceIface, QStringLiteral("ReadAlias"), {QStringLiteral("default")})
        .arguments()
        .value(0)
        .value<QDBusObjectPath>();
}

bool lockKeyring()
{
    const QList<QDBusObjectPath> what{defaultCollection()};
    return secretsCall(kServicePath, kServiceIface, QStringLiteral("Lock"), {QVariant::fromValue(what)}).type()
        == QDBusMessage::ReplyMessage;
}

// Unlocks with the keyring's password, as its own prompt would.
bool unlockKeyring()
{
    const QDBusMessage session = secretsCall(kServicePath, kServiceIface, QStringLiteral("OpenSession"),
                                             {QStringLiteral("plain"), QVariant::fromValue(QDBusVariant(QString()))});
    const TestSecret master{session.arguments().value(1).value<QDBusObjectPath>(),
                            {},
                            "keyring test password",
                            QStringLiteral("text/plain")};
    return secretsCall(kServicePath, QStringLiteral("org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface"),
                       QStringLiteral("UnlockWithMasterPassword"),
                       {QVariant::fromValue(defaultCollection()), QVariant::fromValue(master)})
               .type()
        == QDBusMessage::ReplyMessage;
}

const QString kProfile = QStringLiteral("Home");

ProfileSettingsRecord secrets()
{
    ProfileSettingsRecord s;
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
        qDBusRegisterMetaType<TestSecret>();
        qDBusRegisterMetaType<QMap<QString, QString>>();
        qDBusRegisterMetaType<QList<QDBusObjectPath>>();
    }
    void init()
    {
        home = std::make_unique<testsupport::TempHome>();
        WriteStoreValue(HKEY_CURRENT_USER, kSettingKeyPrefix + kProfile, QStringLiteral("EmailHost"), REG_SZ,
                        QStringLiteral("pop.example"));
    }
    void cleanup() { home.reset(); }

    void saveReadBackDelete();
    void entriesNamedAsTheHelpSays_data();
    void entriesNamedAsTheHelpSays();
    void olderEntriesTakenOver();
    void everyWrittenEntryGoesWithProfile();
    void lockedKeyring();
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
    const ProfileSettingsRecord saved = secrets();
    const ProfileSecrets::Report report = ProfileSecrets::save(store, kProfile, saved);
    QVERIFY2(!report.trouble, qPrintable(report.text));
    // Nothing of any secret in the settings file, scrambled or not.
    for (const SecretKind kind :
         {SecretKind::EmailPassword, SecretKind::DialupPassword, SecretKind::OAuthRefreshToken}) {
        QCOMPARE(ReadStoreValue(HKEY_CURRENT_USER, kSettingKeyPrefix + kProfile, secretValueName(kind), QString()),
                 QString());
        QCOMPARE(ProfileSecrets::placeOf(kProfile, kind), ProfileSecrets::Place::Keyring);
    }
    QVERIFY(!settingsFile().contains("dial-secret"));

    ProfileSettingsRecord loaded;
    QVERIFY(!ProfileSecrets::load(store, kProfile, loaded).trouble);
    QCOMPARE(loaded.EmailPassword, saved.EmailPassword);
    QCOMPARE(loaded.DialupPassword, saved.DialupPassword);
    QCOMPARE(loaded.OAuthRefreshToken, saved.OAuthRefreshToken);
    QCOMPARE(loaded.SecretProblem, QString());

    // Emptied: gone from the keyring too.
    ProfileSettingsRecord withoutDialup = saved;
    withoutDialup.DialupPassword.clear();
    QVERIFY(!ProfileSecrets::save(store, kProfile, withoutDialup).trouble);
    QCOMPARE(store.read(kProfile, SecretKind::DialupPassword).status, SecretStore::Status::NotFound);
    QCOMPARE(ProfileSecrets::placeOf(kProfile, SecretKind::DialupPassword), ProfileSecrets::Place::Nowhere);

    ProfileSecrets::remove(store, kProfile);
    QCOMPARE(store.read(kProfile, SecretKind::EmailPassword).status, SecretStore::Status::NotFound);
    QCOMPARE(store.read(kProfile, SecretKind::OAuthRefreshToken).status, SecretStore::Status::NotFound);
}

void TestKeyring::entriesNamedAsTheHelpSays_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("label");
    QTest::newRow("email") << int(SecretKind::EmailPassword) << QStringLiteral("Email password of profile Home");
    QTest::newRow("dial-up") << int(SecretKind::DialupPassword) << QStringLiteral("Dial-up password of profile Home");
    QTest::newRow("oauth2") << int(SecretKind::OAuthRefreshToken) << QStringLiteral("OAuth2 sign-in of profile Home");
}

// A password manager lists each entry by its label: one a kind and profile.
void TestKeyring::entriesNamedAsTheHelpSays()
{
    QFETCH(int, kind);
    QFETCH(QString, label);
    QVERIFY(!ProfileSecrets::save(store, kProfile, secrets()).trouble);
    const QList<QDBusObjectPath> items = itemsFor(kProfile, SecretKind(kind));
    QCOMPARE(items.size(), 1);
    QDBusMessage get = QDBusMessage::createMethodCall(kSecrets, items.first().path(),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get.setArguments({QStringLiteral("org.freedesktop.Secret.Item"), QStringLiteral("Label")});
    const QDBusReply<QDBusVariant> reply = QDBusConnection::sessionBus().call(get);
    QVERIFY(reply.isValid());
    QCOMPARE(reply.value().variant().toString(), label);
    ProfileSecrets::remove(store, kProfile);
}

// An entry an earlier version wrote through the keychain library is read,
// replaced by one entry (not a second one) and removed.
void TestKeyring::olderEntriesTakenOver()
{
    auto *job = new QKeychain::WritePasswordJob(QStringLiteral("Trelvik"));
    job->setInsecureFallback(false);
    job->setKey(secretLabel(kProfile, SecretKind::EmailPassword));
    job->setTextData(QStringLiteral("from before"));
    QSignalSpy done(job, &QKeychain::Job::finished);
    job->start();
    QVERIFY(done.wait(10000));
    QCOMPARE(job->error(), QKeychain::NoError);

    QCOMPARE(store.read(kProfile, SecretKind::EmailPassword).secret, QStringLiteral("from before"));
    QCOMPARE(store.write(kProfile, SecretKind::EmailPassword, QStringLiteral("now")).status, SecretStore::Status::Ok);
    QCOMPARE(itemsFor(kProfile, SecretKind::EmailPassword).size(), 1);
    QCOMPARE(store.read(kProfile, SecretKind::EmailPassword).secret, QStringLiteral("now"));
    QCOMPARE(store.remove(kProfile, SecretKind::EmailPassword).status, SecretStore::Status::Ok);
    QVERIFY(itemsFor(kProfile, SecretKind::EmailPassword).isEmpty());
}

// Deleting a profile removes entries its markers no longer name (a save
// while the keyring was locked clears the marker, not the entry).
void TestKeyring::everyWrittenEntryGoesWithProfile()
{
    ProfileSettingsRecord s = secrets();
    s.DialupPassword.clear();
    QVERIFY(!ProfileSecrets::save(store, kProfile, s).trouble);
    QCOMPARE(store.write(kProfile, SecretKind::DialupPassword, QStringLiteral("unmarked")).status,
             SecretStore::Status::Ok);
    QCOMPARE(ProfileSecrets::placeOf(kProfile, SecretKind::DialupPassword), ProfileSecrets::Place::Nowhere);
    ProfileSecrets::remove(store, kProfile);
    for (const SecretKind kind : {SecretKind::EmailPassword, SecretKind::DialupPassword, SecretKind::OAuthRefreshToken})
        QVERIFY2(itemsFor(kProfile, kind).isEmpty(), qPrintable(secretLabel(kProfile, kind)));
}

// Locked: said so (not "no such entry"), nobody asked where no window can
// show the keyring's prompt, nothing unread deleted or replaced by a save of
// other fields, and a deleted profile's entries go once it is unlocked.
void TestKeyring::lockedKeyring()
{
    QVERIFY(!ProfileSecrets::save(store, kProfile, secrets()).trouble);
    QVERIFY(lockKeyring());

    const SecretStore::Answer answer = store.read(kProfile, SecretKind::EmailPassword);
    QCOMPARE(answer.status, SecretStore::Status::Locked);
    ProfileSettingsRecord loaded;
    QVERIFY(ProfileSecrets::load(store, kProfile, loaded).trouble);
    QVERIFY2(loaded.SecretProblem.contains(QLatin1String("The desktop keyring is locked. Unlock it")),
             qPrintable(loaded.SecretProblem));
    QVERIFY(!loaded.SecretProblem.contains(QLatin1String("no such entry")));
    QVERIFY(!loaded.SecretProblem.contains(QLatin1String("Sign in again")));

    // OK in the settings with another server: the unread secrets stay.
    ProfileSettingsRecord edited = loaded;
    edited.EmailHost = QStringLiteral("pop.elsewhere");
    ProfileSecrets::save(store, kProfile, edited, &loaded);
    for (const SecretKind kind :
         {SecretKind::EmailPassword, SecretKind::DialupPassword, SecretKind::OAuthRefreshToken}) {
        QCOMPARE(ProfileSecrets::placeOf(kProfile, kind), ProfileSecrets::Place::Keyring);
        QCOMPARE(itemsFor(kProfile, kind).size(), 1);
    }

    // Deleted while locked: the entries stay for now and go at a later save.
    ProfileSecrets::remove(store, kProfile);
    QCOMPARE(itemsFor(kProfile, SecretKind::EmailPassword).size(), 1);
    QVERIFY(unlockKeyring());
    const QString other = QStringLiteral("Work");
    QVERIFY(!ProfileSecrets::save(store, other, secrets()).trouble);
    for (const SecretKind kind : {SecretKind::EmailPassword, SecretKind::DialupPassword, SecretKind::OAuthRefreshToken})
        QVERIFY2(itemsFor(kProfile, kind).isEmpty(), qPrintable(secretLabel(kProfile, kind)));
    QCOMPARE(store.read(other, SecretKind::EmailPassword).secret, secrets().EmailPassword);
    ProfileSecrets::remove(store, other);
}

void TestKeyring::scrambledPasswordMoves()
{
    // A profile from before the keyring (or from a machine without one).
    QString old = QStringLiteral("old secret");
    WriteStoreValue(HKEY_CURRENT_USER, kSettingKeyPrefix + kProfile, QStringLiteral("EmailPassword"), REG_SZ,
                    modSecurity::ScrambleText(old));
    ProfileSettingsRecord s;
    QVERIFY(!ProfileSecrets::load(store, kProfile, s).trouble);
    QCOMPARE(s.EmailPassword, QStringLiteral("old secret"));
    QCOMPARE(ProfileSecrets::placeOf(kProfile, SecretKind::EmailPassword), ProfileSecrets::Place::SettingsFile);

    QVERIFY(!ProfileSecrets::save(store, kProfile, s).trouble);
    QCOMPARE(ProfileSecrets::placeOf(kProfile, SecretKind::EmailPassword), ProfileSecrets::Place::Keyring);
    QCOMPARE(ReadStoreValue(HKEY_CURRENT_USER, kSettingKeyPrefix + kProfile, QStringLiteral("EmailPassword"),
                            QString()),
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
    ProfileSettingsRecord loaded;
    QVERIFY(!ProfileSecrets::load(refusing, kProfile, loaded).trouble);
    QCOMPARE(loaded.EmailPassword, secrets().EmailPassword);
    QCOMPARE(loaded.OAuthRefreshToken, secrets().OAuthRefreshToken);

    // In the keyring, which then refuses to give it: the password reads as
    // missing and the reason is kept, so it is asked for, never used empty.
    QVERIFY(!ProfileSecrets::save(store, kProfile, secrets()).trouble);
    ProfileSettingsRecord locked;
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
    CurrentProfile profile;
    profile.LoadProfile(kProfile);
    QCOMPARE(profile.settings().EmailPassword, secrets().EmailPassword);
    QCOMPARE(profile.settings().DialupPassword, secrets().DialupPassword);
    QCOMPARE(profile.settings().SecretProblem, QString());
}

QTEST_GUILESS_MAIN(TestKeyring)
#include "tst_keyring.moc"
