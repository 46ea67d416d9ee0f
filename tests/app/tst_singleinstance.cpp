// One copy per data folder. The program runs here against a private home;
// every process started is ended by this test.
#include "DataFolderLock.h"
#include "SingleInstance.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Starts the program; TRELVIK_STARTUP_PROBE=report keeps it running after
// its window shows, =quit ends it there. `runtime` overrides XDG_RUNTIME_DIR.
struct Program : QProcess {
    explicit Program(const char *probe, const QString &runtime = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        env.insert(u"TRELVIK_STARTUP_PROBE"_s, QLatin1String(probe));
        if (!runtime.isEmpty())
            env.insert(u"XDG_RUNTIME_DIR"_s, runtime);
        setProcessEnvironment(env);
        start(QStringLiteral(TRELVIK_BINARY), {});
        waitForStarted(10000);
    }
    ~Program() override
    {
        kill();
        waitForFinished(5000);
    }
    // Waits for a line starting with `word`, or for the program to end.
    bool says(const QByteArray &word)
    {
        QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired()) {
            if (canReadLine()) {
                if (readLine().startsWith(word))
                    return true;
                continue;
            }
            if (state() != Running)
                return false;
            waitForReadyRead(int(deadline.remainingTime()));
        }
        return false;
    }
    bool shown() { return says("shown"); }
};

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lockInProcess()
    {
        testsupport::TempHome home;
        const QString folder = home.appDataFolder();
        auto first = std::make_unique<DataFolderLock>(folder);
        QCOMPARE(first->tryAcquire(), DataFolderLock::Result::Acquired); // makes the folder
        QCOMPARE(first->tryAcquire(), DataFolderLock::Result::Acquired); // asking again keeps it
        QCOMPARE(QFileInfo(folder).permissions() & 0x0077, QFile::Permissions());
        DataFolderLock second(folder);
        QCOMPARE(second.tryAcquire(), DataFolderLock::Result::Busy);
        QVERIFY(!second.isHeld());
        first.reset();
        QCOMPARE(second.tryAcquire(), DataFolderLock::Result::Acquired);
    }

    // Whatever lies in the lock file's place, it is no reason to refuse.
    void leftoverLockFileIsNoObstacle_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("folder");
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("garbage") << QByteArray("\xff\x00 12345\nother-host\n", 20) << false;
        QTest::newRow("another host") << QByteArray("1\ntrelvik\nsomehost\n") << false;
        QTest::newRow("a folder") << QByteArray() << true;
        QTest::newRow("a folder holding a file") << QByteArray("someone's notes") << true;
    }
    void leftoverLockFileIsNoObstacle()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, folder);
        testsupport::TempHome home;
        QVERIFY(QDir().mkpath(home.appDataFolder()));
        // In the data folder and where earlier versions kept their lock.
        for (const QString &place : {home.appDataFolder(), home.runtimeDir()}) {
            const QString path = place + u"/trelvik.lock"_s;
            if (folder) {
                QVERIFY(QDir().mkdir(path));
                QFile inside(path + u"/notes.txt"_s);
                QVERIFY(content.isEmpty()
                        || (inside.open(QIODevice::WriteOnly) && inside.write(content) == content.size()));
                continue;
            }
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        Program program("quit");
        QVERIFY2(program.shown(), "a leftover lock file kept the program from starting");
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitCode(), 0);
        if (folder && !content.isEmpty()) {
            // Moved aside whole, never emptied.
            const QStringList aside = QDir(home.appDataFolder()).entryList({u"trelvik.lock.left-*"_s}, QDir::Dirs);
            QCOMPARE(aside.size(), 1);
            QFile inside(home.appDataFolder() + u'/' + aside.first() + u"/notes.txt"_s);
            QVERIFY(inside.open(QIODevice::ReadOnly));
            QCOMPARE(inside.readAll(), content);
        }
    }

    // A command-line run (the timer's check) holds the data folder: the
    // window says so, waits and opens once the run has ended.
    void windowWaitsForCommandLineRun()
    {
        testsupport::TempHome home;
        auto run = std::make_unique<DataFolderLock>(home.appDataFolder());
        QCOMPARE(run->tryAcquire(), DataFolderLock::Result::Acquired);
        Program window("quit");
        QVERIFY2(window.says("waiting"), "the window ended without waiting for the run");
        QCOMPARE(window.state(), QProcess::Running);
        run.reset();
        QVERIFY2(window.shown(), "the window did not open when the run ended");
        QVERIFY(window.waitForFinished(20000));
        QCOMPARE(window.exitCode(), 0);
    }

    // A copy killed inside its socket's listen leaves a folder ".XXXXXX"
    // with the socket "s" in the data folder; the next start removes that,
    // and only that.
    void strayListenFoldersRemoved()
    {
        testsupport::TempHome home;
        const QDir folder(home.appDataFolder());
        QVERIFY(QDir().mkpath(folder.path()));
        for (const char *name : {".Qa1Zb2", ".Kp3Lm4", ".Mine01", ".toolong1", "Rt5Yu6"})
            QVERIFY(folder.mkdir(QLatin1String(name)));
        const QByteArray socketPath = QFile::encodeName(folder.filePath(u".Qa1Zb2/s"_s));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ::close(fd);
        QFile notes(folder.filePath(u".Mine01/s"_s)); // a file "s", not a socket
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.close();
        QFile toolong(folder.filePath(u".toolong1/s"_s));
        QVERIFY(toolong.open(QIODevice::WriteOnly));
        toolong.close();

        Program program("quit");
        QVERIFY(program.shown());
        QVERIFY(program.waitForFinished(20000));
        QStringList left = folder.entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
        left.sort();
        QCOMPARE(left, (QStringList{u".Mine01"_s, u".toolong1"_s, u"Rt5Yu6"_s}));
    }

    // The lock belongs to the data folder, not to the session: a second copy
    // with another runtime folder still ends at once, silently, and the
    // first shows its window again.
    void secondCopyEndsAndRaisesTheFirst()
    {
        testsupport::TempHome home;
        Program first("report");
        QVERIFY2(first.shown(), "the first copy did not show its window");
        QTemporaryDir otherRuntime;
        Program second("quit", otherRuntime.path());
        QVERIFY2(second.waitForFinished(20000), "the second copy kept running");
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(second.readAllStandardOutput(), QByteArray()); // no window shown
        QCOMPARE(second.readAllStandardError(), QByteArray()); // and nothing said
        QVERIFY2(first.says("raised"), "the first copy was not asked to show its window");
        QCOMPARE(first.state(), QProcess::Running);
    }

    void lockOfKilledCopyIsTakenOver()
    {
        testsupport::TempHome home;
        {
            Program crashed("report");
            QVERIFY(crashed.shown());
        } // killed: its lock file and socket stay behind
        QVERIFY(QFile::exists(home.appDataFolder() + u"/trelvik.lock"_s));
        Program next("report");
        QVERIFY2(next.shown(), "a killed copy's lock kept the program from starting");
        // The new holder listens again on the socket the killed copy left.
        Program third("quit");
        QVERIFY(third.waitForFinished(20000));
        QVERIFY2(next.says("raised"), "the new holder does not answer later starts");
    }
};

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
