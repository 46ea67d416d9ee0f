#include "PrivateBus.h"

#include <QDeadlineTimer>
#include <QFile>

namespace {

// A session-like bus that lets everyone own and call anything, with no
// service activation: only what a test starts is on it.
const char *const kConfig = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

} // namespace

PrivateBus::~PrivateBus()
{
    stop();
}

bool PrivateBus::start(QString *why)
{
    if (!m_dir.isValid()) {
        *why = QStringLiteral("no temporary folder");
        return false;
    }
    const QString configPath = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly)
        || config.write(QString::fromLatin1(kConfig).arg(m_dir.filePath(QStringLiteral("socket"))).toUtf8()) < 0) {
        *why = QStringLiteral("cannot write %1").arg(configPath);
        return false;
    }
    config.close();

    m_daemon.setProgram(QStringLiteral("dbus-daemon"));
    m_daemon.setArguments({QStringLiteral("--config-file=") + configPath, QStringLiteral("--nofork"),
                           QStringLiteral("--nopidfile"), QStringLiteral("--print-address")});
    m_daemon.setProcessChannelMode(QProcess::SeparateChannels);
    m_daemon.start();
    if (!m_daemon.waitForStarted(10'000)) {
        *why = QStringLiteral("dbus-daemon did not start: ") + m_daemon.errorString();
        return false;
    }
    QByteArray output;
    const QDeadlineTimer deadline(10'000);
    while (!output.contains('\n') && !deadline.hasExpired()) {
        if (!m_daemon.waitForReadyRead(int(deadline.remainingTime())))
            break;
        output += m_daemon.readAllStandardOutput();
    }
    m_address = QString::fromUtf8(output).trimmed();
    if (m_address.isEmpty()) {
        *why = QStringLiteral("dbus-daemon printed no address: ")
            + QString::fromLocal8Bit(m_daemon.readAllStandardError());
        stop();
        return false;
    }
    return true;
}

void PrivateBus::stop()
{
    if (m_daemon.state() == QProcess::NotRunning)
        return;
    m_daemon.terminate();
    if (!m_daemon.waitForFinished(5'000)) {
        m_daemon.kill();
        m_daemon.waitForFinished(5'000);
    }
}
