#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A message bus of a test's own: a dbus-daemon started on a socket in a
// temporary folder, stopped again (only this process) when the object goes.
class PrivateBus {
public:
    PrivateBus() = default;
    ~PrivateBus();
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    // Starts the daemon and waits (bounded) for its address; on failure says why.
    bool start(QString *why);
    void stop();
    QString address() const { return m_address; }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
};
