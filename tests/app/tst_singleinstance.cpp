// One copy at a time. The program runs here against a private home; every
// process started is ended by this test.
#include "SingleInstance.h"
#include "TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// Starts the program; TRELVIK_STARTUP_PROBE=report keeps it running after
// its window shows, =quit ends it there.
struct Program : QProcess {
    explicit Program(const char *probe)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        env.insert(u"TRELVIK_STARTUP_PROBE"_s, QLatin1String(probe));
        setProcessEnvironment(env);
        start(QStringLiteral(TRELVIK_BINARY), {});
        waitForStarted(10000);
    }
    ~Program() override { kill(); waitForFinished(5000); }
    bool shown()   // waits for the window, or for the program to end without one
    {
        QDeadlineTimer deadline(20000);
        while (!canReadLine() && state() == Running && !deadline.hasExpired())
            waitForReadyRead(int(deadline.remainingTime()));
        return canReadLine() && readLine().startsWith("shown");
    }
};

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lockInProcess()
    {
        testsupport::TempHome home;
        QCOMPARE(QFileInfo(SingleInstance::lockPath()).absolutePath(), QFileInfo(home.runtimeDir()).absoluteFilePath());
        auto first = std::make_unique<SingleInstance>();
        QVERIFY(first->tryAcquire() && first->tryAcquire());   // asking again keeps it
        SingleInstance second;
        QVERIFY(!second.tryAcquire() && !second.isHeld());
        first.reset();
        QVERIFY(second.tryAcquire());
    }

    void secondCopyEndsSilently()
    {
        testsupport::TempHome home;
        Program first("report");
        QVERIFY2(first.shown(), "the first copy did not show its window");
        Program second("quit");
        QVERIFY2(second.waitForFinished(20000), "the second copy kept running");
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(second.readAllStandardOutput(), QByteArray());   // no window shown
        QCOMPARE(second.readAllStandardError(), QByteArray());    // and nothing said
        QCOMPARE(first.state(), QProcess::Running);
    }

    void lockOfCrashedCopyIsTakenOver()
    {
        testsupport::TempHome home;
        {
            Program crashed("report");
            QVERIFY(crashed.shown());
        }   // killed: its lock file stays behind
        QVERIFY(QFile::exists(SingleInstance::lockPath()));
        Program next("quit");
        QVERIFY2(next.shown(), "a stale lock kept the program from starting");
        QVERIFY(next.waitForFinished(20000));
        QCOMPARE(next.exitCode(), 0);
    }
};

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
