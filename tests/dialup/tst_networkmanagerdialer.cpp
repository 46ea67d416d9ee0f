// The NetworkManager dialer against a scripted NetworkManager on a private
// bus, and the texts of the result codes.
#include "ProfileRecord.h"
#include "CancelFlag.h"
#include "NetworkManagerDialer.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using Settings = QMap<QString, QVariantMap>;

namespace {
const QString kRoot = u"/org/freedesktop/NetworkManager"_s;
const QString kModem = kRoot + u"/Devices/2"_s;
const QString kBusName = u"fake-networkmanager"_s;

// A bus of the test's own that lets everyone own and call anything and
// starts no services: only what the test puts on it is there.
const char *const kBusConfig = R"(<busconfig><type>session</type><listen>unix:path=%1</listen>
<auth>EXTERNAL</auth><policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
<allow own="*"/></policy></busconfig>)";
} // namespace

// A scripted stand-in for the few calls the dialer makes. Numbers are
// written out here, apart from the dialer's constants, so that a wrong
// constant there shows.
class FakeNetworkManager : public QDBusVirtualObject {
    Q_OBJECT
public:
    enum class Outcome { Activate, FailDevice, FailActive, Hang, Refuse };
    struct Script {
        bool modem = true;
        uint capabilities = 0x1; // POTS
        Outcome outcome = Outcome::Activate;
        uint reason = 0; // NMDeviceStateReason or NMActiveConnectionStateReason
        QString refusal{}; // the D-Bus error of Refuse
        bool announceBeforeReply = false;
    };
    Script script;
    QDBusConnection bus{QString()};
    // What the dialer sent, and what it left behind.
    QStringList calls;
    Settings settings;
    QVariantMap options;
    QString device;
    QMap<QString, uint> active; // active connection -> its state; its settings share its number
    QSet<QString> stored; // settings connections
    int made = 0;

    void reset(const Script &s)
    {
        script = s;
        calls.clear();
        settings.clear();
        active.clear();
        stored.clear();
    }
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &m, const QDBusConnection &) override
    {
        const QString member = m.member(), path = m.path();
        const QString target = m.arguments().value(0).value<QDBusObjectPath>().path();
        calls.append(member);
        if (member == u"GetDevices"_s) {
            QList<QDBusObjectPath> devices{QDBusObjectPath(kRoot + u"/Devices/1"_s)};
            if (script.modem)
                devices.append(QDBusObjectPath(kModem));
            bus.send(m.createReply(QVariant::fromValue(devices)));
        } else if (member == u"GetAll"_s) {
            const bool modem = path == kModem; // else Ethernet
            bus.send(m.createReply(QVariantMap{{u"DeviceType"_s, modem ? 8u : 1u}, {u"State"_s, modem ? 30u : 100u}}));
        } else if (member == u"Get"_s && path == kModem) {
            bus.send(m.createReply(QVariant::fromValue(QDBusVariant(script.capabilities))));
        } else if (member == u"Get"_s && active.contains(path)) {
            bus.send(m.createReply(QVariant::fromValue(QDBusVariant(active.value(path)))));
        } else if (member == u"AddAndActivateConnection2"_s) {
            addAndActivate(m);
        } else if (member == u"DeactivateConnection"_s && active.contains(target)) {
            bus.send(m.createReply());
            deactivate(target, 2);
        } else if (member == u"Delete"_s && stored.remove(path)) {
            bus.send(m.createReply());
            if (active.contains(activeOf(path)))
                deactivate(activeOf(path), 2);
        } else {
            bus.send(m.createErrorReply(u"org.freedesktop.DBus.Error.UnknownObject"_s, u"scripted"_s));
        }
        return true;
    }

Q_SIGNALS:
    void activationRequested(); // the answer has not gone out yet
    void activationAnswered();

private:
    void addAndActivate(const QDBusMessage &m)
    {
        settings = qdbus_cast<Settings>(m.arguments().value(0));
        device = m.arguments().value(1).value<QDBusObjectPath>().path();
        options = qdbus_cast<QVariantMap>(m.arguments().value(3));
        Q_EMIT activationRequested();
        if (script.outcome == Outcome::Refuse || device != kModem) {
            const bool refused = script.outcome == Outcome::Refuse;
            bus.send(m.createErrorReply(refused ? script.refusal : u"org.freedesktop.NetworkManager.UnknownDevice"_s,
                                        u"scripted"_s));
            return;
        }
        const QString settingsPath = kRoot + u"/Settings/"_s + QString::number(++made),
                      activePath = activeOf(settingsPath);
        stored.insert(settingsPath);
        active.insert(activePath, 1);
        const QDBusMessage answer = m.createReply({QVariant::fromValue(QDBusObjectPath(settingsPath)),
                                                   QVariant::fromValue(QDBusObjectPath(activePath)), QVariantMap()});
        const auto run = [this, activePath] {
            if (!active.contains(activePath))
                return;
            signal(activePath, u"Connection.Active"_s, {1u, 1u});
            if (script.outcome == Outcome::Activate) {
                signal(kModem, u"Device"_s, {100u, 70u, 0u});
                active.insert(activePath, 2);
                signal(activePath, u"Connection.Active"_s, {2u, 1u});
            } else if (script.outcome == Outcome::FailDevice) {
                signal(kModem, u"Device"_s, {120u, 50u, script.reason});
                deactivate(activePath, 3);
            } else if (script.outcome == Outcome::FailActive) {
                deactivate(activePath, script.reason);
            }
        };
        if (script.announceBeforeReply)
            run();
        bus.send(answer);
        if (!script.announceBeforeReply)
            QTimer::singleShot(0, this, run);
        Q_EMIT activationAnswered();
    }
    void deactivate(const QString &activePath, uint reason)
    {
        active.remove(activePath);
        signal(activePath, u"Connection.Active"_s, {4u, reason});
        signal(kModem, u"Device"_s, {30u, 100u, 0u});
        // A volatile connection is forgotten once it is down.
        if (options.value(u"persist"_s) == u"volatile"_s)
            stored.remove(QString(activePath).replace(u"ActiveConnection"_s, u"Settings"_s));
    }
    static QString activeOf(QString settingsPath) { return settingsPath.replace(u"Settings"_s, u"ActiveConnection"_s); }
    void signal(const QString &path, const QString &interface, const QVariantList &arguments)
    {
        QDBusMessage message = QDBusMessage::createSignal(path, u"org.freedesktop.NetworkManager."_s + interface,
                                                          u"StateChanged"_s);
        message.setArguments(arguments);
        bus.send(message);
    }
};

using Outcome = FakeNetworkManager::Outcome;
Q_DECLARE_METATYPE(Outcome)

class TestNetworkManagerDialer : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QProcess m_daemon;
    FakeNetworkManager m_fake;
    CancelFlag m_cancel;

    static ProfileSettingsRecord profile(const QString &number = u"0301234567"_s, const QString &user = u"dialer"_s,
                                         const QString &password = u"secret"_s)
    {
        ProfileSettingsRecord settings;
        settings.DialupNumber = number;
        settings.DialupUserID = user;
        settings.DialupPassword = password;
        return settings;
    }
    bool leaveBus() { return m_fake.bus.unregisterService(u"org.freedesktop.NetworkManager"_s); }
    bool joinBus() { return m_fake.bus.registerService(u"org.freedesktop.NetworkManager"_s); }
    // Nothing is left behind on NetworkManager's side.
    void verifyNothingLeft(const NetworkManagerDialer &dialer)
    {
        QCOMPARE(dialer.RasConnection, quint64(0));
        QCOMPARE(m_fake.active.size(), 0);
        QCOMPARE(m_fake.stored.size(), 0);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QFile config(m_dir.filePath(u"bus.conf"_s));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QString::fromLatin1(kBusConfig).arg(m_dir.filePath(u"socket"_s)).toUtf8());
        config.close();
        m_daemon.start(u"dbus-daemon"_s,
                       {u"--config-file="_s + config.fileName(), u"--nofork"_s, u"--nopidfile"_s,
                        u"--print-address"_s});
        QVERIFY2(m_daemon.waitForStarted(10'000), qPrintable(m_daemon.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(m_daemon.canReadLine(), 10'000);
        const QString address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        // Before anything asks for the system bus: it is this private one.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());
        qDBusRegisterMetaType<Settings>();
        m_fake.bus = QDBusConnection::connectToBus(address, kBusName);
        QVERIFY(m_fake.bus.registerVirtualObject(kRoot, &m_fake, QDBusConnection::SubPath) && joinBus());
    }
    void init()
    {
        m_fake.reset({});
        m_cancel.clear();
    }
    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(kBusName);
        m_daemon.terminate();
        QVERIFY(m_daemon.waitForFinished(5'000));
    }

    void rasErrorText()
    {
        const char *const texts[] = {"601: Invalid Port Handle",
                                     "602: Port Already Open",
                                     "606: Port Not Connected",
                                     "615: Port Not Found",
                                     "621: Cannot Open Phonebook",
                                     "622: Cannot Load Phonebook",
                                     "623: Cannot Find Phonebook Entry",
                                     "625: Corrupt Phonebook",
                                     "629: Remote Disconnection",
                                     "630: Modem not responding",
                                     "633: Port Not Available",
                                     "636: Wrong Device Attached",
                                     "638: Request Timeout",
                                     "646: Restricted Logon Hours",
                                     "647: Acct Disabled",
                                     "648: Password Expired",
                                     "649: No Dialin Permission",
                                     "660: No Response",
                                     "665: Port Not Configured",
                                     "666: Device Not Ready",
                                     "676: Line Busy",
                                     "677: Voice Answer",
                                     "678: No Answer",
                                     "679: No Carrier",
                                     "680: No Dialtone",
                                     "691: Authentication Failure",
                                     "708: Acctount Expired",
                                     "739: Cannot Use Logon Credentials",
                                     "743: Remote Requires Encryption",
                                     "711: NetworkManager Not Available" /* this system's own line */,
                                     "624: Unable To Connect",
                                     "631: Unable To Connect",
                                     "0: Unable To Connect" /* codes without a line */};
        for (const char *text : texts)
            QCOMPARE(RasErrorText(QByteArray(text).split(':').first().toInt()), QString::fromLatin1(text));
    }

    void dialsAndHangsUp_data()
    {
        QTest::addColumn<uint>("capabilities");
        QTest::addColumn<bool>("announceBeforeReply");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("values"); // number, user, password
        const QStringList plain{u"0301234567"_s, u"dialer"_s, u"secret"_s};
        QTest::newRow("analog modem") << 0x1u << false << u"gsm"_s << plain;
        QTest::newRow("up before the answer") << 0x1u << true << u"gsm"_s << plain;
        QTest::newRow("CDMA-only modem") << 0x2u << false << u"cdma"_s << plain;
        QTest::newRow("Unicode arrives intact")
            << 0x1u << false << u"gsm"_s
            << QStringList{u"+49 (0)30 555-0199,,*70"_s, u"Jürgen Ødegård"_s, u"pä§wörd ключ 密码 \U0001F511 \"'<&>"_s};
        QTest::newRow("longest values") << 0x1u << false << u"gsm"_s
                                        << QStringList{QString(128, u'9'), QString(256, u'u'), QString(256, u'p')};
        QTest::newRow("no user and password: left out") << 0x1u << false << u"gsm"_s << QStringList{u"5"_s, {}, {}};
    }
    void dialsAndHangsUp()
    {
        QFETCH(uint, capabilities);
        QFETCH(bool, announceBeforeReply);
        QFETCH(QString, kind);
        QFETCH(QStringList, values);
        m_fake.reset({.capabilities = capabilities, .announceBeforeReply = announceBeforeReply});
        NetworkManagerDialer dialer;
        dialer.DialUp(profile(values[0], values[1], values[2]), m_cancel);
        QCOMPARE(dialer.RasResult, 0);
        QVERIFY(dialer.RasConnection != 0);
        QCOMPARE(m_fake.active.size(), 1);
        QCOMPARE(m_fake.device, kModem);
        QCOMPARE(m_fake.settings[u"connection"_s][u"type"_s].toString(), kind);
        QCOMPARE(m_fake.settings[u"connection"_s][u"autoconnect"_s], QVariant(false));
        const QStringList keys{u"number"_s, u"username"_s, u"password"_s};
        QVariantMap expected;
        for (int i = 0; i < keys.size(); ++i) {
            if (!values[i].isEmpty())
                expected.insert(keys[i], values[i]);
        }
        QCOMPARE(m_fake.settings[kind], expected);
        QCOMPARE(m_fake.options[u"persist"_s].toString(), u"volatile"_s);

        dialer.HangUp();
        QCOMPARE(dialer.RasResult, 0);
        verifyNothingLeft(dialer);
        QCOMPARE(m_fake.calls.count(u"DeactivateConnection"_s), 1);
        dialer.HangUp(); // a second hang-up does nothing
        QCOMPARE(dialer.RasResult, 0);
        QCOMPARE(m_fake.calls.count(u"DeactivateConnection"_s), 1);
    }

    void failureBecomesResultCode_data()
    {
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<uint>("reason");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<bool>("announceBeforeReply");
        QTest::addColumn<int>("result");
        QTest::newRow("line busy") << Outcome::FailDevice << 23u << QString() << false << 676;
        QTest::newRow("no dial tone") << Outcome::FailDevice << 24u << QString() << false << 680;
        QTest::newRow("no carrier") << Outcome::FailDevice << 25u << QString() << false << 679;
        QTest::newRow("nobody answers") << Outcome::FailDevice << 26u << QString() << false << 678;
        QTest::newRow("nobody answers, before the answer") << Outcome::FailDevice << 26u << QString() << true << 678;
        QTest::newRow("PPP refused") << Outcome::FailDevice << 14u << QString() << false << 691;
        QTest::newRow("no secrets") << Outcome::FailDevice << 7u << QString() << false << 691;
        QTest::newRow("PPP disconnect") << Outcome::FailDevice << 13u << QString() << false << 629;
        QTest::newRow("modem not found") << Outcome::FailDevice << 43u << QString() << false << 633;
        QTest::newRow("dial failed") << Outcome::FailDevice << 27u << QString() << false << 651;
        QTest::newRow("login failed") << Outcome::FailActive << 10u << QString() << false << 691;
        QTest::newRow("login failed, before the answer") << Outcome::FailActive << 10u << QString() << true << 691;
        QTest::newRow("connect timeout") << Outcome::FailActive << 6u << QString() << false << 638;
        QTest::newRow("unknown reason") << Outcome::FailActive << 0u << QString() << false << 651;
        QTest::newRow("permission denied")
            << Outcome::Refuse << 0u << u"org.freedesktop.NetworkManager.PermissionDenied"_s << false << 651;
        QTest::newRow("device gone") << Outcome::Refuse << 0u << u"org.freedesktop.NetworkManager.UnknownDevice"_s
                                     << false << 633;
    }
    void failureBecomesResultCode()
    {
        QFETCH(Outcome, outcome);
        QFETCH(uint, reason);
        QFETCH(QString, refusal);
        QFETCH(bool, announceBeforeReply);
        QFETCH(int, result);
        m_fake.reset(
            {.outcome = outcome, .reason = reason, .refusal = refusal, .announceBeforeReply = announceBeforeReply});
        NetworkManagerDialer dialer;
        // Neither limit may be what ends the dial.
        dialer.setTimeLimit(60'000);
        dialer.setTeardownLimit(30'000);
        QElapsedTimer clock;
        clock.start();
        dialer.DialUp(profile(), m_cancel);
        QVERIFY2(clock.elapsed() < 10'000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(dialer.RasResult, result);
        verifyNothingLeft(dialer);
        // A hang-up after a failed dial has nothing to take down.
        const QStringList calls = m_fake.calls;
        dialer.HangUp();
        QCOMPARE(dialer.RasResult, 0);
        QCOMPARE(m_fake.calls, calls);
    }

    // Dials that end before anything is asked of NetworkManager.
    void refusedBeforeActivation_data()
    {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("result");
        const QString n = u"5"_s, u = u"u"_s, p = u"p"_s;
        QTest::newRow("no NetworkManager") << n << u << p << u"leave"_s << 711;
        QTest::newRow("no bus at all") << n << u << p << u"no bus"_s << 711;
        QTest::newRow("no modem") << n << u << p << u"no modem"_s << 633;
        QTest::newRow("cancelled before the dial") << n << u << p << u"cancel"_s << 631;
        QTest::newRow("number of 129") << QString(129, u'9') << u << p << QString() << 632;
        QTest::newRow("user of 257") << n << QString(257, u'u') << p << QString() << 632;
        QTest::newRow("password of 257") << n << u << QString(257, u'p') << QString() << 632;
        QTest::newRow("NUL in password") << n << u << u"ab"_s + QChar(0) + u"cd"_s << QString() << 632;
        QTest::newRow("lone surrogate in user") << n << QString(QChar(0xD800)) << p << QString() << 632;
    }
    void refusedBeforeActivation()
    {
        QFETCH(QString, number);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, setup);
        QFETCH(int, result);
        m_fake.reset({.modem = setup != u"no modem"_s});
        if (setup == u"cancel"_s)
            m_cancel.set();
        QVERIFY(setup != u"leave"_s || leaveBus());
        NetworkManagerDialer dialer(setup == u"no bus"_s
                                        ? QDBusConnection::connectToBus(u"unix:path=/nonexistent/bus"_s, u"no-bus"_s)
                                        : QDBusConnection::systemBus());
        QElapsedTimer clock;
        clock.start();
        dialer.DialUp(profile(number, user, password), m_cancel);
        const qint64 took = clock.elapsed();
        QVERIFY(setup != u"leave"_s || joinBus());
        QVERIFY(took < 10'000);
        QCOMPARE(dialer.RasResult, result);
        QCOMPARE(dialer.RasConnection, quint64(0));
        QVERIFY(!m_fake.calls.contains(u"AddAndActivateConnection2"_s));
    }

    // A modem that never connects.
    void endedWhileDialling_data()
    {
        QTest::addColumn<QString>("end");
        QTest::addColumn<int>("result");
        QTest::newRow("cancel before NetworkManager answers") << u"cancel early"_s << 631;
        QTest::newRow("cancel while the modem dials") << u"cancel"_s << 631;
        QTest::newRow("NetworkManager quits while the modem dials") << u"quit"_s << 711;
        QTest::newRow("time limit") << QString() << 638;
    }
    void endedWhileDialling()
    {
        QFETCH(QString, end);
        QFETCH(int, result);
        const bool networkManagerQuits = end == u"quit"_s;
        m_fake.reset({.outcome = Outcome::Hang});
        // Raised from inside the event loop DialUp waits in: the loop must run.
        const auto stop = [&] { networkManagerQuits ? void(leaveBus()) : m_cancel.set(); };
        const QMetaObject::Connection connection = end == u"cancel early"_s
            ? connect(&m_fake, &FakeNetworkManager::activationRequested, this, stop)
            : end.isEmpty()
            ? QMetaObject::Connection()
            : connect(&m_fake, &FakeNetworkManager::activationAnswered, this, stop, Qt::QueuedConnection);
        NetworkManagerDialer dialer;
        dialer.setTimeLimit(end.isEmpty() ? 300 : 60'000);
        QElapsedTimer clock;
        clock.start();
        dialer.DialUp(profile(), m_cancel);
        const qint64 took = clock.elapsed();
        disconnect(connection);
        QVERIFY(!networkManagerQuits || joinBus());
        if (end.isEmpty())
            QVERIFY(took >= 300 * 95 / 100); // a coarse timer may fire 5 % early
        QCOMPARE(dialer.RasResult, result);
        QCOMPARE(dialer.RasConnection, quint64(0));
        if (!networkManagerQuits)
            verifyNothingLeft(dialer);
    }

    void hangUpWithoutNetworkManagerReturnsAtOnce()
    {
        NetworkManagerDialer dialer;
        dialer.setTeardownLimit(30'000);
        dialer.DialUp(profile(), m_cancel);
        QCOMPARE(dialer.RasResult, 0);
        QVERIFY(leaveBus());
        QElapsedTimer clock;
        clock.start();
        dialer.HangUp();
        const qint64 took = clock.elapsed();
        QVERIFY(joinBus());
        QVERIFY2(took < 10'000, qPrintable(QString::number(took)));
        QCOMPARE(dialer.RasResult, 711);
        QCOMPARE(dialer.RasConnection, quint64(0));
    }
};

QTEST_GUILESS_MAIN(TestNetworkManagerDialer)
#include "tst_networkmanagerdialer.moc"
