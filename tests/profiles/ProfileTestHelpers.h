#pragma once

#include "Global.h"
#include "Profile.h"
#include "ProfileHost.h"
#include "SettingsStore.h"

#include <QDialog>
#include <QList>
#include <QWidget>

#include <functional>

namespace profiletest {

// Stands in for the main window: counts what the profile code asks of it.
class FakeHost : public ProfileHost {
public:
    int recycleRows = 0;
    int inboxRows = 0;
    int clears = 0;
    int inboxShown = 0;
    QWidget window;

    int recycleBinRowCount() const override { return recycleRows; }
    void clearMessageLists() override
    {
        ++clears;
        recycleRows = 0;
        inboxRows = 0;
    }
    void ShowInbox() override { ++inboxShown; }
    QWidget *dialogParent() override { return &window; }

    // The settings each connection test was given, and what it answers;
    // without an answer the host has no tester of its own.
    QList<Global::ProfileSettingsRecord> tested;
    std::function<ConnectionTestResult(const Global::ProfileSettingsRecord &)> tester;
    ConnectionTestResult testConnection(const Global::ProfileSettingsRecord &settings) override
    {
        tested << settings;
        return tester ? tester(settings) : ProfileHost::testConnection(settings);
    }
};

inline void writeValue(const QString &key, const QString &name, const QString &value)
{
    modRegistry::WriteStoreValue(modRegistry::HKEY_CURRENT_USER, key, name, modRegistry::REG_SZ, value);
}

inline QString readValue(const QString &key, const QString &name)
{
    return modRegistry::ReadStoreValue(modRegistry::HKEY_CURRENT_USER, key, name, QStringLiteral("<missing>"));
}

// A stored profile whose host tells it apart: "pop.<name in lower case>".
inline void seedProfile(const QString &name)
{
    writeValue(kSettingKeyPrefix + name, QStringLiteral("EmailHost"), QStringLiteral("pop.") + name.toLower());
}

inline QString lastProfile()
{
    return readValue(kTrelvikKey, QStringLiteral("LastProfile"));
}

inline void resetGlobals()
{
    Global::ProfileSettings = {};
    Global::CurrentProfile.clear();
    Global::PreviousProfile.clear();
    Global::NewProfileFlag = 0;
    Global::SettingsChanged = false;
}

// The dialog of that type now shown over `parent`, if any.
template <typename T>
T *shownDialog(QWidget &parent)
{
    for (T *dialog : parent.findChildren<T *>()) {
        if (dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

} // namespace profiletest
