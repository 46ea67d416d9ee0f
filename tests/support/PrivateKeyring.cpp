#include "PrivateKeyring.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

namespace testsupport {

namespace {
const QString kSecretsService = QStringLiteral("org.freedesktop.secrets");
}

PrivateKeyring::PrivateKeyring()
    : m_oldAddress(qgetenv("DBUS_SESSION_BUS_ADDRESS"))
    , m_hadAddress(qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"))
{
}

PrivateKeyring::~PrivateKeyring()
{
    stopKeyring();
    stopProcess(m_bus);
    if (m_hadAddress)
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_oldAddress);
    else
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}

bool PrivateKeyring::available(QString *why)
{
    for (const char *program : {"dbus-daemon", "gnome-keyring-daemon"}) {
        if (QStandardPaths::findExecutable(QLatin1String(program)).isEmpty()) {
            *why = QLatin1String(program) + QStringLiteral(" is not installed");
            return false;
        }
    }
    return true;
}

bool PrivateKeyring::start(QString *error)
{
    if (!available(error))
        return false;
    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(QStringLiteral("<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                                     "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" "
                                     "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                                     "<allow own=\"*\"/></policy></busconfig>\n")
                          .arg(m_dir.path())
                          .toUtf8())
            < 0) {
        *error = QStringLiteral("cannot write the bus configuration");
        return false;
    }
    file.close();
    m_bus.start(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                 QStringLiteral("--print-address=1")});
    if (!m_bus.waitForStarted(10000) || !m_bus.waitForReadyRead(10000)) {
        *error = QStringLiteral("dbus-daemon did not start");
        return false;
    }
    const QByteArray address = m_bus.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromLatin1(address));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
    env.insert(QStringLiteral("HOME"), m_dir.path());
    m_keyring.setProcessEnvironment(env);
    m_keyring.setProcessChannelMode(QProcess::MergedChannels);
    m_keyring.start(QStringLiteral("gnome-keyring-daemon"),
                    {QStringLiteral("--foreground"), QStringLiteral("--unlock"),
                     QStringLiteral("--components=secrets")});
    if (!m_keyring.waitForStarted(10000)) {
        *error = QStringLiteral("gnome-keyring-daemon did not start");
        return false;
    }
    m_keyring.write("keyring test password");
    m_keyring.closeWriteChannel();

    // The bus connection made here is the one Qt keeps for the process.
    const QDBusConnection bus = QDBusConnection::sessionBus();
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        if (bus.isConnected() && bus.interface()->isServiceRegistered(kSecretsService))
            return true;
        if (m_keyring.state() != QProcess::Running)
            break;
        m_keyring.waitForReadyRead(100); // a bounded pause that also gathers its output
    }
    *error = QStringLiteral("the keyring did not come up on the private bus: ")
        + QString::fromLocal8Bit(m_keyring.readAll());
    return false;
}

void PrivateKeyring::stopKeyring()
{
    stopProcess(m_keyring);
}

void PrivateKeyring::stopProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

} // namespace testsupport
