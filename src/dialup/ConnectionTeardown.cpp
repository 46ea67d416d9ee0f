#include "ConnectionTeardown.h"

#include "Dialer.h"
#include "NmDBus.h"
#include "NmResultCodes.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>

ConnectionTeardown::ConnectionTeardown(const QDBusConnection &bus, const QString &activePath,
                                       const QString &settingsPath, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
    , m_activePath(activePath)
    , m_settingsPath(settingsPath)
{
}

void ConnectionTeardown::start()
{
    m_started = true;
    if (!m_activePath.isEmpty()) {
        QDBusMessage deactivate =
            QDBusMessage::createMethodCall(QString::fromLatin1(Nm::kService), QString::fromLatin1(Nm::kPath),
                                           QString::fromLatin1(Nm::kInterface), QStringLiteral("DeactivateConnection"));
        deactivate << QVariant::fromValue(QDBusObjectPath(m_activePath));
        watch(m_bus.asyncCall(deactivate));
    }
    // Deleting matters even when the connection is volatile: a dial that
    // never became active leaves its settings behind otherwise.
    if (!m_settingsPath.isEmpty()) {
        watch(m_bus.asyncCall(QDBusMessage::createMethodCall(QString::fromLatin1(Nm::kService), m_settingsPath,
                                                             QString::fromLatin1(Nm::kSettingsConnectionInterface),
                                                             QStringLiteral("Delete"))));
    }
    if (m_pending == 0)
        Q_EMIT finished();
}

void ConnectionTeardown::watch(const QDBusPendingCall &call)
{
    ++m_pending;
    auto *watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        if (w->isError() && !Nm::isAlreadyGone(w->error()) && m_result == DialResultCode::Success)
            m_result = Nm::resultForError(w->error());
        if (--m_pending == 0)
            Q_EMIT finished();
    });
}
