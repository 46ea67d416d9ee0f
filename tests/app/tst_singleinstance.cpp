// One copy at a time: the lock, a second copy ending silently, a lock left
// by a crashed copy taken over. The program itself is started here, against
// a private home, and every process started is ended by this test.
#include "SingleInstance.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QtTest>

namespace {

QProcessEnvironment programEnvironment(const QString &probe)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("TRELVIK_STARTUP_PROBE"), probe);
    return env;
}

// Starts the program; with "report" it keeps running after its window shows.
bool startProgram(QProcess &p, const QString &probe)
{
    p.setProcessEnvironment(programEnvironment(probe));
    p.start(QStringLiteral(TRELVIK_BINARY), {});
    return p.waitForStarted(10000);
}

bool waitForShown(QProcess &p)
{
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        if (p.canReadLine())
            return p.readLine().startsWith("shown");
        if (p.state() != QProcess::Running)
            return p.canReadLine() && p.readLine().startsWith("shown");
        p.waitForReadyRead(int(deadline.remainingTime()));
    }
    return false;
}

void stop(QProcess &p)
{
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(5000);
    }
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lockInProcess();
    void lockLivesInRuntimeFolder();
    void secondCopyEndsSilently();
    void oldLockOfLiveCopyIsKept();
    void lockOfCrashedCopyIsTakenOver();
};

void TestSingleInstance::lockInProcess()
{
    testsupport::TempHome home;
    auto first = std::make_unique<SingleInstance>();
    QVERIFY(first->tryAcquire());
    QVERIFY(first->tryAcquire());   // asking again keeps it
    SingleInstance second;
    QVERIFY(!second.tryAcquire());
    QVERIFY(!second.isHeld());
    first.reset();
    QVERIFY(second.tryAcquire());
}

void TestSingleInstance::lockLivesInRuntimeFolder()
{
    testsupport::TempHome home;
    QCOMPARE(QFileInfo(SingleInstance::lockPath()).absolutePath(), QFileInfo(home.runtimeDir()).absoluteFilePath());
}

void TestSingleInstance::secondCopyEndsSilently()
{
    testsupport::TempHome home;
    QProcess first;
    QVERIFY(startProgram(first, QStringLiteral("report")));
    QVERIFY2(waitForShown(first), "the first copy did not show its window");

    QProcess second;
    QVERIFY(startProgram(second, QStringLiteral("quit")));
    const bool ended = second.waitForFinished(20000);
    if (!ended)
        stop(second);
    QVERIFY2(ended, "the second copy kept running");
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(second.readAllStandardOutput(), QByteArray());   // no window shown
    QCOMPARE(second.readAllStandardError(), QByteArray());    // and nothing said
    QVERIFY(QFile::exists(SingleInstance::lockPath()));
    QCOMPARE(first.state(), QProcess::Running);
    stop(first);
}

void TestSingleInstance::oldLockOfLiveCopyIsKept()
{
    testsupport::TempHome home;
    QProcess first;
    QVERIFY(startProgram(first, QStringLiteral("report")));
    QVERIFY(waitForShown(first));
    // A copy that has run for hours holds an old lock; that alone must not
    // let another copy in.
    QFile lock(SingleInstance::lockPath());
    QVERIFY(lock.open(QIODevice::ReadWrite));
    QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-6 * 3600), QFileDevice::FileModificationTime));
    lock.close();

    SingleInstance here;
    QVERIFY(!here.tryAcquire());
    QProcess second;
    QVERIFY(startProgram(second, QStringLiteral("quit")));
    QVERIFY(second.waitForFinished(20000) || (stop(second), false));
    QCOMPARE(second.readAllStandardOutput(), QByteArray());
    QCOMPARE(first.state(), QProcess::Running);
    stop(first);
}

void TestSingleInstance::lockOfCrashedCopyIsTakenOver()
{
    testsupport::TempHome home;
    QProcess crashed;
    QVERIFY(startProgram(crashed, QStringLiteral("report")));
    QVERIFY(waitForShown(crashed));
    stop(crashed);   // killed: its lock file stays behind
    QVERIFY(QFile::exists(SingleInstance::lockPath()));

    QProcess next;
    QVERIFY(startProgram(next, QStringLiteral("quit")));
    const bool shown = waitForShown(next);
    QVERIFY(next.waitForFinished(20000) || (stop(next), false));
    QVERIFY2(shown, "a stale lock kept the program from starting");
    QCOMPARE(next.exitCode(), 0);
}

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
