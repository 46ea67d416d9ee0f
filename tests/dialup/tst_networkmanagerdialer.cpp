// The NetworkManager dialer against a scripted NetworkManager on a private bus.

#include "FakeNetworkManager.h"
#include "NetworkManagerDialer.h"
#include "PrivateBus.h"

#include "Global.h"

#include <QElapsedTimer>
#include <QTest>

using Outcome = FakeNetworkManager::Outcome;
using Script = FakeNetworkManager::Script;

Q_DECLARE_METATYPE(Outcome)

class TestNetworkManagerDialer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void dialsAndHangsUp_data();
    void dialsAndHangsUp();
    void failureBecomesResultCode_data();
    void failureBecomesResultCode();
    void withoutNetworkManager();
    void withoutModem();
    void timeLimit();
    void cancelWhileDialling_data();
    void cancelWhileDialling();
    void cancelRaisedBeforeDial();
    void networkManagerQuitsWhileDialling();
    void hangUpAfterFailedDial();
    void dialerGoneWithLineUp();
    void hangUpWithoutNetworkManager();
    void secondDialWhileDialling();
    void valuesArriveIntact();
    void refusedValues_data();
    void refusedValues();

private:
    static Global::ProfileSettingsRecord profile(const QString &number = QStringLiteral("0301234567"),
                                                 const QString &user = QStringLiteral("dialer"),
                                                 const QString &password = QStringLiteral("secret"));

    PrivateBus m_bus;
    FakeNetworkManager m_fake;
    Global::CancelFlag m_cancel;
};

Global::ProfileSettingsRecord TestNetworkManagerDialer::profile(const QString &number,
                                                                const QString &user,
                                                                const QString &password)
{
    Global::ProfileSettingsRecord settings;
    settings.Autodial = QStringLiteral("1");
    settings.DialupNumber = number;
    settings.DialupUserID = user;
    settings.DialupPassword = password;
    return settings;
}

void TestNetworkManagerDialer::initTestCase()
{
    QString why;
    QVERIFY2(m_bus.start(&why), qPrintable(why));
    // Before anything asks for the system bus: it is this private one.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_bus.address().toUtf8());
    QVERIFY(m_fake.attach(m_bus.address()));
}

void TestNetworkManagerDialer::init()
{
    m_fake.reset();
    m_cancel.clear();
}

void TestNetworkManagerDialer::cleanupTestCase()
{
    m_bus.stop();
}

void TestNetworkManagerDialer::dialsAndHangsUp_data()
{
    QTest::addColumn<uint>("capabilities");
    QTest::addColumn<bool>("announceBeforeReply");
    QTest::addColumn<QString>("kind");

    QTest::newRow("analog modem") << 0x1u << false << "gsm";
    QTest::newRow("up before the answer") << 0x1u << true << "gsm";
    QTest::newRow("GSM/LTE modem") << 0xCu << false << "gsm";
    QTest::newRow("CDMA-only modem") << 0x2u << false << "cdma";
}

void TestNetworkManagerDialer::dialsAndHangsUp()
{
    QFETCH(uint, capabilities);
    QFETCH(bool, announceBeforeReply);
    QFETCH(QString, kind);
    Script script;
    script.modemCapabilities = capabilities;
    script.announceBeforeReply = announceBeforeReply;
    m_fake.reset(script);

    NetworkManagerDialer dialer;
    dialer.DialUp(profile(), m_cancel);
    QCOMPARE(dialer.RasResult, 0);
    QVERIFY(dialer.RasConnection != 0);
    QCOMPARE(m_fake.activeCount(), 1);
    QCOMPARE(m_fake.lastDevice, QStringLiteral("/org/freedesktop/NetworkManager/Devices/2"));
    QCOMPARE(m_fake.lastSettings.value(QStringLiteral("connection")).value(QStringLiteral("type")).toString(), kind);
    QCOMPARE(m_fake.lastSettings.value(QStringLiteral("connection")).value(QStringLiteral("autoconnect")), QVariant(false));
    const QVariantMap modem = m_fake.lastSettings.value(kind);
    QCOMPARE(modem.value(QStringLiteral("number")).toString(), QStringLiteral("0301234567"));
    QCOMPARE(modem.value(QStringLiteral("username")).toString(), QStringLiteral("dialer"));
    QCOMPARE(modem.value(QStringLiteral("password")).toString(), QStringLiteral("secret"));
    QCOMPARE(m_fake.lastOptions.value(QStringLiteral("persist")).toString(), QStringLiteral("volatile"));

    dialer.HangUp();
    QCOMPARE(dialer.RasResult, 0);
    QCOMPARE(dialer.RasConnection, quint64(0));
    QCOMPARE(m_fake.activeCount(), 0);
    QCOMPARE(m_fake.settingsCount(), 0);
    QVERIFY(m_fake.calls.contains(QStringLiteral("DeactivateConnection")));
}

void TestNetworkManagerDialer::failureBecomesResultCode_data()
{
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<uint>("reason");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<bool>("announceBeforeReply");
    QTest::addColumn<QString>("text");

    const QString none;
    QTest::newRow("line busy") << Outcome::FailDevice << 23u << none << false << "676: Line Busy";
    QTest::newRow("no dial tone") << Outcome::FailDevice << 24u << none << false << "680: No Dialtone";
    QTest::newRow("no carrier") << Outcome::FailDevice << 25u << none << false << "679: No Carrier";
    QTest::newRow("nobody answers") << Outcome::FailDevice << 26u << none << false << "678: No Answer";
    QTest::newRow("nobody answers, before the answer") << Outcome::FailDevice << 26u << none << true << "678: No Answer";
    QTest::newRow("PPP refused") << Outcome::FailDevice << 14u << none << false << "691: Authentication Failure";
    QTest::newRow("no secrets") << Outcome::FailDevice << 7u << none << false << "691: Authentication Failure";
    QTest::newRow("PPP disconnect") << Outcome::FailDevice << 13u << none << false << "629: Remote Disconnection";
    QTest::newRow("modem not found") << Outcome::FailDevice << 43u << none << false << "633: Port Not Available";
    QTest::newRow("dial failed") << Outcome::FailDevice << 27u << none << false << "651: Unable To Connect";
    QTest::newRow("login failed") << Outcome::FailActive << 10u << none << false << "691: Authentication Failure";
    QTest::newRow("connect timeout") << Outcome::FailActive << 6u << none << false << "638: Request Timeout";
    QTest::newRow("login failed, before the answer") << Outcome::FailActive << 10u << none << true
                                                     << "691: Authentication Failure";
    QTest::newRow("unknown reason") << Outcome::FailActive << 0u << none << false << "651: Unable To Connect";
    QTest::newRow("permission denied") << Outcome::Refuse << 0u
                                       << "org.freedesktop.NetworkManager.PermissionDenied" << false
                                       << "651: Unable To Connect";
    QTest::newRow("device gone") << Outcome::Refuse << 0u << "org.freedesktop.NetworkManager.UnknownDevice"
                                 << false << "633: Port Not Available";
}

void TestNetworkManagerDialer::failureBecomesResultCode()
{
    QFETCH(Outcome, outcome);
    QFETCH(uint, reason);
    QFETCH(QString, refusal);
    QFETCH(bool, announceBeforeReply);
    QFETCH(QString, text);
    Script script;
    script.outcome = outcome;
    script.reason = reason;
    script.refusal = refusal;
    script.announceBeforeReply = announceBeforeReply;
    m_fake.reset(script);

    NetworkManagerDialer dialer;
    // Neither limit may be what ends the dial.
    dialer.setTimeLimit(60'000);
    dialer.setTeardownLimit(30'000);
    QElapsedTimer clock;
    clock.start();
    dialer.DialUp(profile(), m_cancel);
    QVERIFY2(clock.elapsed() < 10'000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(RasErrorText(dialer.RasResult), text);
    QCOMPARE(dialer.RasConnection, quint64(0));
    QCOMPARE(m_fake.activeCount(), 0);
    QCOMPARE(m_fake.settingsCount(), 0);
}

void TestNetworkManagerDialer::withoutNetworkManager()
{
    m_fake.leave();
    NetworkManagerDialer dialer;
    QElapsedTimer clock;
    clock.start();
    dialer.DialUp(profile(), m_cancel);
    const qint64 took = clock.elapsed();
    QVERIFY(m_fake.rejoin());
    QCOMPARE(RasErrorText(dialer.RasResult), QStringLiteral("711: NetworkManager Not Available"));
    QVERIFY2(took < dialer.timeLimit() / 10, qPrintable(QString::number(took)));

    // No bus at all.
    NetworkManagerDialer noBus(QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"),
                                                             QStringLiteral("no-bus")));
    noBus.DialUp(profile(), m_cancel);
    QCOMPARE(noBus.RasResult, 711);
    QCOMPARE(noBus.RasConnection, quint64(0));
}

void TestNetworkManagerDialer::withoutModem()
{
    Script script;
    script.modem = false;
    m_fake.reset(script);
    NetworkManagerDialer dialer;
    dialer.DialUp(profile(), m_cancel);
    QCOMPARE(RasErrorText(dialer.RasResult), QStringLiteral("633: Port Not Available"));
    QVERIFY(!m_fake.calls.contains(QStringLiteral("AddAndActivateConnection2")));
}

void TestNetworkManagerDialer::timeLimit()
{
    Script script;
    script.outcome = Outcome::Hang;
    m_fake.reset(script);
    NetworkManagerDialer dialer;
    dialer.setTimeLimit(300);
    QElapsedTimer clock;
    clock.start();
    dialer.DialUp(profile(), m_cancel);
    QVERIFY(clock.elapsed() >= 300 * 95 / 100); // a coarse timer may fire 5 % early
    QCOMPARE(RasErrorText(dialer.RasResult), QStringLiteral("638: Request Timeout"));
    QCOMPARE(dialer.RasConnection, quint64(0));
    QCOMPARE(m_fake.activeCount(), 0);
    QCOMPARE(m_fake.settingsCount(), 0);
}

void TestNetworkManagerDialer::cancelWhileDialling_data()
{
    QTest::addColumn<bool>("beforeAnswer");
    QTest::newRow("before NetworkManager answers") << true;
    QTest::newRow("while the modem dials") << false;
}

void TestNetworkManagerDialer::cancelWhileDialling()
{
    QFETCH(bool, beforeAnswer);
    Script script;
    script.outcome = Outcome::Hang;
    m_fake.reset(script);
    // Raised from inside the event loop DialUp waits in: the loop must run.
    if (beforeAnswer)
        connect(&m_fake, &FakeNetworkManager::activationRequested, &m_cancel, &Global::CancelFlag::set);
    else
        connect(&m_fake, &FakeNetworkManager::activationAnswered, &m_cancel, &Global::CancelFlag::set,
                Qt::QueuedConnection);

    NetworkManagerDialer dialer;
    dialer.DialUp(profile(), m_cancel);
    disconnect(&m_fake, nullptr, &m_cancel, nullptr);
    QCOMPARE(dialer.RasResult, 631);
    QCOMPARE(dialer.RasConnection, quint64(0));
    QCOMPARE(m_fake.activeCount(), 0);
    QCOMPARE(m_fake.settingsCount(), 0);
}

void TestNetworkManagerDialer::cancelRaisedBeforeDial()
{
    m_cancel.set();
    NetworkManagerDialer dialer;
    dialer.DialUp(profile(), m_cancel);
    QCOMPARE(dialer.RasResult, 631);
    QVERIFY(m_fake.calls.isEmpty());
}

void TestNetworkManagerDialer::networkManagerQuitsWhileDialling()
{
    Script script;
    script.outcome = Outcome::Hang;
    m_fake.reset(script);
    connect(&m_fake, &FakeNetworkManager::activationAnswered, &m_fake, &FakeNetworkManager::leave,
            Qt::QueuedConnection);
    NetworkManagerDialer dialer;
    dialer.DialUp(profile(), m_cancel);
    disconnect(&m_fake, &FakeNetworkManager::activationAnswered, &m_fake, nullptr);
    QVERIFY(m_fake.rejoin());
    QCOMPARE(dialer.RasResult, 711);
    QCOMPARE(dialer.RasConnection, quint64(0));
}

void TestNetworkManagerDialer::hangUpAfterFailedDial()
{
    Script script;
    script.outcome = Outcome::FailDevice;
    script.reason = 23;
    m_fake.reset(script);
    NetworkManagerDialer dialer;
    dialer.DialUp(profile(), m_cancel);
    QCOMPARE(dialer.RasResult, 676);
    const QStringList callsAfterDial = m_fake.calls;

    dialer.HangUp();
    QCOMPARE(dialer.RasResult, 0);
    QCOMPARE(dialer.RasConnection, quint64(0));
    QCOMPARE(m_fake.calls, callsAfterDial);
    QCOMPARE(m_fake.settingsCount(), 0);

    // And a second hang-up after a good dial does nothing either.
    m_fake.reset();
    dialer.DialUp(profile(), m_cancel);
    QCOMPARE(dialer.RasResult, 0);
    dialer.HangUp();
    dialer.HangUp();
    QCOMPARE(dialer.RasResult, 0);
    QCOMPARE(m_fake.calls.count(QStringLiteral("DeactivateConnection")), 1);
}

void TestNetworkManagerDialer::dialerGoneWithLineUp()
{
    {
        NetworkManagerDialer dialer;
        dialer.DialUp(profile(), m_cancel);
        QCOMPARE(dialer.RasResult, 0);
        QCOMPARE(m_fake.activeCount(), 1);
    }
    QTRY_COMPARE(m_fake.activeCount(), 0);
    QTRY_COMPARE(m_fake.settingsCount(), 0);
}

void TestNetworkManagerDialer::hangUpWithoutNetworkManager()
{
    NetworkManagerDialer dialer;
    dialer.setTeardownLimit(30'000);
    dialer.DialUp(profile(), m_cancel);
    QCOMPARE(dialer.RasResult, 0);
    m_fake.leave();
    QElapsedTimer clock;
    clock.start();
    dialer.HangUp();
    const qint64 took = clock.elapsed();
    QVERIFY(m_fake.rejoin());
    QVERIFY2(took < 10'000, qPrintable(QString::number(took)));
    QCOMPARE(dialer.RasResult, 711);
    QCOMPARE(dialer.RasConnection, quint64(0));
}

void TestNetworkManagerDialer::secondDialWhileDialling()
{
    Script script;
    script.outcome = Outcome::Hang;
    m_fake.reset(script);
    NetworkManagerDialer dialer;
    dialer.setTimeLimit(2'000);
    qint32 innerResult = -1;
    connect(&m_fake, &FakeNetworkManager::activationAnswered, this, [&] {
        dialer.DialUp(profile(), m_cancel);
        innerResult = dialer.RasResult;
        m_cancel.set();
    }, Qt::QueuedConnection);
    dialer.DialUp(profile(), m_cancel);
    disconnect(&m_fake, &FakeNetworkManager::activationAnswered, this, nullptr);
    QCOMPARE(innerResult, 602);
    QCOMPARE(dialer.RasResult, 631);
    QCOMPARE(m_fake.calls.count(QStringLiteral("AddAndActivateConnection2")), 1);
    QCOMPARE(m_fake.settingsCount(), 0);
}

void TestNetworkManagerDialer::valuesArriveIntact()
{
    const QString number = QStringLiteral("+49 (0)30 555-0199,,*70");
    const QString user = QStringLiteral("Jürgen Ødegård");
    const QString password = QStringLiteral("pä§wörd ключ 密码 \U0001F511 \"'<&>");
    NetworkManagerDialer dialer;
    dialer.DialUp(profile(number, user, password), m_cancel);
    QCOMPARE(dialer.RasResult, 0);
    const QVariantMap modem = m_fake.lastSettings.value(QStringLiteral("gsm"));
    QCOMPARE(modem.value(QStringLiteral("number")).toString(), number);
    QCOMPARE(modem.value(QStringLiteral("username")).toString(), user);
    QCOMPARE(modem.value(QStringLiteral("password")).toString(), password);
    dialer.HangUp();

    // Empty user and password are left out rather than sent empty.
    m_fake.reset();
    dialer.DialUp(profile(number, QString(), QString()), m_cancel);
    QCOMPARE(dialer.RasResult, 0);
    QCOMPARE(m_fake.lastSettings.value(QStringLiteral("gsm")).keys(), QStringList{QStringLiteral("number")});
    dialer.HangUp();
}

void TestNetworkManagerDialer::refusedValues_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("result");

    const QString n = QStringLiteral("5");
    const QString u = QStringLiteral("u");
    const QString p = QStringLiteral("p");
    QTest::newRow("longest values") << QString(128, u'9') << QString(256, u'u') << QString(256, u'p') << 0;
    QTest::newRow("number of 129") << QString(129, u'9') << u << p << 632;
    QTest::newRow("user of 257") << n << QString(257, u'u') << p << 632;
    QTest::newRow("password of 257") << n << u << QString(257, u'p') << 632;
    QTest::newRow("NUL in password") << n << u << QStringLiteral("ab") + QChar(0) + QStringLiteral("cd") << 632;
    QTest::newRow("lone surrogate in user") << n << QString(QChar(0xD800)) << p << 632;
}

void TestNetworkManagerDialer::refusedValues()
{
    QFETCH(QString, number);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(int, result);
    NetworkManagerDialer dialer;
    dialer.DialUp(profile(number, user, password), m_cancel);
    QCOMPARE(dialer.RasResult, result);
    if (result != 0) {
        QVERIFY(m_fake.calls.isEmpty());
        QCOMPARE(RasErrorText(dialer.RasResult), QStringLiteral("632: Unable To Connect"));
    } else {
        QCOMPARE(m_fake.lastSettings.value(QStringLiteral("gsm")).value(QStringLiteral("password")).toString(),
                 password);
        dialer.HangUp();
    }
}

QTEST_GUILESS_MAIN(TestNetworkManagerDialer)
#include "tst_networkmanagerdialer.moc"
