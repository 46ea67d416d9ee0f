#include "ProfileTestHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <memory>
#include <optional>
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
    void failedWriteIsReported_data();
    void failedWriteIsReported();
    void wrongKindSetAside_data();
    void wrongKindSetAside();
    void startTightensAndTidies();
    void emailSecurityByPort_data();
    void emailSecurityByPort();

private:
    std::unique_ptr<Env> m_env;
};

void TestSettingsStore::defaultsForMissingKey()
{
    m_env->profile.settings() = {};
    m_env->profile.settings().EmailHost = QStringLiteral("h");
    m_env->profile.settings().EmailPort = QStringLiteral("1");
    m_env->profile.settings().EmailUserid = QStringLiteral("u");
    m_env->profile.settings().EmailPassword = QStringLiteral("p");
    m_env->profile.settings().Autodial = QStringLiteral("1");
    m_env->profile.settings().DialupNumber = QStringLiteral("n");
    m_env->profile.settings().DialupUserID = QStringLiteral("d");
    m_env->profile.settings().DialupPassword = QStringLiteral("q");
    m_env->profile.settings().EmailSecurity = QStringLiteral("STARTTLS");
    m_env->profile.settings().TrustedCertificate = QStringLiteral("ab");
    m_env->profile.LoadProfile("Home");
    QCOMPARE(fields(m_env->profile.settings()), (QStringList{"", "110", "", "", "0", "", "", "", "None", ""}));
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
    struct stat info { };
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
    QCOMPARE(m_env->boxes.shown().size(), 1); // the user is told
    QCOMPARE(m_env->boxes.shown().first().title, u"Settings"_qs);
    const QStringList copies = dir.entryList({"settings.json.damaged-*"}, QDir::Files);
    QCOMPARE(copies.size(), 1);
    QFile kept(dir.filePath(copies.first()));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), content);
    // The store works again from empty.
    writeValue(kTrelvikKey, "LastProfile", "Home");
    QCOMPARE(lastProfile(), u"Home"_qs);
}

void TestSettingsStore::failedWriteIsReported_data()
{
    QTest::addColumn<bool>("full");
    QTest::newRow("disk full") << true;
    QTest::newRow("folder taken by a file") << false;
}

// A write that does not reach the disk says so, naming the file and the
// reason, and changes neither the file nor the store in memory: of several
// values, none.
void TestSettingsStore::failedWriteIsReported()
{
    QFETCH(bool, full);
    if (full) {
        writeValue(kHome, "EmailHost", "old.example");
    } else {
        QFile file(QFileInfo(StoreFilePath()).path());
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const QByteArray before = storeBytes();
    QString error;
    {
        std::optional<FullDisk> disk;
        if (full)
            disk.emplace();
        QVERIFY(!WriteStoreValues(HKEY_CURRENT_USER,
                                  {{kHome, "EmailHost", "new.example"}, {kTrelvikKey, "LastProfile", "Home"}}, &error));
    }
    QVERIFY2(error.contains(StoreFilePath()), qPrintable(error));
    QVERIFY2(error.contains(full ? u"too large"_qs : u"not a folder"_qs, Qt::CaseInsensitive), qPrintable(error));
    QCOMPARE(storeBytes(), before);
    QCOMPARE(readValue(kHome, "EmailHost"), full ? u"old.example"_qs : kMissing);
    QCOMPARE(lastProfile(), kMissing);
    QVERIFY(m_env->boxes.shown().isEmpty());
}

void TestSettingsStore::wrongKindSetAside_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QStringList>("profiles");
    QTest::addColumn<QString>("last");
    QTest::addColumn<QString>("named"); // in the box
    const auto store = [](const QByteArray &profiles, const QByteArray &last) {
        return R"({"keys": {"Software": {"keys": {"Trelvik": {"values": {"LastProfile": )" + last
            + R"(}, "keys": {"Setting": {"keys": {)" + profiles + "}}}}}}}}";
    };
    const QByteArray work = R"("Work": {"values": {"EmailHost": "pop.work"}})";
    QTest::newRow("port written as a number")
        << store(R"("Home": {"values": {"EmailHost": "pop.home", "EmailPort": 995}}, )" + work, R"("Home")")
        << QStringList{"Home", "Work"} << "Home"
        << "EmailPort";
    QTest::newRow("LastProfile a list") << store(R"("Home": {"values": {"EmailHost": "pop.home"}}, )" + work,
                                                 R"(["Home"])")
                                        << QStringList{"Home", "Work"} << kMissing << "LastProfile";
    QTest::newRow("two profiles differ only in case")
        << store(R"("Home": {"values": {"EmailHost": "pop.home"}}, "HOME": {"values": {}}, )" + work, R"("Work")")
        << QStringList{"HOME", "Work"} << "Work"
        << "Home";
}

// One value of the wrong kind costs only itself: the rest is kept, the file
// as it was stays beside, and the user is told what was set aside.
void TestSettingsStore::wrongKindSetAside()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, named);
    const QDir dir = QFileInfo(StoreFilePath()).dir();
    QVERIFY(QDir().mkpath(dir.path()));
    QFile file(StoreFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(json) == json.size());
    file.close();

    QTEST(storedProfiles(), "profiles");
    QTEST(lastProfile(), "last");
    QCOMPARE(m_env->boxes.shown().size(), 1);
    const QString text = m_env->boxes.shown().first().text;
    QVERIFY2(text.contains(named) && text.contains(u"set aside"_qs), qPrintable(text));
    const QStringList copies = dir.entryList({"settings.json.damaged-*"}, QDir::Files);
    QCOMPARE(copies.size(), 1);
    QVERIFY2(text.contains(dir.filePath(copies.first())), qPrintable(text));
    QFile kept(dir.filePath(copies.first()));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), json);
    // The file now holds only what is sound: read afresh, it says nothing more.
    const QByteArray sound = storeBytes();
    QVERIFY(QFile::remove(StoreFilePath()));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(sound) == sound.size());
    file.close();
    QTEST(storedProfiles(), "profiles");
    QCOMPARE(m_env->boxes.shown().size(), 1);
}

// Whatever modes a copy or an earlier version left, the settings are the
// user's own from the start; a temporary a crash left is removed, and
// nothing else, however much its name looks like one.
void TestSettingsStore::startTightensAndTidies()
{
    const QString folder = QFileInfo(StoreFilePath()).path();
    QVERIFY(QDir().mkpath(folder));
    for (const char *name : {"settings.json", "settings.json.Ab3dE9", "settings.json.backup", ".settings.json.backup",
                             "settings.json.damaged-20260101-000000", ".settings.json.trelvik-unsaved-Ab3dE9",
                             ".settings.json.trelvik-unsaved-Ab3dE9.keep"}) {
        QFile file(folder + u'/' + QLatin1String(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("{}") == 2);
    }
    QVERIFY(QFile::setPermissions(StoreFilePath(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    QVERIFY(QFile::setPermissions(folder,
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                      | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    QCOMPARE(lastProfile(), kMissing); // the first read
    struct stat info { };
    QCOMPARE(::stat(QFile::encodeName(StoreFilePath()).constData(), &info), 0);
    QCOMPARE(int(info.st_mode & 0777), 0600);
    QCOMPARE(::stat(QFile::encodeName(folder).constData(), &info), 0);
    QCOMPARE(int(info.st_mode & 0777), 0700);
    QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    left.sort();
    QCOMPARE(left,
             (QStringList{".settings.json.backup", ".settings.json.trelvik-unsaved-Ab3dE9.keep", "settings.json",
                          "settings.json.Ab3dE9", "settings.json.backup", "settings.json.damaged-20260101-000000"}));
}

void TestSettingsStore::emailSecurityByPort_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("stored"); // null: never written
    QTest::addColumn<QString>("loaded");
    QTest::addColumn<QString>("shown"); // what the settings dialog preselects
    QTest::newRow("old profile on 995") << "995" << QString() << "SSL/TLS"
                                        << "SSL/TLS";
    QTest::newRow("old profile on 110") << "110" << QString() << "None"
                                        << "None";
    QTest::newRow("blank on 995") << "995"
                                  << " "
                                  << "SSL/TLS"
                                  << "SSL/TLS";
    QTest::newRow("hand edit") << "110"
                               << " starttls "
                               << "STARTTLS"
                               << "STARTTLS";
    // A value that is none of the three is kept as it is, so that the run
    // refuses it, never the port's default (None: the password in clear);
    // the dialog offers a secured choice in its place.
    QTest::newRow("TLS") << "110"
                         << "TLS"
                         << "TLS"
                         << "STARTTLS";
    QTest::newRow("SSL on 995") << "995"
                                << "SSL"
                                << "SSL"
                                << "SSL/TLS";
    QTest::newRow("STARTTLS-if-offered") << "110"
                                         << "STARTTLS-if-offered"
                                         << "STARTTLS-if-offered"
                                         << "STARTTLS";
}

// Profiles stored before the security choice existed get it from the port.
void TestSettingsStore::emailSecurityByPort()
{
    QFETCH(QString, port);
    QFETCH(QString, stored);
    QFETCH(QString, loaded);
    writeValue(kHome, "EmailPort", port);
    if (!stored.isNull())
        writeValue(kHome, "EmailSecurity", stored);
    m_env->profile.LoadProfile("Home");
    QCOMPARE(m_env->profile.settings().EmailSecurity, loaded);
    QFETCH(QString, shown);
    QCOMPARE(EmailSecurityFor(loaded, port), shown);
}

QTEST_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
