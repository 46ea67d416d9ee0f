// Where the per-user files live, and how a file is replaced without ever
// leaving less than its old content.
#include "DurableFile.h"
#include "UserPlaces.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

int mode(const QString &path)
{
    struct stat st { };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// Every file write of this process past `bytes` fails as on a full disk
// (with EFBIG instead of ENOSPC), for as long as it lives. SIGXFSZ keeps its
// default, as the program has it: a write that passed the limit without
// care would end this test.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_DFL);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        m_set = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_old); }
    bool isSet() const { return m_set; }

private:
    rlimit m_old{};
    bool m_set = false;
};

} // namespace

class TestFilePlaces : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The base-directory rules: only an absolute path counts.
    void userPlaces_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("used");
        QTest::newRow("absolute") << QByteArray("/srv/me/place") << true;
        QTest::newRow("absolute, untidy") << QByteArray("/srv/me//place/") << true;
        QTest::newRow("relative") << QByteArray("place") << false;
        QTest::newRow("dot relative") << QByteArray("./place") << false;
        QTest::newRow("tilde is no home") << QByteArray("~/place") << false;
        QTest::newRow("empty") << QByteArray("") << false;
    }
    void userPlaces()
    {
        QFETCH(QByteArray, value);
        QFETCH(bool, used);
        const QByteArray oldData = qgetenv("XDG_DATA_HOME");
        const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_DATA_HOME", value);
        qputenv("XDG_CONFIG_HOME", value);
        const QString data = UserPlaces::dataHome();
        const QString config = UserPlaces::configHome();
        qputenv("XDG_DATA_HOME", oldData);
        qputenv("XDG_CONFIG_HOME", oldConfig);
        QCOMPARE(data, used ? u"/srv/me/place"_s : QDir::homePath() + u"/.local/share"_s);
        QCOMPARE(config, used ? u"/srv/me/place"_s : QDir::homePath() + u"/.config"_s);
    }

    // Only the writer's own leftovers are taken for temporaries.
    void temporaryNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("temporary");
        QTest::newRow("own") << u".settings.json.trelvik-unsaved-Ab3dE9"_s << true;
        QTest::newRow("a user's backup") << u"settings.json.backup"_s << false;
        QTest::newRow("six letters, old pattern") << u"settings.json.Ab3dE9"_s << false;
        QTest::newRow("five") << u".settings.json.trelvik-unsaved-Ab3dE"_s << false;
        QTest::newRow("seven") << u".settings.json.trelvik-unsaved-Ab3dE9x"_s << false;
        QTest::newRow("not a letter") << u".settings.json.trelvik-unsaved-Ab3d-9"_s << false;
        QTest::newRow("non-ASCII letter") << u".settings.json.trelvik-unsaved-Ab3dE\u00e9"_s << false;
        QTest::newRow("another file's") << u".rules.txt.trelvik-unsaved-Ab3dE9"_s << false;
    }
    void temporaryNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, temporary);
        QCOMPARE(DurableFile::isTemporaryOf(name, u"settings.json"_s), temporary);
    }

    void writeReplacesWhole()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"out.txt"_s);
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        QString error;
        QVERIFY2(DurableFile::write(path, "new content", DurableFile::Access::LikeTarget, &error), qPrintable(error));
        QCOMPARE(contents(path), QByteArray("new content"));
        QCOMPARE(mode(path), 0640);
        QVERIFY(DurableFile::write(path, "private", DurableFile::Access::Private, &error));
        QCOMPARE(mode(path), 0600);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"out.txt"_s});

        // Through a link the link stays, and its target gets the content.
        const QString link = dir.filePath(u"link.txt"_s);
        QVERIFY(QFile::link(path, link));
        QVERIFY(DurableFile::write(link, "via link", DurableFile::Access::LikeTarget, &error));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(contents(path), QByteArray("via link"));
    }

    // A write the disk cannot take: the old file stays whole, the reason is
    // the system's, no temporary is left behind; small and large alike.
    void fullDiskKeepsOldFile_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("fits no byte") << 1;
        QTest::newRow("cut in the middle") << 4096;
        QTest::newRow("large") << (1 << 20);
    }
    void fullDiskKeepsOldFile()
    {
        QFETCH(int, size);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"out.txt"_s);
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old rules\n") == 10);
        old.close();
        QString error;
        bool written = true;
        {
            FileSizeLimit limit(size == 1 ? 0 : size / 2);
            QVERIFY(limit.isSet());
            written = DurableFile::write(path, QByteArray(size == 1 ? 1 : size, 'x'), DurableFile::Access::LikeTarget,
                                         &error);
        }
        QVERIFY(!written);
        QCOMPARE(error, QString::fromLocal8Bit(std::strerror(EFBIG)));
        QVERIFY(std::signal(SIGXFSZ, SIG_DFL) == SIG_DFL); // as it was before the write
        QCOMPARE(contents(path), QByteArray("old rules\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"out.txt"_s});
    }
};

QTEST_GUILESS_MAIN(TestFilePlaces)
#include "tst_fileplaces.moc"
