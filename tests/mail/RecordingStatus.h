#pragma once

#include "RunStatus.h"

#include <QHash>
#include <QStringList>
#include <functional>

// Records what a mail operation shows, in order, as short texts:
// "status:Fetched 1 of 3", "max:3", "progress:1", "node:Inbox (1)".
class RecordingStatus : public RunStatus {
public:
    void setStatusText(const QString &text) override { record(QStringLiteral("status:") + (statusText = text)); }
    void setProgressMaximum(int maximum) override { record(QStringLiteral("max:%1").arg(maximum)); }
    void setProgressValue(int value) override { record(QStringLiteral("progress:%1").arg(progressValue = value)); }
    void setNodeText(const QString &nodeKey, const QString &text) override
    {
        record(QStringLiteral("node:") + (nodeTexts[nodeKey] = text));
    }

    QStringList eventsStartingWith(const QString &prefix) const
    {
        QStringList out;
        for (const QString &e : events)
            if (e.startsWith(prefix))
                out << e;
        return out;
    }

    // Runs for every event as it is shown, e.g. to press Cancel at a point.
    std::function<void(const QString &event)> onEvent;
    QStringList events;
    QString statusText;
    int progressValue = -1;
    QHash<QString, QString> nodeTexts;

private:
    void record(const QString &event)
    {
        events << event;
        if (onEvent)
            onEvent(event);
    }
};
