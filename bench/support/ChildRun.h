#pragma once

#include "RunStatus.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// What the benchmarks that measure a run in a child process of their own
// share: a status that shows nothing, the child's peak memory, and the
// parent's side that starts the child and reads its one line of figures.

class QuietStatus : public RunStatus {
public:
    void setStatusText(const QString &) override { }
    void setProgressMaximum(int) override { }
    void setProgressValue(int) override { }
    void setNodeText(const QString &, const QString &) override { }
};

// This process's peak resident memory in kB (VmHWM), -1 when unknown.
qint64 peakRssKb();

// Runs `program` with `arguments` (within ten minutes) and returns the words
// of what it printed; empty when it failed, which is told on stderr under
// `name`.
QList<QByteArray> childFigures(const QString &program, const QStringList &arguments, const char *name);
