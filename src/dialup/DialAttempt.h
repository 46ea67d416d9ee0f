#pragma once

#include "DialRequest.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QDBusMessage;
class QDBusPendingCall;
class QDBusPendingCallWatcher;
class QDBusServiceWatcher;
class ConnectionTeardown;

// One dial, driven by NetworkManager's answers and signals: find a modem, add
// and activate the temporary connection, and follow the active connection
// until it is up or down. A failure, cancel() or the time limit takes down
// whatever was set up before finished() comes; finished() comes exactly once.
class DialAttempt : public QObject {
    Q_OBJECT
public:
    DialAttempt(const QDBusConnection &bus, const DialRequest &request, int timeLimitMs, int teardownLimitMs,
                QObject *parent = nullptr);

    void start();
    bool isDone() const { return m_stage == Stage::Done; }
    qint32 result() const { return m_result; }
    // The connection brought up (valid after a success).
    QString activePath() const { return m_activePath; }
    QString settingsPath() const { return m_settingsPath; }

public Q_SLOTS:
    void cancel();

Q_SIGNALS:
    void finished();

private Q_SLOTS:
    // Slots by name: Qt D-Bus connects signals only to these.
    void onActiveStateChanged(uint state, uint reason, const QDBusMessage &message);
    void onDeviceStateChanged(uint newState, uint oldState, uint reason);

private:
    enum class Stage { Idle, FindingModem, Activating, Waiting, Abandoning, TearingDown, Done };
    struct DeviceInfo {
        QString path;
        uint type = 0;
        uint state = 0;
    };
    struct SeenState {
        uint state = 0;
        uint reason = 0;
    };

    QDBusPendingCallWatcher *watch(const QDBusPendingCall &call);
    QDBusMessage nmCall(const QString &path, const char *interface, const char *method) const;
    QDBusMessage propertyGet(const QString &path, const char *interface, const char *name) const;

    void listDevices();
    void readDevices(const QStringList &paths);
    void chooseModem();
    void readCapabilities();
    void activate(uint modemCapabilities);
    void onActivated(QDBusPendingCallWatcher *watcher);
    void readActiveState();
    void handleActiveState(uint state, uint reason);

    void onServiceGone();
    void fail(qint32 code);
    void tearDown();
    void finish();

    QDBusConnection m_bus;
    DialRequest m_request;
    Stage m_stage = Stage::Idle;
    qint32 m_result = 0;

    QList<DeviceInfo> m_devices;
    int m_devicesPending = 0;
    QString m_devicePath;
    bool m_hasDeviceReason = false;
    uint m_deviceReason = 0;

    QString m_activePath;
    QString m_settingsPath;
    bool m_activeDown = false;
    QHash<QString, SeenState> m_seenBeforeReply;

    QDBusServiceWatcher *m_serviceWatcher = nullptr;
    QTimer m_timeLimit;
    QTimer m_teardownLimit;
    QPointer<ConnectionTeardown> m_teardown;
};
