#pragma once

#include "CurrentProfile.h"
#include "Profile.h"
#include "ProfileHost.h"
#include "SettingsStore.h"
#include "TestSupport.h"

#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <csignal>
#include <functional>
#include <sys/resource.h>

namespace profiletest {

// Stands in for the main window: counts what the profile code asks of it and
// records the settings each connection test was given.
class FakeHost : public ProfileHost {
public:
    int recycleRows = 0;
    int inboxRows = 0;
    int clears = 0;
    QWidget window;
    QList<ProfileSettingsRecord> tested;
    std::function<ConnectionTestResult(const ProfileSettingsRecord &)> tester;

    int recycleBinRowCount() const override { return recycleRows; }
    void clearMessageLists() override { ++clears, recycleRows = 0, inboxRows = 0; }
    void ShowInbox() override { }
    QWidget *dialogParent() override { return &window; }
    ConnectionTestResult testConnection(const ProfileSettingsRecord &settings,
                                        const ConnectionTestProgress &progress) override
    {
        tested << settings;
        if (progress.step)
            progress.step(u"Testing ..."_qs);
        return tester ? tester(settings) : ProfileHost::testConnection(settings, progress);
    }
};

// A private store, a box answerer, a host and the window's current profile.
struct Env {
    testsupport::TempHome home;
    testsupport::MessageBoxRecorder boxes;
    FakeHost host;
    CurrentProfile profile;
};

inline const QString kMissing = QStringLiteral("<missing>");
inline void writeValue(const QString &key, const QString &name, const QString &value)
{
    modRegistry::WriteStoreValue(modRegistry::HKEY_CURRENT_USER, key, name, modRegistry::REG_SZ, value);
}
inline QString readValue(const QString &key, const QString &name)
{
    return modRegistry::ReadStoreValue(modRegistry::HKEY_CURRENT_USER, key, name, kMissing);
}
inline QString profileValue(const QString &profile, const QString &name)
{
    return readValue(kSettingKeyPrefix + profile, name);
}
inline QString lastProfile()
{
    return readValue(kTrelvikKey, QStringLiteral("LastProfile"));
}

// A stored profile whose host tells it apart: "pop.<name in lower case>".
inline void seedProfile(const QString &name)
{
    writeValue(kSettingKeyPrefix + name, QStringLiteral("EmailHost"), QStringLiteral("pop.") + name.toLower());
}

inline QStringList storedProfiles()
{
    QStringList names;
    for (int i = 0;; ++i) {
        const QString name = modRegistry::EnumStoreKey(modRegistry::HKEY_CURRENT_USER, kSettingKeyPrefix, i);
        if (name == QLatin1String("Not Found"))
            return names;
        names << name;
    }
}

// The ten settings in their order, for comparing whole records.
inline QStringList fields(const ProfileSettingsRecord &s)
{
    return {s.EmailHost,    s.EmailPort,    s.EmailUserid,    s.EmailPassword, s.Autodial,
            s.DialupNumber, s.DialupUserID, s.DialupPassword, s.EmailSecurity, s.TrustedCertificate};
}

// A missing child is a fault of the test's setup: stop at once.
template <typename T = QWidget>
T *child(const QObject *parent, const QString &name)
{
    T *found = parent->findChild<T *>(name);
    return found ? found : (qFatal("no child %s", qPrintable(name)), nullptr);
}
inline void click(const QObject *parent, const QString &button)
{
    child<QPushButton>(parent, button)->click();
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

// While it lives, no file of this process may grow past a few bytes: writes
// fail as on a full disk (EFBIG instead of ENOSPC), also for root, whom no
// file mode stops.
class FullDisk {
public:
    FullDisk()
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit full = m_old;
        full.rlim_cur = 8;
        ::setrlimit(RLIMIT_FSIZE, &full);
    }
    ~FullDisk()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FullDisk(const FullDisk &) = delete;
    FullDisk &operator=(const FullDisk &) = delete;

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

// The settings file's bytes, or "(none)".
inline QByteArray storeBytes()
{
    QFile file(modRegistry::StoreFilePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

} // namespace profiletest
