#pragma once

#include <QString>

// What the mail runs show while they work: the status text (second panel of
// the status bar), the progress bar, and the texts of the folder nodes
// ("Inbox (3)"). The main window implements it; tests record it.
class RunStatus {
public:
    virtual ~RunStatus() = default;
    virtual void setStatusText(const QString &text) = 0;
    virtual void setProgressMaximum(int maximum) = 0;
    virtual void setProgressValue(int value) = 0;
    virtual void setNodeText(const QString &nodeKey, const QString &text) = 0;
};
