#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

class QDBusPendingCall;

// Takes a connection made by the dialer down: deactivates the active
// connection and deletes its settings connection, both at once. An object
// that is already gone counts as taken down. finished() comes once, after
// both answers (or at once when there is nothing to do).
class ConnectionTeardown : public QObject {
    Q_OBJECT
public:
    ConnectionTeardown(const QDBusConnection &bus, const QString &activePath, const QString &settingsPath,
                       QObject *parent = nullptr);

    void start();
    bool isDone() const { return m_pending == 0 && m_started; }
    // DialResultCode::Success, or the code of the first call that really failed.
    qint32 result() const { return m_result; }

Q_SIGNALS:
    void finished();

private:
    void watch(const QDBusPendingCall &call);

    QDBusConnection m_bus;
    QString m_activePath;
    QString m_settingsPath;
    int m_pending = 0;
    bool m_started = false;
    qint32 m_result = 0;
};
