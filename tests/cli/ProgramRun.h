#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStringList>

#include <csignal>
#include <sys/resource.h>

// The program started as a process, the way a script or the timer starts it:
// no display and no platform chosen.
struct ProgramResult {
    int code = -1; // -1: it crashed or did not end within a minute
    QByteArray out;
    QByteArray err;
    QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
};

struct ProgramStart {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QString workingFolder;
    // Every file write of the program past this many bytes fails, as on a
    // full disk.
    rlim_t fileSizeLimit = RLIM_INFINITY;
    QByteArray input; // on standard input, which then ends
};

// Waits in the event loop, so that servers in the test's own process keep
// answering meanwhile.
inline ProgramResult runProgram(const QStringList &arguments, ProgramStart start = {})
{
    QProcess process;
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        start.env.remove(QString::fromLatin1(name));
    process.setProcessEnvironment(start.env);
    if (!start.workingFolder.isEmpty())
        process.setWorkingDirectory(start.workingFolder);
    if (start.fileSizeLimit != RLIM_INFINITY) {
        process.setChildProcessModifier([limit = start.fileSizeLimit] {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit current{};
            getrlimit(RLIMIT_FSIZE, &current);
            current.rlim_cur = limit;
            setrlimit(RLIMIT_FSIZE, &current);
        });
    }
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(QStringLiteral(TRELVIK_BINARY), arguments);
    if (!start.input.isEmpty())
        process.write(start.input);
    process.closeWriteChannel();
    if (!finished.wait(60'000)) {
        process.kill();
        process.waitForFinished(5'000);
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}
