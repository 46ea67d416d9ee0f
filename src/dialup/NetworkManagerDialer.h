#pragma once

#include "Dialer.h"

#include <QDBusConnection>
#include <QHash>
#include <QString>

// The dialer on NetworkManager: each dial adds a temporary modem connection
// (volatile: NetworkManager forgets it when it goes down, so nothing stays in
// the user's network settings) bound to this program's bus connection, and
// activates it on the first modem. RasConnection is a handle into a small
// table of the connections this dialer brought up.
class NetworkManagerDialer : public Dialer {
public:
    // Real use talks to the system bus; tests point DBUS_SYSTEM_BUS_ADDRESS
    // elsewhere or hand in a connection of their own.
    explicit NetworkManagerDialer(const QDBusConnection &bus = QDBusConnection::systemBus());
    ~NetworkManagerDialer() override;

    void DialUp(const ProfileSettingsRecord &settings, CancelFlag &cancel) override;
    void HangUp() override;

    // How long a dial may take before it is given up with DialResultCode::RequestTimeout.
    void setTimeLimit(int milliseconds) { m_timeLimitMs = milliseconds; }
    // How long taking a connection down may take before the dialer stops waiting.
    void setTeardownLimit(int milliseconds) { m_teardownLimitMs = milliseconds; }

    static constexpr int kDefaultTimeLimitMs = 90'000;
    static constexpr int kDefaultTeardownLimitMs = 10'000;

private:
    struct Connection {
        QString activePath;
        QString settingsPath;
    };

    QDBusConnection m_bus;
    QHash<quint64, Connection> m_connections;
    quint64 m_lastHandle = 0;
    int m_timeLimitMs = kDefaultTimeLimitMs;
    int m_teardownLimitMs = kDefaultTeardownLimitMs;
    bool m_busy = false;
};
