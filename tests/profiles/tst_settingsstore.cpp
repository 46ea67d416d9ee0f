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

const QString kHome = kSettingKeyPrefix + u"Home"_qs;

int modeOf(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

QStringList damagedCopies()
{
    return QFileInfo(StoreFilePath()).dir().entryList({u"settings.json.damaged-*"_qs}, QDir::Files);
}

} // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { m_env = std::make_unique<Env>(); }
    void cleanup() { m_env.reset(); }
    void emptyStoreLoadsDefaults();
    void namesIgnoreCaseAndListInOrder();
    void deleteTakesValues();
    void textsKeptWhole();
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

void TestSettingsStore::emptyStoreLoadsDefaults()
{
    const QStringList defaults{"", "110", "", "", "0", "", "", "", "None", ""};
    for (const QString &name : {u"Home"_qs, QString()}) {
        Global::ProfileSettings = {"h", "1", "u", "p", "1", "n", "d", "q", "STARTTLS", "ab"};
        LoadProfile(name);
        QCOMPARE(fields(Global::ProfileSettings), defaults);
    }
    QCOMPARE(EnumStoreKey(HKEY_CURRENT_USER, kSettingKeyPrefix, 0), u"Not Found"_qs);
    QVERIFY(!QFile::exists(StoreFilePath())); // reading never creates the file
}

void TestSettingsStore::namesIgnoreCaseAndListInOrder()
{
    writeValue(kHome, u"EmailUserId"_qs, u"joe"_qs);
    QCOMPARE(readValue(kHome, u"EmailUserid"_qs), u"joe"_qs);
    // A second spelling updates the same key and value; the first spelling stays.
    writeValue(QStringLiteral("software\\TRELVIK\\Setting\\hOME"), u"EMAILUSERID"_qs, u"ann"_qs);
    QCOMPARE(readValue(QStringLiteral("SOFTWARE\\trelvik\\setting\\HOME"), u"emailuserid"_qs),
             u"ann"_qs);
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
    seedProfile(u"Home"_qs);
    writeValue(kHome + QStringLiteral("\\Deeper"), u"x"_qs, u"y"_qs);
    seedProfile(u"Work"_qs);
    DeleteStoreKey(HKEY_CURRENT_USER, kSettingKeyPrefix + u"HOME"_qs);
    QCOMPARE(storedProfiles(), QStringList{u"Work"_qs});
    QCOMPARE(readValue(kHome + QStringLiteral("\\Deeper"), u"x"_qs), kMissing);
    // Written again, the key starts empty.
    writeValue(kHome, u"EmailPort"_qs, u"995"_qs);
    QCOMPARE(readValue(kHome, u"EmailHost"_qs), kMissing);
    // Nothing, or the whole store, is never deleted.
    for (const QString &path : {QStringLiteral("Nowhere\\At\\All"), QString(), QStringLiteral("\\")})
        DeleteStoreKey(HKEY_CURRENT_USER, path);
    QCOMPARE(storedProfiles(), (QStringList{u"Home"_qs, u"Work"_qs}));
}

void TestSettingsStore::textsKeptWhole()
{
    // "" is a value of its own, not the default; long texts (a scrambled
    // 999-byte password is 3003 digits) are not cut.
    for (const QString &text : {QString(""), QString(5000, u'c'), u"Zürich, 東京 🏔 \" \\ \n end"_qs}) {
        writeValue(kHome, u"EmailPort"_qs, text);
        QCOMPARE(readValue(kHome, u"EmailPort"_qs), text);
    }
    writeValue(kHome, u"EmailPort"_qs, QString(""));
    LoadProfile(u"Home"_qs);
    QCOMPARE(Global::ProfileSettings.EmailPort, QString(""));
}

void TestSettingsStore::fileIsPrivate()
{
    QCOMPARE(StoreFilePath(), m_env->home.configHome() + u"/Trelvik/settings.json"_qs);
    for (const char *name : {"Home", "Work"}) { // a rewrite keeps the mode
        writeValue(kTrelvikKey, u"LastProfile"_qs, QLatin1String(name));
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
    writeValue(kTrelvikKey, u"LastProfile"_qs, u"Home"_qs);
    QCOMPARE(lastProfile(), u"Home"_qs);
    QCOMPARE(damagedCopies().size(), 1);
}

void TestSettingsStore::loadProfileUnscrambles()
{
    QString email = u" Geheimnis "_qs;
    QString dialup = u"wählen"_qs;
    const QStringList values{"pop.example.org", "995", "joe", modSecurity::ScrambleText(email), "1", "555-0100",
                             "dialer", modSecurity::ScrambleText(dialup), "STARTTLS", "ab12"};
    const QStringList names{"EmailHost",    "EmailPort",    "EmailUserId",    "EmailPassword", "Autodial",
                            "DialupNumber", "DialupUserID", "DialupPassword", "EmailSecurity", "TrustedCertificate"};
    for (int i = 0; i < names.size(); ++i)
        writeValue(kHome, names.at(i), values.at(i));
    LoadProfile(u"home"_qs);
    QStringList loaded = values;
    loaded[3] = u"Geheimnis"_qs;
    loaded[7] = dialup;
    QCOMPARE(fields(Global::ProfileSettings), loaded);
    // A hand-edited password reads as empty; the rest of the profile loads.
    writeValue(kHome, u"EmailPassword"_qs, u"Geheimnis"_qs);
    LoadProfile(u"Home"_qs);
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
    writeValue(kHome, u"EmailPort"_qs, port);
    if (!stored.isNull())
        writeValue(kHome, u"EmailSecurity"_qs, stored);
    LoadProfile(u"Home"_qs);
    QCOMPARE(Global::ProfileSettings.EmailSecurity, loaded);
    // Loading writes nothing back.
    QCOMPARE(readValue(kHome, u"EmailSecurity"_qs), stored.isNull() ? kMissing : stored);
}

void TestSettingsStore::trustedCertificate()
{
    // Any spelling is stored alike; the profile in memory follows only when
    // it is the one saved to (letter case aside).
    const QString hex = u"9fac0343d02d942201b5ce2f47e01ca71a95ce725e8847d98dc07667bee10896"_qs;
    QString colons;
    for (int i = 0; i < hex.size(); i += 2)
        colons += (i ? u":"_qs : QString()) + hex.mid(i, 2).toUpper();
    Global::CurrentProfile = u"Work"_qs;
    SaveTrustedCertificate(u"Home"_qs, colons);
    QCOMPARE(readValue(kHome, "TrustedCertificate"), hex);
    QCOMPARE(Global::ProfileSettings.TrustedCertificate, QString());
    Global::CurrentProfile = u"HOME"_qs;
    SaveTrustedCertificate(u"Home"_qs, QString()); // withdrawn
    QCOMPARE(readValue(kHome, "TrustedCertificate"), QString());
    SaveTrustedCertificate(u"Home"_qs, hex);
    QCOMPARE(Global::ProfileSettings.TrustedCertificate, hex);
}

QTEST_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
