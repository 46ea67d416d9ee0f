#include "FakeNetworkManager.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QTimer>

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kRoot = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kNm = QStringLiteral("org.freedesktop.NetworkManager");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kDevice = QStringLiteral("org.freedesktop.NetworkManager.Device");
const QString kModem = QStringLiteral("org.freedesktop.NetworkManager.Device.Modem");
const QString kActive = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kSettingsConnection = QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
const QString kEthernetPath = kRoot + QStringLiteral("/Devices/1");
const QString kModemPath = kRoot + QStringLiteral("/Devices/2");
const QString kConnectionName = QStringLiteral("fake-networkmanager");

// NetworkManager's numbers, written out.
constexpr uint kTypeEthernet = 1, kTypeModem = 8;
constexpr uint kDeviceDisconnected = 30, kDeviceConfig = 50, kDeviceIpConfig = 70,
               kDeviceActivated = 100, kDeviceFailed = 120;
constexpr uint kActivating = 1, kActivated = 2, kDeactivated = 4;
constexpr uint kReasonNone = 1, kReasonUserDisconnected = 2, kReasonDeviceDisconnected = 3;

using Settings = QMap<QString, QVariantMap>;

} // namespace

FakeNetworkManager::FakeNetworkManager(QObject *parent) : QDBusVirtualObject(parent)
{
    qDBusRegisterMetaType<Settings>();
}

FakeNetworkManager::~FakeNetworkManager()
{
    if (m_bus.isConnected()) {
        m_bus.unregisterObject(kRoot, QDBusConnection::UnregisterTree);
        QDBusConnection::disconnectFromBus(kConnectionName);
    }
}

bool FakeNetworkManager::attach(const QString &busAddress)
{
    m_bus = QDBusConnection::connectToBus(busAddress, kConnectionName);
    return m_bus.isConnected() && m_bus.registerVirtualObject(kRoot, this, QDBusConnection::SubPath)
        && m_bus.registerService(kService);
}

void FakeNetworkManager::leave()
{
    m_bus.unregisterService(kService);
}

bool FakeNetworkManager::rejoin()
{
    return m_bus.registerService(kService);
}

void FakeNetworkManager::reset(const Script &script)
{
    m_script = script;
    calls.clear();
    lastSettings.clear();
    lastOptions.clear();
    lastDevice.clear();
    m_active.clear();
    m_activeState.clear();
    m_settings.clear();
    m_volatile.clear();
}

QString FakeNetworkManager::introspect(const QString &) const
{
    return {};
}

bool FakeNetworkManager::handleMessage(const QDBusMessage &message, const QDBusConnection &)
{
    const QString path = message.path();
    const QString interface = message.interface();
    const QString member = message.member();
    calls.append(member);

    if (interface == kNm && path == kRoot) {
        if (member == QLatin1String("GetDevices")) {
            QList<QDBusObjectPath> devices{QDBusObjectPath(kEthernetPath)};
            if (m_script.modem)
                devices.append(QDBusObjectPath(kModemPath));
            reply(message, {QVariant::fromValue(devices)});
        } else if (member == QLatin1String("AddAndActivateConnection2")) {
            addAndActivate(message);
        } else if (member == QLatin1String("DeactivateConnection")) {
            const QString active = message.arguments().value(0).value<QDBusObjectPath>().path();
            if (!m_active.contains(active)) {
                replyError(message, QStringLiteral("org.freedesktop.NetworkManager.ConnectionNotActive"));
            } else {
                reply(message);
                deactivate(active, kReasonUserDisconnected);
            }
        } else {
            replyError(message, QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"));
        }
    } else if (interface == kProperties && member == QLatin1String("Get")) {
        getProperty(message);
    } else if (interface == kProperties && member == QLatin1String("GetAll")) {
        getAllProperties(message);
    } else if (interface == kSettingsConnection && member == QLatin1String("Delete")) {
        deleteSettings(message);
    } else {
        replyError(message, QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"));
    }
    return true;
}

void FakeNetworkManager::addAndActivate(const QDBusMessage &message)
{
    const QVariantList args = message.arguments();
    lastSettings = qdbus_cast<Settings>(args.value(0));
    lastDevice = args.value(1).value<QDBusObjectPath>().path();
    lastOptions = qdbus_cast<QVariantMap>(args.value(3));
    Q_EMIT activationRequested();

    if (m_script.outcome == Outcome::Refuse) {
        replyError(message, m_script.refusal);
        return;
    }
    if (lastDevice != kModemPath || !m_script.modem) {
        replyError(message, QStringLiteral("org.freedesktop.NetworkManager.UnknownDevice"));
        return;
    }
    ++m_next;
    const QString settings = kRoot + QStringLiteral("/Settings/%1").arg(m_next);
    const QString active = kRoot + QStringLiteral("/ActiveConnection/%1").arg(m_next);
    m_settings.insert(settings);
    if (lastOptions.value(QStringLiteral("persist")).toString() == QLatin1String("volatile"))
        m_volatile.insert(settings);
    m_active.insert(active, settings);
    m_activeState.insert(active, kActivating);

    if (m_script.announceBeforeReply) {
        signalActiveState(active, kActivating, kReasonNone);
        runOutcome(active);
        reply(message, {QVariant::fromValue(QDBusObjectPath(settings)),
                        QVariant::fromValue(QDBusObjectPath(active)), QVariantMap()});
    } else {
        reply(message, {QVariant::fromValue(QDBusObjectPath(settings)),
                        QVariant::fromValue(QDBusObjectPath(active)), QVariantMap()});
        QTimer::singleShot(0, this, [this, active] {
            if (m_active.contains(active)) {
                signalActiveState(active, kActivating, kReasonNone);
                runOutcome(active);
            }
        });
    }
    Q_EMIT activationAnswered();
}

void FakeNetworkManager::runOutcome(const QString &active)
{
    switch (m_script.outcome) {
    case Outcome::Activate:
        signalDeviceState(kDeviceActivated, kDeviceIpConfig, 0);
        m_activeState.insert(active, kActivated);
        signalActiveState(active, kActivated, kReasonNone);
        break;
    case Outcome::FailDevice:
        signalDeviceState(kDeviceFailed, kDeviceConfig, m_script.reason);
        deactivate(active, kReasonDeviceDisconnected);
        break;
    case Outcome::FailActive:
        deactivate(active, m_script.reason);
        break;
    case Outcome::Hang:
    case Outcome::Refuse:
        break;
    }
}

void FakeNetworkManager::deactivate(const QString &active, uint reason)
{
    const QString settings = m_active.take(active);
    m_activeState.remove(active);
    signalActiveState(active, kDeactivated, reason);
    signalDeviceState(kDeviceDisconnected, kDeviceActivated, 0);
    // A volatile connection is forgotten once it is down.
    if (m_volatile.remove(settings))
        m_settings.remove(settings);
}

void FakeNetworkManager::deleteSettings(const QDBusMessage &message)
{
    const QString settings = message.path();
    if (!m_settings.remove(settings)) {
        replyError(message, QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"));
        return;
    }
    m_volatile.remove(settings);
    reply(message);
    // Deleting a connection takes it down.
    const QString active = m_active.key(settings);
    if (!active.isEmpty())
        deactivate(active, kReasonUserDisconnected);
}

void FakeNetworkManager::getProperty(const QDBusMessage &message)
{
    const QString interface = message.arguments().value(0).toString();
    const QString name = message.arguments().value(1).toString();
    const QString path = message.path();
    if (path == kModemPath && m_script.modem && interface == kModem
        && name == QLatin1String("CurrentCapabilities")) {
        reply(message, {QVariant::fromValue(QDBusVariant(m_script.modemCapabilities))});
    } else if (m_activeState.contains(path) && interface == kActive && name == QLatin1String("State")) {
        reply(message, {QVariant::fromValue(QDBusVariant(m_activeState.value(path)))});
    } else {
        replyError(message, QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"));
    }
}

void FakeNetworkManager::getAllProperties(const QDBusMessage &message)
{
    const QString interface = message.arguments().value(0).toString();
    const QString path = message.path();
    if (interface == kDevice && path == kEthernetPath) {
        reply(message, {QVariantMap{{QStringLiteral("DeviceType"), kTypeEthernet},
                                    {QStringLiteral("State"), kDeviceActivated}}});
    } else if (interface == kDevice && path == kModemPath && m_script.modem) {
        reply(message, {QVariantMap{{QStringLiteral("DeviceType"), kTypeModem},
                                    {QStringLiteral("State"), kDeviceDisconnected}}});
    } else {
        replyError(message, QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"));
    }
}

void FakeNetworkManager::signalActiveState(const QString &active, uint state, uint reason)
{
    QDBusMessage signal = QDBusMessage::createSignal(active, kActive, QStringLiteral("StateChanged"));
    signal << state << reason;
    m_bus.send(signal);
}

void FakeNetworkManager::signalDeviceState(uint newState, uint oldState, uint reason)
{
    QDBusMessage signal = QDBusMessage::createSignal(kModemPath, kDevice, QStringLiteral("StateChanged"));
    signal << newState << oldState << reason;
    m_bus.send(signal);
}

void FakeNetworkManager::reply(const QDBusMessage &message, const QVariantList &arguments)
{
    m_bus.send(message.createReply(arguments));
}

void FakeNetworkManager::replyError(const QDBusMessage &message, const QString &name)
{
    m_bus.send(message.createErrorReply(name, QStringLiteral("scripted failure")));
}
