#include "ProfileTestHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <memory>
#include <sys/stat.h>

using namespace modRegistry;
using namespace profiletest;

namespace {
const QString kHome = kSettingKeyPrefix + "Home";
} // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { m_env = std::make_unique<Env>(); }
    void cleanup() { m_env.reset(); }
    void defaultsForMissingKey();
    void namesIgnoreCaseAndListInOrder();
    void deleteTakesValues();
    void fileIsPrivate();
    void damagedFileMovedAside();
    void emailSecurityByPort_data();
    void emailSecurityByPort();

private:
    std::unique_ptr<Env> m_env;
};

void TestSettingsStore::defaultsForMissingKey()
{
    Global::ProfileSettings = {"h", "1", "u", "p", "1", "n", "d", "q", "STARTTLS", "ab"};
    LoadProfile("Home");
    QCOMPARE(fields(Global::ProfileSettings), (QStringList{"", "110", "", "", "0", "", "", "", "None", ""}));
}

void TestSettingsStore::namesIgnoreCaseAndListInOrder()
{
    writeValue(kHome, "EmailUserId", "joe");
    QCOMPARE(readValue(kHome, "EmailUserid"), u"joe"_qs);
    for (const char *name : {"work", "Archive", "Zeta", "beta"})
        seedProfile(QLatin1String(name));
    QCOMPARE(storedProfiles(), (QStringList{"Archive", "beta", "Home", "work", "Zeta"}));
    QCOMPARE(EnumStoreKey(HKEY_CURRENT_USER, kSettingKeyPrefix, 5), u"Not Found"_qs);
}

void TestSettingsStore::deleteTakesValues()
{
    seedProfile("Home");
    seedProfile("Work");
    DeleteStoreKey(HKEY_CURRENT_USER, kSettingKeyPrefix + "HOME");
    QCOMPARE(storedProfiles(), QStringList{"Work"});
    // Written again, the key starts empty.
    writeValue(kHome, "EmailPort", "995");
    QCOMPARE(readValue(kHome, "EmailHost"), kMissing);
}

void TestSettingsStore::fileIsPrivate()
{
    writeValue(kTrelvikKey, "LastProfile", "Home");
    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(StoreFilePath()).constData(), &info), 0);
    QCOMPARE(int(info.st_mode & 0777), 0600);
}

void TestSettingsStore::damagedFileMovedAside()
{
    const QByteArray content("this is not { json");
    const QDir dir = QFileInfo(StoreFilePath()).dir();
    QVERIFY(QDir().mkpath(dir.path()));
    QFile file(StoreFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    QCOMPARE(lastProfile(), kMissing);
    const QStringList copies = dir.entryList({"settings.json.damaged-*"}, QDir::Files);
    QCOMPARE(copies.size(), 1);
    QFile kept(dir.filePath(copies.first()));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), content);
    // The store works again from empty.
    writeValue(kTrelvikKey, "LastProfile", "Home");
    QCOMPARE(lastProfile(), u"Home"_qs);
}

void TestSettingsStore::emailSecurityByPort_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("loaded");
    QTest::newRow("old profile on 995") << "995" << "SSL/TLS";
    QTest::newRow("old profile on 110") << "110" << "None";
}

// Profiles stored before the security choice existed get it from the port.
void TestSettingsStore::emailSecurityByPort()
{
    QFETCH(QString, port);
    QFETCH(QString, loaded);
    writeValue(kHome, "EmailPort", port);
    LoadProfile("Home");
    QCOMPARE(Global::ProfileSettings.EmailSecurity, loaded);
}

QTEST_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
