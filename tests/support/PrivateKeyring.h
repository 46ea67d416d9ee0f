#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace testsupport {

// A Secret Service of the test's own: a private D-Bus session bus (no
// service activation, so nothing else starts on it) and gnome-keyring-daemon
// on it with its keyrings in a temporary folder, its login keyring made and
// unlocked with a test password. start() points this process's
// DBUS_SESSION_BUS_ADDRESS at the bus; call it before anything uses D-Bus.
// Both processes are stopped when the object goes; stopKeyring() stops the
// keyring alone (the bus stays, with nobody answering for secrets).
class PrivateKeyring {
public:
    PrivateKeyring();
    ~PrivateKeyring();
    PrivateKeyring(const PrivateKeyring &) = delete;
    PrivateKeyring &operator=(const PrivateKeyring &) = delete;

    static bool available(QString *why);
    bool start(QString *error);
    void stopKeyring();

private:
    static void stopProcess(QProcess &process);

    QTemporaryDir m_dir;
    QProcess m_bus;
    QProcess m_keyring;
    QByteArray m_oldAddress;
    bool m_hadAddress = false;
};

} // namespace testsupport
