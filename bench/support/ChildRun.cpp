#include "ChildRun.h"

#include <QFile>
#include <QProcess>

#include <cstdio>

qint64 peakRssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

QList<QByteArray> childFigures(const QString &program, const QStringList &arguments, const char *name)
{
    QProcess child;
    child.start(program, arguments);
    if (!child.waitForFinished(600'000) || child.exitCode() != 0) {
        std::fprintf(stderr, "# %s failed: %s\n", name, child.readAllStandardError().constData());
        child.kill();
        child.waitForFinished(5000);
        return {};
    }
    return child.readAllStandardOutput().trimmed().split(' ');
}
