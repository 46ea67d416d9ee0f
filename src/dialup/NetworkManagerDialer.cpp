#include "NetworkManagerDialer.h"

#include "ConnectionTeardown.h"
#include "DialAttempt.h"
#include "DialRequest.h"
#include "ProfileRecord.h"
#include "CancelFlag.h"
#include "NmDBus.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QEventLoop>
#include <QTimer>

namespace {

// Runs a local event loop until `task` has finished: the user interface
// stays alive meanwhile.
template <typename Task>
void waitFor(Task &task)
{
    if (task.isDone())
        return;
    QEventLoop loop;
    QObject::connect(&task, &Task::finished, &loop, &QEventLoop::quit);
    if (!task.isDone())
        loop.exec();
}

} // namespace

NetworkManagerDialer::NetworkManagerDialer(const QDBusConnection &bus)
    : m_bus(bus)
{
    Nm::registerDBusTypes();
}

NetworkManagerDialer::~NetworkManagerDialer()
{
    // A line left up costs money: ask for every connection still held to be
    // taken down, without waiting for the answers.
    for (const Connection &connection : std::as_const(m_connections)) {
        QDBusMessage deactivate =
            QDBusMessage::createMethodCall(QString::fromLatin1(Nm::kService), QString::fromLatin1(Nm::kPath),
                                           QString::fromLatin1(Nm::kInterface), QStringLiteral("DeactivateConnection"));
        deactivate << QVariant::fromValue(QDBusObjectPath(connection.activePath));
        m_bus.send(deactivate);
        m_bus.send(QDBusMessage::createMethodCall(QString::fromLatin1(Nm::kService), connection.settingsPath,
                                                  QString::fromLatin1(Nm::kSettingsConnectionInterface),
                                                  QStringLiteral("Delete")));
    }
}

void NetworkManagerDialer::DialUp(const ProfileSettingsRecord &settings, CancelFlag &cancel)
{
    RasConnection = 0;
    // DialUp waits in a local event loop, so it could be entered again from
    // there; one dial at a time.
    if (m_busy) {
        RasResult = DialResultCode::PortAlreadyOpen;
        return;
    }
    const DialRequest request = DialRequest::fromProfile(settings);
    RasResult = request.check();
    if (RasResult != DialResultCode::Success)
        return;
    if (cancel.isSet()) {
        RasResult = DialResultCode::UserDisconnection;
        return;
    }

    m_busy = true;
    DialAttempt attempt(m_bus, request, m_timeLimitMs, m_teardownLimitMs);
    QObject::connect(&cancel, &CancelFlag::raised, &attempt, &DialAttempt::cancel);
    attempt.start();
    waitFor(attempt);
    m_busy = false;

    RasResult = attempt.result();
    if (RasResult == DialResultCode::Success) {
        RasConnection = ++m_lastHandle;
        m_connections.insert(RasConnection, {attempt.activePath(), attempt.settingsPath()});
    }
}

void NetworkManagerDialer::HangUp()
{
    const auto found = m_connections.constFind(RasConnection);
    RasConnection = 0;
    if (found == m_connections.cend()) {
        // Nothing of ours is up (a failed or cancelled dial took its own
        // connection down already).
        RasResult = DialResultCode::Success;
        return;
    }
    const Connection connection = *found;
    m_connections.erase(found);

    ConnectionTeardown teardown(m_bus, connection.activePath, connection.settingsPath);
    QTimer limit;
    limit.setSingleShot(true);
    QEventLoop loop;
    QObject::connect(&teardown, &ConnectionTeardown::finished, &loop, &QEventLoop::quit);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    teardown.start();
    if (!teardown.isDone()) {
        limit.start(m_teardownLimitMs);
        loop.exec();
    }
    RasResult = teardown.isDone() ? teardown.result() : DialResultCode::RequestTimeout;
}
