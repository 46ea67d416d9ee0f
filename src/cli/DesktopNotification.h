#pragma once

#include <QString>

// A desktop notification through the session bus's notification service
// (org.freedesktop.Notifications). Without a session bus, or when no service
// answers within `timeoutMs`, nothing is shown and false is returned: a
// check run by a timer must never hang on a missing desktop.
bool sendDesktopNotification(const QString &summary, const QString &body, int timeoutMs = 3000);
