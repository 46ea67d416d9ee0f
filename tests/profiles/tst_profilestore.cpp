// The profile store's own rules: the user ID under either spelling a file
// holds, and writes that fail coming back as values.
#include "ProfileStore.h"
#include "ProfileTestHelpers.h"

#include <memory>

using namespace profiletest;

namespace {
const QString kHome = kSettingKeyPrefix + "Home";
} // namespace

class TestProfileStore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { m_env = std::make_unique<Env>(); }
    void cleanup() { m_env.reset(); }
    void userIdSpellings_data();
    void userIdSpellings();
    void trustedCertificateWrite();
    void learningChoices();

private:
    std::unique_ptr<Env> m_env;
};

void TestProfileStore::userIdSpellings_data()
{
    QTest::addColumn<QString>("stored"); // the spelling in the file; empty: none yet
    QTest::newRow("read spelling (older files, the demo tool)") << "EmailUserid";
    QTest::newRow("written spelling") << "EmailUserId";
    QTest::newRow("new profile") << "";
}

// Read under either spelling; a save leaves one value, found by the name
// older copies of the program read.
void TestProfileStore::userIdSpellings()
{
    QFETCH(QString, stored);
    seedProfile("Home");
    if (!stored.isEmpty())
        writeValue(kHome, stored, "joe");
    const ProfileStore store;
    ProfileSettingsRecord s = store.read("Home");
    QCOMPARE(s.EmailUserid, stored.isEmpty() ? QString() : u"joe"_qs);

    s.EmailUserid = "ann";
    s.EmailPassword = "pw";
    QVERIFY(store.save("Home", s, {}).settings);
    QCOMPARE(readValue(kHome, "EmailUserid"), u"ann"_qs);
    QCOMPARE(store.read("Home").EmailUserid, u"ann"_qs);
    const QByteArray file = storeBytes();
    QCOMPARE(file.toLower().count("\"emailuserid\""), 1);
    const QString spelling = stored.isEmpty() ? ProfileKeys::kEmailUserId : stored; // the first one kept
    QVERIFY2(file.contains('"' + spelling.toLatin1() + '"'), file.constData());
}

// A trust is stored in one spelling; a write that fails says why and
// changes nothing.
void TestProfileStore::trustedCertificateWrite()
{
    seedProfile("Home");
    const ProfileStore store;
    QVERIFY(store.saveTrustedCertificate("Home", QString(32, u'A') + QStringLiteral(" :") + QString(32, u'b')));
    QCOMPARE(readValue(kHome, "TrustedCertificate"), QString(32, u'a') + QString(32, u'b'));
    const QByteArray before = storeBytes();
    StoreWriteResult result;
    {
        FullDisk disk;
        result = store.saveTrustedCertificate("Home", QString(64, u'c'));
    }
    QVERIFY(!result.ok);
    QVERIFY2(result.error.contains(modRegistry::StoreFilePath()), qPrintable(result.error));
    QCOMPARE(storeBytes(), before);
}

// The learning's choices are written once made, and read back; a profile
// that shares its learning names the pool, no profile's own.
void TestProfileStore::learningChoices()
{
    seedProfile("Home");
    const ProfileStore store;
    ProfileSettingsRecord s = store.read("Home");
    QVERIFY(store.save("Home", s, {}).settings.ok);
    QCOMPARE(readValue(kHome, "ShareLearning"), kMissing); // an older file stays as it was
    QCOMPARE(ProfileStore::learningName("Home"), u"Home"_qs);
    s.ShareLearning = s.DeleteLearnedSpam = QStringLiteral("1");
    QVERIFY(store.save("Home", s, {}).settings.ok);
    const ProfileSettingsRecord back = store.read("Home");
    QCOMPARE(back.ShareLearning, u"1"_qs);
    QCOMPARE(back.DeleteLearnedSpam, u"1"_qs);
    QCOMPARE(ProfileStore::learningName("Home"), back.learningName("Home"));
    QVERIFY(!ProfileStore::learningName("Home").isEmpty() && ProfileStore::learningName("Home") != u"Home"_qs);
    QCOMPARE(back.learningName(QString()), QString()); // no profile: nothing to learn for
}

QTEST_MAIN(TestProfileStore)
#include "tst_profilestore.moc"
