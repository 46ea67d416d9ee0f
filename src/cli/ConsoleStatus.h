#pragma once

#include "RunStatus.h"

#include <QElapsedTimer>
#include <QString>

// The runs' status seen on a terminal: the status text ("Fetched 3 of 12")
// as one line on standard error that is rewritten in place. Shows nothing
// when standard error is not a terminal (a timer, a pipe) or when asked to
// be quiet.
class ConsoleStatus : public RunStatus {
public:
    explicit ConsoleStatus(bool show);
    ~ConsoleStatus() override;

    void setStatusText(const QString &text) override;
    void setProgressMaximum(int) override { }
    void setProgressValue(int) override { }
    void setNodeText(const QString &, const QString &) override { }

    // Removes the progress line, so that other output starts on a clean line.
    void clear();

private:
    bool m_show;
    bool m_lineShown = false;
    QElapsedTimer m_sinceShown;
};
