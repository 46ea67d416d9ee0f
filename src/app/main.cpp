#include "AppIcons.h"
#include "CommandLine.h"
#include "DataFolderLock.h"
#include "ExitCode.h"
#include "MessageBox.h"
#include "MessageBoxDialog.h"
#include "RuleDatabase.h"
#include "SingleInstance.h"
#include "TrelvikVersion.h"
#include "frmMain.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>

namespace {

// One line for a probing test or benchmark (TRELVIK_STARTUP_PROBE set).
void reportToProbe(const char *line)
{
    if (qEnvironmentVariableIsEmpty("TRELVIK_STARTUP_PROBE"))
        return;
    std::printf("%s\n", line);
    std::fflush(stdout);
}

// For benchmarks and start-up tests: TRELVIK_STARTUP_PROBE=report prints
// "shown <ms>" once the window is on screen; =quit also ends the program.
void armStartupProbe(const QElapsedTimer &sinceStart)
{
    const QByteArray probe = qgetenv("TRELVIK_STARTUP_PROBE");
    if (probe != "report" && probe != "quit")
        return;
    QTimer::singleShot(0, qApp, [probe, ms = sinceStart.elapsed()] {
        std::printf("shown %lld\n", static_cast<long long>(ms));
        std::fflush(stdout);
        if (probe == "quit")
            QApplication::quit();
    });
}

void setApplicationNames()
{
    QCoreApplication::setApplicationName(QStringLiteral("Trelvik"));
    QCoreApplication::setApplicationVersion(QLatin1String(kTrelvikVersion));
}

// The command line: no widget, no display, the same lock as the window.
int runCommandLine(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    setApplicationNames();
    DataFolderLock lock(RuleDatabase::defaultFolder());
    return CommandLine::run(QCoreApplication::arguments(), [&lock](QString *error) {
        switch (lock.tryAcquire(error)) {
        case DataFolderLock::Result::Acquired:
            return CommandLine::Lock::Held;
        case DataFolderLock::Result::Busy:
            return CommandLine::Lock::Busy;
        case DataFolderLock::Result::Failed:
            break;
        }
        return CommandLine::Lock::Failed;
    });
}

enum class Waited { Opened, WindowRaised, Cancelled, Failed };

// While a command-line run (the timer's check, say) holds the data folder,
// the window must not open on its database: it says so and opens as soon as
// the run ends, unless the user cancels. A window that starts listening in
// the meantime (it had taken the folder but not yet its socket) is raised
// instead.
Waited waitForCommandLineRun(SingleInstance &instance, QString *error)
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("Trelvik"),
                    QStringLiteral("A mail check started from the command line (for example by the timer) is running.\n"
                                   "Trelvik opens when it ends."),
                    QMessageBox::Cancel);
    box.setObjectName(QStringLiteral("CheckRunningBox"));
    Waited result = Waited::Cancelled;
    QTimer poll;
    poll.setInterval(250);
    QObject::connect(&poll, &QTimer::timeout, &box, [&] {
        switch (instance.tryAcquire(error)) {
        case DataFolderLock::Result::Acquired:
            result = Waited::Opened;
            break;
        case DataFolderLock::Result::Failed:
            result = Waited::Failed;
            break;
        case DataFolderLock::Result::Busy:
            if (!instance.askHolderToShow())
                return;
            result = Waited::WindowRaised;
            break;
        }
        poll.stop();
        box.done(0);
    });
    poll.start();
    reportToProbe("waiting");
    box.exec();
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    if (CommandLine::wanted(argc, argv))
        return runCommandLine(argc, argv);
    if (CommandLine::noDisplayForWindow(argc, argv))
        return ExitCode::Failure;

    QElapsedTimer sinceStart;
    sinceStart.start();
    QApplication app(argc, argv);
    setApplicationNames();
    QApplication::setDesktopFileName(QStringLiteral("trelvik"));

    // Before the database is touched or a window shown: a second copy asks
    // the first to show its window and ends here, silently.
    SingleInstance instance;
    QString lockError;
    switch (instance.tryAcquire(&lockError)) {
    case DataFolderLock::Result::Busy:
        if (instance.askHolderToShow())
            return 0;
        // No window answered: a command-line run holds the folder.
        switch (waitForCommandLineRun(instance, &lockError)) {
        case Waited::Opened:
            break;
        case Waited::WindowRaised:
        case Waited::Cancelled:
            return 0;
        case Waited::Failed:
            installMessageBoxDialogs();
            MessageBox::show(lockError, QStringLiteral("Error"), MessageBox::Icon::Critical);
            return 1;
        }
        break;
    case DataFolderLock::Result::Failed:
        installMessageBoxDialogs();
        MessageBox::show(lockError, QStringLiteral("Error"), MessageBox::Icon::Critical);
        return 1;
    case DataFolderLock::Result::Acquired:
        break;
    }

    // Listening at once tells a later start that a window is coming (the
    // database check and compaction may take a while), not a command-line
    // run; a request before the window exists has nothing to raise.
    instance.listen();
    QApplication::setWindowIcon(AppIcons::appIcon());
    installMessageBoxDialogs();

    frmMain window;
    if (!window.Form_Load())
        return 1;
    window.show();
    QObject::connect(&instance, &SingleInstance::showRequested, &window, [&window] {
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
        window.show();
        window.raise();
        window.activateWindow();
        reportToProbe("raised");
    });
    armStartupProbe(sinceStart);
    return app.exec();
}
