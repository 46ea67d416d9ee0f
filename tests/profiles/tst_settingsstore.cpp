#include "Global.h"
#include "Profile.h"
#include "Scramble.h"
#include "SettingsStore.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <sys/stat.h>

using namespace modRegistry;

namespace {

const QString kProfiles = QStringLiteral("Software\\Trelvik\\Setting\\");

void write(const QString &key, const QString &name, const QString &value)
{
    WriteStoreValue(HKEY_CURRENT_USER, key, name, REG_SZ, value);
}

QString read(const QString &key, const QString &name, const QString &def = QStringLiteral("<default>"))
{
    return ReadStoreValue(HKEY_CURRENT_USER, key, name, def);
}

QStringList listProfiles()
{
    QStringList names;
    for (int i = 0;; ++i) {
        const QString name = EnumStoreKey(HKEY_CURRENT_USER, kProfiles, i);
        if (name == QLatin1String("Not Found"))
            return names;
        names << name;
    }
}

int modeOf(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 0777);
}

QStringList damagedCopies()
{
    return QFileInfo(StoreFilePath()).dir().entryList({QStringLiteral("settings.json.damaged-*")}, QDir::Files);
}

} // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void emptyStore();
    void storeLivesInConfigHome();
    void namesIgnoreCase();
    void listingOrder();
    void deleteTakesValuesAndSubkeys();
    void deleteOfNothing();
    void trailingSeparatorNamesTheKey();
    void emptyTextIsNotTheDefault();
    void longAndForeignTexts();
    void fileAndFolderArePrivate();
    void damagedFileMovedAside_data();
    void damagedFileMovedAside();
    void loadProfileReadsAllEight();
    void emailSecurityOfStoredProfiles_data();
    void emailSecurityOfStoredProfiles();
    void trustedCertificate_data();
    void trustedCertificate();

private:
    testsupport::TempHome *m_home = nullptr;
};

void TestSettingsStore::init()
{
    m_home = new testsupport::TempHome;
    QVERIFY(m_home->isValid());
}

void TestSettingsStore::cleanup()
{
    delete m_home;
    m_home = nullptr;
}

void TestSettingsStore::emptyStore()
{
    QCOMPARE(EnumStoreKey(HKEY_CURRENT_USER, kProfiles, 0), QStringLiteral("Not Found"));
    QCOMPARE(ReadStoreValue(HKEY_CURRENT_USER, QStringLiteral("Software\\Trelvik"), QStringLiteral("LastProfile"), QString()),
             QString());
    for (const QString &name : {QStringLiteral("Home"), QString()}) {
        Global::ProfileSettings = {QStringLiteral("h"), QStringLiteral("1"), QStringLiteral("u"), QStringLiteral("p"),
                                   QStringLiteral("1"), QStringLiteral("n"), QStringLiteral("d"), QStringLiteral("q"),
                                   QStringLiteral("STARTTLS"), QStringLiteral("ab")};
        LoadProfile(name);
        const auto &s = Global::ProfileSettings;
        QCOMPARE(s.EmailHost, QString());
        QCOMPARE(s.EmailPort, QStringLiteral("110"));
        QCOMPARE(s.EmailUserid, QString());
        QCOMPARE(s.EmailPassword, QString());
        QCOMPARE(s.Autodial, QStringLiteral("0"));
        QCOMPARE(s.DialupNumber, QString());
        QCOMPARE(s.DialupUserID, QString());
        QCOMPARE(s.EmailSecurity, QStringLiteral("None"));
        QCOMPARE(s.TrustedCertificate, QString());
        QCOMPARE(s.DialupPassword, QString());
    }
    // Reading never creates the file.
    QVERIFY(!QFile::exists(StoreFilePath()));
}

void TestSettingsStore::storeLivesInConfigHome()
{
    QCOMPARE(StoreFilePath(), m_home->configHome() + QStringLiteral("/Trelvik/settings.json"));
    write(QStringLiteral("Software\\Trelvik"), QStringLiteral("LastProfile"), QStringLiteral("Home"));
    QVERIFY(QFile::exists(StoreFilePath()));
}

void TestSettingsStore::namesIgnoreCase()
{
    write(kProfiles + QStringLiteral("Home"), QStringLiteral("EmailUserId"), QStringLiteral("joe"));
    QCOMPARE(read(kProfiles + QStringLiteral("Home"), QStringLiteral("EmailUserid")), QStringLiteral("joe"));
    QCOMPARE(read(QStringLiteral("SOFTWARE\\trelvik\\setting\\HOME"), QStringLiteral("emailuserid")), QStringLiteral("joe"));

    // A second spelling updates the same key and value; the first spelling stays.
    write(QStringLiteral("software\\TRELVIK\\Setting\\hOME"), QStringLiteral("EMAILUSERID"), QStringLiteral("ann"));
    QCOMPARE(read(kProfiles + QStringLiteral("Home"), QStringLiteral("EmailUserId")), QStringLiteral("ann"));
    QCOMPARE(listProfiles(), QStringList{QStringLiteral("Home")});
    QFile file(StoreFilePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QVERIFY(content.contains("\"EmailUserId\""));
    QVERIFY(!content.contains("EMAILUSERID"));
}

void TestSettingsStore::listingOrder()
{
    for (const char *name : {"work", "Archive", "home", "Zeta", "beta"})
        write(kProfiles + QLatin1String(name), QStringLiteral("EmailHost"), QStringLiteral("x"));
    const QStringList expected{QStringLiteral("Archive"), QStringLiteral("beta"), QStringLiteral("home"),
                               QStringLiteral("work"), QStringLiteral("Zeta")};
    QCOMPARE(listProfiles(), expected);
    QCOMPARE(EnumStoreKey(HKEY_CURRENT_USER, kProfiles, 5), QStringLiteral("Not Found"));
    QCOMPARE(EnumStoreKey(HKEY_CURRENT_USER, kProfiles, -1), QStringLiteral("Not Found"));
    QCOMPARE(EnumStoreKey(HKEY_CURRENT_USER, kProfiles + QStringLiteral("work"), 0), QStringLiteral("Not Found"));
    // The same order on every call.
    QCOMPARE(listProfiles(), expected);
}

void TestSettingsStore::deleteTakesValuesAndSubkeys()
{
    write(kProfiles + QStringLiteral("Home"), QStringLiteral("EmailHost"), QStringLiteral("pop.home"));
    write(kProfiles + QStringLiteral("Home\\Deeper"), QStringLiteral("x"), QStringLiteral("y"));
    write(kProfiles + QStringLiteral("Work"), QStringLiteral("EmailHost"), QStringLiteral("pop.work"));

    DeleteStoreKey(HKEY_CURRENT_USER, kProfiles + QStringLiteral("HOME"));
    QCOMPARE(listProfiles(), QStringList{QStringLiteral("Work")});
    QCOMPARE(read(kProfiles + QStringLiteral("Home"), QStringLiteral("EmailHost")), QStringLiteral("<default>"));
    QCOMPARE(read(kProfiles + QStringLiteral("Home\\Deeper"), QStringLiteral("x")), QStringLiteral("<default>"));
    QCOMPARE(read(kProfiles + QStringLiteral("Work"), QStringLiteral("EmailHost")), QStringLiteral("pop.work"));

    // A key written again after its deletion starts empty.
    write(kProfiles + QStringLiteral("Home"), QStringLiteral("EmailPort"), QStringLiteral("995"));
    QCOMPARE(read(kProfiles + QStringLiteral("Home"), QStringLiteral("EmailHost")), QStringLiteral("<default>"));
}

void TestSettingsStore::deleteOfNothing()
{
    write(kProfiles + QStringLiteral("Work"), QStringLiteral("EmailHost"), QStringLiteral("pop.work"));
    DeleteStoreKey(HKEY_CURRENT_USER, kProfiles + QStringLiteral("Missing"));
    DeleteStoreKey(HKEY_CURRENT_USER, QStringLiteral("Nowhere\\At\\All"));
    // An empty path names the whole store, which is never deleted.
    DeleteStoreKey(HKEY_CURRENT_USER, QString());
    DeleteStoreKey(HKEY_CURRENT_USER, QStringLiteral("\\"));
    QCOMPARE(listProfiles(), QStringList{QStringLiteral("Work")});
}

void TestSettingsStore::trailingSeparatorNamesTheKey()
{
    write(kProfiles, QStringLiteral("EmailHost"), QStringLiteral("pop.none"));
    QCOMPARE(read(QStringLiteral("Software\\Trelvik\\Setting"), QStringLiteral("EmailHost")), QStringLiteral("pop.none"));
    LoadProfile(QString());
    QCOMPARE(Global::ProfileSettings.EmailHost, QStringLiteral("pop.none"));
    // Values of the key itself are not profiles.
    QCOMPARE(listProfiles(), QStringList());
}

void TestSettingsStore::emptyTextIsNotTheDefault()
{
    write(kProfiles + QStringLiteral("Home"), QStringLiteral("EmailPort"), QString());
    QCOMPARE(read(kProfiles + QStringLiteral("Home"), QStringLiteral("EmailPort")), QString());
    LoadProfile(QStringLiteral("Home"));
    QCOMPARE(Global::ProfileSettings.EmailPort, QString());
}

void TestSettingsStore::longAndForeignTexts()
{
    // Texts longer than the old 2047-character buffer are kept: a scrambled
    // password of 999 bytes is 3003 digits long.
    const QString key = kProfiles + QStringLiteral("Home");
    for (const QString &text : {QString(2047, QLatin1Char('a')), QString(2048, QLatin1Char('b')),
                                QString(5000, QLatin1Char('c')), QStringLiteral("Zürich, Київ, 東京 🏔"),
                                QStringLiteral("quote \" backslash \\ newline \n end")}) {
        write(key, QStringLiteral("Note"), text);
        QCOMPARE(read(key, QStringLiteral("Note")), text);
    }
}

void TestSettingsStore::fileAndFolderArePrivate()
{
    write(QStringLiteral("Software\\Trelvik"), QStringLiteral("LastProfile"), QStringLiteral("Home"));
    QCOMPARE(modeOf(StoreFilePath()), 0600);
    QCOMPARE(modeOf(QFileInfo(StoreFilePath()).path()), 0700);
    // A rewrite keeps the mode.
    write(QStringLiteral("Software\\Trelvik"), QStringLiteral("LastProfile"), QStringLiteral("Work"));
    QCOMPARE(modeOf(StoreFilePath()), 0600);
}

void TestSettingsStore::damagedFileMovedAside_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("not json") << QByteArray("this is not { json");
    QTest::newRow("truncated") << QByteArray("{\"keys\": {\"Software\": {\"keys\": {");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("array") << QByteArray("[1, 2, 3]");
    QTest::newRow("value not a text") << QByteArray("{\"values\": {\"LastProfile\": 5}}");
    QTest::newRow("unknown member") << QByteArray("{\"colour\": {}}");
    QTest::newRow("names equal but for case")
        << QByteArray("{\"keys\": {\"Software\": {}, \"SOFTWARE\": {}}}");
    QTest::newRow("separator in a key name") << QByteArray("{\"keys\": {\"a\\\\b\": {}}}");
}

void TestSettingsStore::damagedFileMovedAside()
{
    QFETCH(QByteArray, content);
    QVERIFY(QDir().mkpath(QFileInfo(StoreFilePath()).path()));
    {
        QFile file(StoreFilePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QCOMPARE(read(QStringLiteral("Software\\Trelvik"), QStringLiteral("LastProfile"), QString()), QString());

    const QStringList copies = damagedCopies();
    QCOMPARE(copies.size(), 1);
    QFile kept(QFileInfo(StoreFilePath()).dir().filePath(copies.first()));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), content);

    // The store works again from empty.
    write(QStringLiteral("Software\\Trelvik"), QStringLiteral("LastProfile"), QStringLiteral("Home"));
    QCOMPARE(read(QStringLiteral("Software\\Trelvik"), QStringLiteral("LastProfile")), QStringLiteral("Home"));
    QCOMPARE(damagedCopies().size(), 1);
}

void TestSettingsStore::loadProfileReadsAllEight()
{
    const QString key = kProfiles + QStringLiteral("Home");
    QString email = QStringLiteral(" Geheimnis ");
    QString dialup = QStringLiteral("wählen");
    write(key, QStringLiteral("EmailHost"), QStringLiteral("pop.example.org"));
    write(key, QStringLiteral("EmailPort"), QStringLiteral("995"));
    write(key, QStringLiteral("EmailUserId"), QStringLiteral("joe"));
    write(key, QStringLiteral("EmailPassword"), modSecurity::ScrambleText(email));
    write(key, QStringLiteral("Autodial"), QStringLiteral("1"));
    write(key, QStringLiteral("DialupNumber"), QStringLiteral("555-0100"));
    write(key, QStringLiteral("DialupUserID"), QStringLiteral("dialer"));
    write(key, QStringLiteral("DialupPassword"), modSecurity::ScrambleText(dialup));

    QVERIFY(read(key, QStringLiteral("EmailPassword")) != QStringLiteral("Geheimnis"));
    LoadProfile(QStringLiteral("home"));
    const auto &s = Global::ProfileSettings;
    QCOMPARE(s.EmailHost, QStringLiteral("pop.example.org"));
    QCOMPARE(s.EmailPort, QStringLiteral("995"));
    QCOMPARE(s.EmailUserid, QStringLiteral("joe"));
    QCOMPARE(s.EmailPassword, QStringLiteral("Geheimnis"));
    QCOMPARE(s.Autodial, QStringLiteral("1"));
    QCOMPARE(s.DialupNumber, QStringLiteral("555-0100"));
    QCOMPARE(s.DialupUserID, QStringLiteral("dialer"));
    QCOMPARE(s.DialupPassword, QStringLiteral("wählen"));

    // A hand-edited password reads as empty; the rest of the profile loads.
    write(key, QStringLiteral("EmailPassword"), QStringLiteral("not a stored form"));
    LoadProfile(QStringLiteral("Home"));
    QCOMPARE(Global::ProfileSettings.EmailPassword, QString());
    QCOMPARE(Global::ProfileSettings.EmailHost, QStringLiteral("pop.example.org"));
}

void TestSettingsStore::emailSecurityOfStoredProfiles_data()
{
    // A null text means the value is not stored.
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("loaded");
    QTest::newRow("old profile on 110") << "110" << QString() << "None";
    QTest::newRow("old profile on 995") << "995" << QString() << "SSL/TLS";
    QTest::newRow("old profile on 1995") << "1995" << QString() << "None";
    QTest::newRow("old profile on 9950") << "9950" << QString() << "None";
    QTest::newRow("old profile without a port") << QString() << QString() << "None";
    QTest::newRow("stored None on 995") << "995" << "None" << "None";
    QTest::newRow("stored STARTTLS on 995") << "995" << "STARTTLS" << "STARTTLS";
    QTest::newRow("stored SSL/TLS on 110") << "110" << "SSL/TLS" << "SSL/TLS";
    QTest::newRow("hand-edited letter case") << "110" << "starttls" << "STARTTLS";
    QTest::newRow("stored empty on 995") << "995" << "" << "SSL/TLS";
    QTest::newRow("unknown value on 995") << "995" << "TLS 1.3" << "SSL/TLS";
    QTest::newRow("hand-edited spaces") << "110" << " SSL/TLS " << "SSL/TLS";
    QTest::newRow("unknown value on 110") << "110" << "TLS" << "None";
}

void TestSettingsStore::emailSecurityOfStoredProfiles()
{
    QFETCH(QString, port);
    QFETCH(QString, stored);
    QFETCH(QString, loaded);
    const QString key = kProfiles + QStringLiteral("Old");
    write(key, QStringLiteral("EmailHost"), QStringLiteral("pop.example.org"));
    if (!port.isNull())
        write(key, QStringLiteral("EmailPort"), port);
    if (!stored.isNull())
        write(key, QStringLiteral("EmailSecurity"), stored);
    Global::ProfileSettings.EmailSecurity = QStringLiteral("left over");
    LoadProfile(QStringLiteral("Old"));
    QCOMPARE(Global::ProfileSettings.EmailSecurity, loaded);
    QCOMPARE(Global::ProfileSettings.EmailPort, port.isNull() ? QStringLiteral("110") : port);
    // Loading writes nothing back.
    QCOMPARE(read(key, QStringLiteral("EmailSecurity")), stored.isNull() ? QStringLiteral("<default>") : stored);
}

void TestSettingsStore::trustedCertificate_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("followed");
    const QString hex = QStringLiteral("9fac0343d02d942201b5ce2f47e01ca71a95ce725e8847d98dc07667bee10896");
    const QString colons = QStringLiteral(
        "9F:AC:03:43:D0:2D:94:22:01:B5:CE:2F:47:E0:1C:A7:1A:95:CE:72:5E:88:47:D9:8D:C0:76:67:BE:E1:08:96");
    QTest::newRow("current profile") << "Home" << hex << hex << true;
    QTest::newRow("current profile, other letter case") << "HOME" << hex << hex << true;
    QTest::newRow("colon-separated capitals") << "Home" << colons << hex << true;
    QTest::newRow("another profile") << "Work" << hex << hex << false;
    QTest::newRow("withdrawn") << "Home" << "" << "" << true;
}

void TestSettingsStore::trustedCertificate()
{
    QFETCH(QString, current);
    QFETCH(QString, given);
    QFETCH(QString, stored);
    QFETCH(bool, followed);
    const QString key = kProfiles + QStringLiteral("Home");
    write(key, QStringLiteral("TrustedCertificate"), QStringLiteral("0123"));
    Global::CurrentProfile = current;
    Global::ProfileSettings.TrustedCertificate = QStringLiteral("in memory");
    SaveTrustedCertificate(QStringLiteral("Home"), given);
    QCOMPARE(read(key, QStringLiteral("TrustedCertificate")), stored);
    QCOMPARE(Global::ProfileSettings.TrustedCertificate, followed ? stored : QStringLiteral("in memory"));
    LoadProfile(QStringLiteral("Home"));
    QCOMPARE(Global::ProfileSettings.TrustedCertificate, stored);
    // A profile without the value trusts nothing.
    LoadProfile(QStringLiteral("Work"));
    QCOMPARE(Global::ProfileSettings.TrustedCertificate, QString());
    Global::CurrentProfile.clear();
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
