#include "ProfileTestHelpers.h"
#include "Scramble.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <memory>
#include <sys/stat.h>

using namespace modRegistry;
using namespace profiletest;

namespace {

const QString kHome = kSettingKeyPrefix + "Home";

int modeOf(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

QStringList damagedCopies()
{
    return QFileInfo(StoreFilePath()).dir().entryList({"settings.json.damaged-*"}, QDir::Files);
}

} // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { m_env = std::make_unique<Env>(); }
    void cleanup() { m_env.reset(); }
    void defaultsAndTexts();
    void namesIgnoreCaseAndListInOrder();
    void deleteTakesValues();
    void fileIsPrivate();
    void damagedFileMovedAside_data();
    void damagedFileMovedAside();
    void loadProfileUnscrambles();
    void emailSecurityByPort_data();
    void emailSecurityByPort();
    void trustedCertificate();

private:
    std::unique_ptr<Env> m_env;
};

void TestSettingsStore::defaultsAndTexts()
{
    const QStringList defaults{"", "110", "", "", "0", "", "", "", "None", ""};
    for (const QString &name : {QStringLiteral("Home"), QString()}) {
        Global::ProfileSettings = {"h", "1", "u", "p", "1", "n", "d", "q", "STARTTLS", "ab"};
        LoadProfile(name);
        QCOMPARE(fields(Global::ProfileSettings), defaults);
    }
    QCOMPARE(EnumStoreKey(HKEY_CURRENT_USER, kSettingKeyPrefix, 0), QStringLiteral("Not Found"));
    QVERIFY(!QFile::exists(StoreFilePath())); // reading never creates the file

    // Long texts (a scrambled 999-byte password is 3003 digits) are not cut;
    // "" is a value of its own, not the default.
    for (const QString &text : {QString(5000, u'c'), u"Zürich, 東京 🏔 \" \\ \n end"_qs, QString("")}) {
        writeValue(kHome, "EmailPort", text);
        QCOMPARE(readValue(kHome, "EmailPort"), text);
    }
    LoadProfile("Home");
    QCOMPARE(Global::ProfileSettings.EmailPort, QString(""));
}

void TestSettingsStore::namesIgnoreCaseAndListInOrder()
{
    writeValue(kHome, "EmailUserId", "joe");
    QCOMPARE(readValue(kHome, "EmailUserid"), u"joe"_qs);
    // A second spelling updates the same key and value; the first spelling stays.
    writeValue(QStringLiteral("software\\TRELVIK\\Setting\\hOME"), "EMAILUSERID", "ann");
    QCOMPARE(readValue("SOFTWARE\\trelvik\\setting\\HOME", "emailuserid"), u"ann"_qs);
    QFile file(StoreFilePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QVERIFY(content.contains("\"EmailUserId\"") && content.contains("\"Home\"") && !content.contains("EMAILUSERID"));

    for (const char *name : {"work", "Archive", "Zeta", "beta"})
        seedProfile(QLatin1String(name));
    QCOMPARE(storedProfiles(), (QStringList{"Archive", "beta", "Home", "work", "Zeta"}));
    QCOMPARE(EnumStoreKey(HKEY_CURRENT_USER, kSettingKeyPrefix, 5), u"Not Found"_qs);
    QCOMPARE(EnumStoreKey(HKEY_CURRENT_USER, kSettingKeyPrefix, -1), u"Not Found"_qs);
}

void TestSettingsStore::deleteTakesValues()
{
    seedProfile("Home");
    writeValue(kHome + QStringLiteral("\\Deeper"), "x", "y");
    seedProfile("Work");
    DeleteStoreKey(HKEY_CURRENT_USER, kSettingKeyPrefix + "HOME");
    QCOMPARE(storedProfiles(), QStringList{"Work"});
    QCOMPARE(readValue(kHome + QStringLiteral("\\Deeper"), "x"), kMissing);
    // Written again, the key starts empty.
    writeValue(kHome, "EmailPort", "995");
    QCOMPARE(readValue(kHome, "EmailHost"), kMissing);
    // Nothing, or the whole store, is never deleted.
    for (const QString &path : {QStringLiteral("Nowhere\\At\\All"), QString(), QStringLiteral("\\")})
        DeleteStoreKey(HKEY_CURRENT_USER, path);
    QCOMPARE(storedProfiles(), (QStringList{"Home", "Work"}));
}

void TestSettingsStore::fileIsPrivate()
{
    QCOMPARE(StoreFilePath(), m_env->home.configHome() + "/Trelvik/settings.json");
    for (const char *name : {"Home", "Work"}) { // a rewrite keeps the mode
        writeValue(kTrelvikKey, "LastProfile", QLatin1String(name));
        QCOMPARE(modeOf(StoreFilePath()), 0600);
        QCOMPARE(modeOf(QFileInfo(StoreFilePath()).path()), 0700);
    }
}

void TestSettingsStore::damagedFileMovedAside_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("not json") << QByteArray("this is not { json");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("value not a text") << QByteArray("{\"values\": {\"LastProfile\": 5}}");
    QTest::newRow("names equal but for case") << QByteArray("{\"keys\": {\"Software\": {}, \"SOFTWARE\": {}}}");
    QTest::newRow("separator in a key name") << QByteArray("{\"keys\": {\"a\\\\b\": {}}}");
}

void TestSettingsStore::damagedFileMovedAside()
{
    QFETCH(QByteArray, content);
    QVERIFY(QDir().mkpath(QFileInfo(StoreFilePath()).path()));
    QFile file(StoreFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    QCOMPARE(lastProfile(), kMissing);
    const QStringList copies = damagedCopies();
    QCOMPARE(copies.size(), 1);
    QFile kept(QFileInfo(StoreFilePath()).dir().filePath(copies.first()));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), content);
    // The store works again from empty.
    writeValue(kTrelvikKey, "LastProfile", "Home");
    QCOMPARE(lastProfile(), u"Home"_qs);
    QCOMPARE(damagedCopies().size(), 1);
}

void TestSettingsStore::loadProfileUnscrambles()
{
    QString email = " Geheimnis ";
    QString dialup = "wählen";
    const QStringList values{"pop.example.org", "995", "joe", modSecurity::ScrambleText(email), "1", "555-0100",
                             "dialer", modSecurity::ScrambleText(dialup), "STARTTLS", "ab12"};
    const QStringList names{"EmailHost",    "EmailPort",    "EmailUserId",    "EmailPassword", "Autodial",
                            "DialupNumber", "DialupUserID", "DialupPassword", "EmailSecurity", "TrustedCertificate"};
    for (int i = 0; i < names.size(); ++i)
        writeValue(kHome, names.at(i), values.at(i));
    LoadProfile("home");
    QStringList loaded = values;
    loaded[3] = "Geheimnis";
    loaded[7] = dialup;
    QCOMPARE(fields(Global::ProfileSettings), loaded);
    // A hand-edited password reads as empty; the rest of the profile loads.
    writeValue(kHome, "EmailPassword", "Geheimnis");
    LoadProfile("Home");
    loaded[3].clear();
    QCOMPARE(fields(Global::ProfileSettings), loaded);
}

void TestSettingsStore::emailSecurityByPort_data()
{
    // A null text means the value is not stored.
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("loaded");
    QTest::newRow("old profile on 110") << "110" << QString() << "None";
    QTest::newRow("old profile on 995") << "995" << QString() << "SSL/TLS";
    QTest::newRow("old profile on 9950") << "9950" << QString() << "None";
    QTest::newRow("stored STARTTLS on 995") << "995" << "STARTTLS" << "STARTTLS";
    QTest::newRow("hand-edited spelling") << "110" << " starttls " << "STARTTLS";
    QTest::newRow("unknown value on 995") << "995" << "TLS 1.3" << "SSL/TLS";
}

void TestSettingsStore::emailSecurityByPort()
{
    QFETCH(QString, port);
    QFETCH(QString, stored);
    QFETCH(QString, loaded);
    writeValue(kHome, "EmailPort", port);
    if (!stored.isNull())
        writeValue(kHome, "EmailSecurity", stored);
    LoadProfile("Home");
    QCOMPARE(Global::ProfileSettings.EmailSecurity, loaded);
    // Loading writes nothing back.
    QCOMPARE(readValue(kHome, "EmailSecurity"), stored.isNull() ? kMissing : stored);
}

void TestSettingsStore::trustedCertificate()
{
    // Any spelling is stored alike; the profile in memory follows only when
    // it is the one saved to (letter case aside).
    const QString hex = "9fac0343d02d942201b5ce2f47e01ca71a95ce725e8847d98dc07667bee10896";
    QString colons;
    for (int i = 0; i < hex.size(); i += 2)
        colons += (i ? ":" : QString()) + hex.mid(i, 2).toUpper();
    Global::CurrentProfile = "Work";
    SaveTrustedCertificate("Home", colons);
    QCOMPARE(readValue(kHome, "TrustedCertificate"), hex);
    QCOMPARE(Global::ProfileSettings.TrustedCertificate, QString());
    Global::CurrentProfile = "HOME";
    SaveTrustedCertificate("Home", QString()); // withdrawn
    QCOMPARE(readValue(kHome, "TrustedCertificate"), QString());
    SaveTrustedCertificate("Home", hex);
    QCOMPARE(Global::ProfileSettings.TrustedCertificate, hex);
}

QTEST_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
