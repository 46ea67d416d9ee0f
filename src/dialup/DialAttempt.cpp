#include "DialAttempt.h"

#include "ConnectionTeardown.h"
#include "Dialer.h"
#include "NmDBus.h"
#include "NmResultCodes.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace {

QString latin1(const char *text)
{
    return QString::fromLatin1(text);
}

} // namespace

DialAttempt::DialAttempt(const QDBusConnection &bus, const DialRequest &request, int timeLimitMs, int teardownLimitMs,
                         QObject *parent)
    : QObject(parent)
    , m_bus(bus)
    , m_request(request)
{
    Nm::registerDBusTypes();
    m_timeLimit.setSingleShot(true);
    m_timeLimit.setInterval(timeLimitMs);
    connect(&m_timeLimit, &QTimer::timeout, this, [this] { fail(DialResultCode::RequestTimeout); });
    m_teardownLimit.setSingleShot(true);
    m_teardownLimit.setInterval(teardownLimitMs);
    connect(&m_teardownLimit, &QTimer::timeout, this, &DialAttempt::finish);
}

void DialAttempt::start()
{
    if (!m_bus.isConnected()) {
        m_result = DialResultCode::ServiceNotAvailable;
        finish();
        return;
    }
    // Active connections are followed from before the activation is asked
    // for: NetworkManager may announce the new one before it answers.
    m_bus.connect(latin1(Nm::kService), QString(), latin1(Nm::kActiveInterface), QStringLiteral("StateChanged"), this,
                  SLOT(onActiveStateChanged(uint, uint, QDBusMessage)));
    m_serviceWatcher = new QDBusServiceWatcher(latin1(Nm::kService), m_bus, QDBusServiceWatcher::WatchForUnregistration,
                                               this);
    connect(m_serviceWatcher, &QDBusServiceWatcher::serviceUnregistered, this, &DialAttempt::onServiceGone);
    m_timeLimit.start();
    listDevices();
}

void DialAttempt::cancel()
{
    fail(DialResultCode::UserDisconnection);
}

QDBusPendingCallWatcher *DialAttempt::watch(const QDBusPendingCall &call)
{
    auto *watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, watcher, &QObject::deleteLater);
    return watcher;
}

QDBusMessage DialAttempt::nmCall(const QString &path, const char *interface, const char *method) const
{
    return QDBusMessage::createMethodCall(latin1(Nm::kService), path, latin1(interface), latin1(method));
}

QDBusMessage DialAttempt::propertyGet(const QString &path, const char *interface, const char *name) const
{
    QDBusMessage get = nmCall(path, Nm::kPropertiesInterface, "Get");
    get << latin1(interface) << latin1(name);
    return get;
}

void DialAttempt::listDevices()
{
    m_stage = Stage::FindingModem;
    auto *watcher = watch(m_bus.asyncCall(nmCall(latin1(Nm::kPath), Nm::kInterface, "GetDevices")));
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        if (m_stage != Stage::FindingModem)
            return;
        QDBusPendingReply<QList<QDBusObjectPath>> reply = *w;
        if (reply.isError()) {
            fail(Nm::resultForError(reply.error()));
            return;
        }
        QStringList paths;
        for (const QDBusObjectPath &path : reply.value())
            paths.append(path.path());
        readDevices(paths);
    });
}

void DialAttempt::readDevices(const QStringList &paths)
{
    if (paths.isEmpty()) {
        fail(DialResultCode::PortNotAvailable);
        return;
    }
    m_devicesPending = int(paths.size());
    for (const QString &path : paths) {
        QDBusMessage getAll = nmCall(path, Nm::kPropertiesInterface, "GetAll");
        getAll << latin1(Nm::kDeviceInterface);
        auto *watcher = watch(m_bus.asyncCall(getAll));
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, path](QDBusPendingCallWatcher *w) {
            if (m_stage != Stage::FindingModem)
                return;
            // A device that vanished meanwhile is simply not a candidate.
            QDBusPendingReply<QVariantMap> reply = *w;
            if (!reply.isError()) {
                const QVariantMap properties = reply.value();
                m_devices.append({path, properties.value(QStringLiteral("DeviceType")).toUInt(),
                                  properties.value(QStringLiteral("State")).toUInt()});
            }
            if (--m_devicesPending == 0)
                chooseModem();
        });
    }
}

void DialAttempt::chooseModem()
{
    // The first modem that is ready to connect, else the first modem at all,
    // so that NetworkManager can say why it is not ready.
    const DeviceInfo *chosen = nullptr;
    for (const DeviceInfo &device : std::as_const(m_devices)) {
        if (device.type != Nm::kDeviceTypeModem)
            continue;
        if (!chosen || (chosen->state < Nm::kDeviceStateDisconnected && device.state >= Nm::kDeviceStateDisconnected))
            chosen = &device;
    }
    if (!chosen) {
        fail(DialResultCode::PortNotAvailable);
        return;
    }
    m_devicePath = chosen->path;
    m_bus.connect(latin1(Nm::kService), m_devicePath, latin1(Nm::kDeviceInterface), QStringLiteral("StateChanged"),
                  this, SLOT(onDeviceStateChanged(uint, uint, uint)));
    readCapabilities();
}

void DialAttempt::readCapabilities()
{
    auto *watcher = watch(m_bus.asyncCall(propertyGet(m_devicePath, Nm::kModemInterface, "CurrentCapabilities")));
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        if (m_stage != Stage::FindingModem)
            return;
        QDBusPendingReply<QDBusVariant> reply = *w;
        activate(reply.isError() ? 0u : reply.value().variant().toUInt());
    });
}

void DialAttempt::activate(uint modemCapabilities)
{
    m_stage = Stage::Activating;
    QDBusMessage add = nmCall(latin1(Nm::kPath), Nm::kInterface, "AddAndActivateConnection2");
    // "volatile": deleted by NetworkManager once it goes down; "dbus-client":
    // taken down if this program leaves the bus without hanging up.
    const QVariantMap options{{QStringLiteral("persist"), QStringLiteral("volatile")},
                              {QStringLiteral("bind-activation"), QStringLiteral("dbus-client")}};
    add << QVariant::fromValue(m_request.connectionSettings(modemCapabilities))
        << QVariant::fromValue(QDBusObjectPath(m_devicePath))
        << QVariant::fromValue(QDBusObjectPath(QStringLiteral("/"))) << options;
    auto *watcher = watch(m_bus.asyncCall(add));
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &DialAttempt::onActivated);
}

void DialAttempt::onActivated(QDBusPendingCallWatcher *watcher)
{
    if (m_stage != Stage::Activating && m_stage != Stage::Abandoning)
        return;
    QDBusPendingReply<QDBusObjectPath, QDBusObjectPath, QVariantMap> reply = *watcher;
    if (reply.isError()) {
        // Nothing was made, so there is nothing to take down.
        if (m_stage != Stage::Abandoning)
            m_result = Nm::resultForError(reply.error());
        finish();
        return;
    }
    m_settingsPath = reply.argumentAt<0>().path();
    m_activePath = reply.argumentAt<1>().path();
    if (m_stage == Stage::Abandoning) {
        tearDown();
        return;
    }
    m_stage = Stage::Waiting;
    const auto seen = m_seenBeforeReply.constFind(m_activePath);
    if (seen != m_seenBeforeReply.cend())
        handleActiveState(seen->state, seen->reason);
    if (m_stage == Stage::Waiting)
        readActiveState();
}

void DialAttempt::readActiveState()
{
    auto *watcher = watch(m_bus.asyncCall(propertyGet(m_activePath, Nm::kActiveInterface, "State")));
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        if (m_stage != Stage::Waiting)
            return;
        QDBusPendingReply<QDBusVariant> reply = *w;
        if (reply.isError()) {
            // The active connection is already gone: it failed.
            m_activeDown = true;
            fail(m_hasDeviceReason ? Nm::resultForDeviceReason(m_deviceReason) : DialResultCode::DeviceError);
            return;
        }
        handleActiveState(reply.value().variant().toUInt(), 0);
    });
}

void DialAttempt::onActiveStateChanged(uint state, uint reason, const QDBusMessage &message)
{
    if (m_stage == Stage::Activating)
        m_seenBeforeReply.insert(message.path(), {state, reason});
    else if (m_stage == Stage::Waiting && message.path() == m_activePath)
        handleActiveState(state, reason);
}

void DialAttempt::handleActiveState(uint state, uint reason)
{
    if (state == Nm::kActiveActivated) {
        m_result = DialResultCode::Success;
        finish();
    } else if (state == Nm::kActiveDeactivating || state == Nm::kActiveDeactivated) {
        m_activeDown = true;
        fail(m_hasDeviceReason ? Nm::resultForDeviceReason(m_deviceReason) : Nm::resultForActiveReason(reason));
    }
}

void DialAttempt::onDeviceStateChanged(uint newState, uint, uint reason)
{
    if (newState != Nm::kDeviceStateFailed)
        return;
    if (m_stage == Stage::Activating) {
        m_hasDeviceReason = true;
        m_deviceReason = reason;
    } else if (m_stage == Stage::Waiting) {
        m_hasDeviceReason = true;
        m_deviceReason = reason;
        fail(Nm::resultForDeviceReason(reason));
    }
}

void DialAttempt::onServiceGone()
{
    // NetworkManager left the bus: whatever it held is gone with it.
    if (m_stage == Stage::Done || m_stage == Stage::TearingDown)
        return;
    if (m_stage != Stage::Abandoning)
        m_result = DialResultCode::ServiceNotAvailable;
    finish();
}

void DialAttempt::fail(qint32 code)
{
    switch (m_stage) {
    case Stage::Idle:
    case Stage::Done:
    case Stage::TearingDown:
    case Stage::Abandoning:
        return;
    case Stage::Activating:
        // The connection exists once NetworkManager answers; wait for the
        // answer so that it can be taken down again.
        m_result = code;
        m_timeLimit.stop();
        m_stage = Stage::Abandoning;
        m_teardownLimit.start();
        return;
    case Stage::FindingModem:
    case Stage::Waiting:
        m_result = code;
        m_timeLimit.stop();
        tearDown();
        return;
    }
}

void DialAttempt::tearDown()
{
    const QString active = m_activeDown ? QString() : m_activePath;
    if (active.isEmpty() && m_settingsPath.isEmpty()) {
        finish();
        return;
    }
    m_stage = Stage::TearingDown;
    m_teardown = new ConnectionTeardown(m_bus, active, m_settingsPath, this);
    connect(m_teardown, &ConnectionTeardown::finished, this, &DialAttempt::finish);
    if (!m_teardownLimit.isActive())
        m_teardownLimit.start();
    m_teardown->start();
}

void DialAttempt::finish()
{
    if (m_stage == Stage::Done)
        return;
    m_stage = Stage::Done;
    m_timeLimit.stop();
    m_teardownLimit.stop();
    m_bus.disconnect(latin1(Nm::kService), QString(), latin1(Nm::kActiveInterface), QStringLiteral("StateChanged"),
                     this, SLOT(onActiveStateChanged(uint, uint, QDBusMessage)));
    if (!m_devicePath.isEmpty())
        m_bus.disconnect(latin1(Nm::kService), m_devicePath, latin1(Nm::kDeviceInterface),
                         QStringLiteral("StateChanged"), this, SLOT(onDeviceStateChanged(uint, uint, uint)));
    Q_EMIT finished();
}
