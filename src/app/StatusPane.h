#pragma once

#include <QObject>

class QProgressBar;
class StatusBarWidget;

// The status bar and the progress bar in its first panel: what the runs and
// the commands tell the user while they work and when they end.
class StatusPane : public QObject {
    Q_OBJECT
public:
    StatusPane(StatusBarWidget *statusBar, QProgressBar *progress, QObject *parent);

    // Puts the progress bar into the status bar's first panel, empty.
    void placeProgress();

public Q_SLOTS:
    void setText(const QString &text);
    // A standing note beside the text (the rules on the server out of
    // date); empty takes it away.
    void setNote(const QString &note);
    void setProgressMaximum(int maximum);
    void setProgressValue(int value);
    // Empties the text and the progress bar.
    void clear();
    // A screen reader is told the text, as a seeing user glances at it.
    void announce();

private:
    StatusBarWidget *StatusBar1;
    QProgressBar *Progress;
};
