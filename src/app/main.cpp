#include "AppIcons.h"
#include "MessageBoxDialog.h"
#include "SingleInstance.h"
#include "frmMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>

namespace {

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

} // namespace

int main(int argc, char *argv[])
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Trelvik"));
    QApplication::setApplicationVersion(QStringLiteral("3.4"));
    QApplication::setDesktopFileName(QStringLiteral("trelvik"));

    // Before the database is touched or a window shown: a second copy ends
    // here, silently.
    SingleInstance instance;
    if (!instance.tryAcquire())
        return 0;

    QApplication::setWindowIcon(AppIcons::appIcon());
    installMessageBoxDialogs();

    frmMain window;
    if (!window.Form_Load())
        return 1;
    window.show();
    armStartupProbe(sinceStart);
    return app.exec();
}
