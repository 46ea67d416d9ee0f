#pragma once

#include "ProfileRecord.h"
#include "CancelFlag.h"

#include <QString>
#include <functional>

class QWidget;

// What a connection test found: whether it worked, and one text saying what
// worked or what failed.
struct ConnectionTestResult {
    bool ok = false;
    QString text;
    // The refresh token that replaced the tested one, when the test renewed
    // the sign-in; empty when it did not.
    QString renewedRefreshToken = {};
};

// How a connection test reports its steps to the user watching it, and how
// the user ends it early (`cancel` set: the test stops at its next wait).
struct ConnectionTestProgress {
    std::function<void(const QString &step)> step;
    CancelFlag *cancel = nullptr;
};

// What the profile bar needs of the main window when the current profile
// changes: the message lists belong to the old profile's server.
class ProfileHost {
public:
    virtual ~ProfileHost() = default;
    virtual int recycleBinRowCount() const = 0;
    // Empties both message lists, the status text and the progress bar.
    virtual void clearMessageLists() = 0;
    virtual void ShowInbox() = 0;
    // Owner of the profile dialogs.
    virtual QWidget *dialogParent() = 0;

    // Connects with the given settings (typed in the settings dialog, not
    // saved), logs in and out, and says how it went. The text must never
    // hold a password. A host that cannot test says so.
    virtual ConnectionTestResult testConnection(const ProfileSettingsRecord &settings,
                                                const ConnectionTestProgress &progress)
    {
        Q_UNUSED(settings);
        Q_UNUSED(progress);
        return testingUnavailable();
    }

    static ConnectionTestResult testingUnavailable()
    {
        return {false, QStringLiteral("Testing the connection is not available in this version.")};
    }
};
