#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QMap>
#include <QSet>
#include <QStringList>
#include <QVariantMap>

// A scripted stand-in for NetworkManager on a private bus, run in the test's
// own process on a bus connection of its own. It knows the few calls the
// dialer makes: GetDevices, the devices' properties, AddAndActivateConnection2,
// DeactivateConnection, an active connection's State and a settings
// connection's Delete. Numbers are written out here on purpose, apart from the
// dialer's constants, so that a wrong constant there shows.
class FakeNetworkManager : public QDBusVirtualObject {
    Q_OBJECT
public:
    enum class Outcome {
        Activate,   // the connection comes up
        FailDevice, // the modem fails with `reason` (NMDeviceStateReason)
        FailActive, // the active connection goes down with `reason` alone
        Hang,       // it stays "activating" for ever
        Refuse,     // AddAndActivateConnection2 answers the D-Bus error `refusal`
    };
    struct Script {
        bool modem = true;             // a modem beside the Ethernet device
        uint modemCapabilities = 0x1;  // POTS
        Outcome outcome = Outcome::Activate;
        uint reason = 0;
        QString refusal;
        bool announceBeforeReply = false; // the new state is signalled before the answer
    };

    explicit FakeNetworkManager(QObject *parent = nullptr);
    ~FakeNetworkManager() override;

    // Connects to the bus, registers its objects and takes NetworkManager's name.
    bool attach(const QString &busAddress);
    // Gives the name up again, as a NetworkManager that quits.
    void leave();
    bool rejoin();

    void reset() { reset(Script()); }
    void reset(const Script &script);

    // What the dialer sent, and what it left behind.
    QStringList calls;
    QMap<QString, QVariantMap> lastSettings;
    QVariantMap lastOptions;
    QString lastDevice;
    int settingsCount() const { return int(m_settings.size()); }
    int activeCount() const { return int(m_active.size()); }

    QString introspect(const QString &path) const override;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

Q_SIGNALS:
    // The activation was asked for; the answer has not gone out yet.
    void activationRequested();
    // The answer to the activation has gone out.
    void activationAnswered();

private:
    void addAndActivate(const QDBusMessage &message);
    void runOutcome(const QString &activePath);
    void deactivate(const QString &activePath, uint reason);
    void deleteSettings(const QDBusMessage &message);
    void getProperty(const QDBusMessage &message);
    void getAllProperties(const QDBusMessage &message);
    void signalActiveState(const QString &activePath, uint state, uint reason);
    void signalDeviceState(uint newState, uint oldState, uint reason);
    void reply(const QDBusMessage &message, const QVariantList &arguments = {});
    void replyError(const QDBusMessage &message, const QString &name);

    QDBusConnection m_bus{QString()};
    Script m_script;
    int m_next = 0;
    QMap<QString, QString> m_active;       // active connection -> its settings
    QMap<QString, uint> m_activeState;
    QSet<QString> m_settings;
    QSet<QString> m_volatile;
};
