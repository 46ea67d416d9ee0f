#include "LinkedServer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <unistd.h>

namespace {
// Neither child outlives a forgotten benchmark by much.
const QString kLifetimeSeconds = QStringLiteral("1800");
// Loading 100,000 real-sized messages takes a while on a busy machine.
constexpr int kStartMs = 300000;
} // namespace

LinkedServer::LinkedServer(QString folder, bool offerPipelining)
    : m_program(QStringLiteral(TRELVIK_SAMPLE_POP3))
    , m_arguments{QStringLiteral("--folder"),   std::move(folder),
                  QStringLiteral("--user"),     QStringLiteral("bench"),
                  QStringLiteral("--password"), QStringLiteral("bench")}
{
    if (!offerPipelining)
        m_arguments << QStringLiteral("--no-pipelining");
}

LinkedServer::LinkedServer(QString program, QStringList arguments)
    : m_program(std::move(program))
    , m_arguments(std::move(arguments))
{
}

LinkedServer::LinkedServer(quint16 serverPort)
    : m_serverPort(serverPort)
{
}

LinkedServer::~LinkedServer()
{
    end(m_link);
    end(m_server);
}

double LinkedServer::serverCpuSeconds() const
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(m_server.processId()));
    if (m_server.processId() <= 0 || !stat.open(QIODevice::ReadOnly))
        return -1;
    // After the command's closing parenthesis: state is field 3, utime 14, stime 15.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

bool LinkedServer::start(QString *error)
{
    if (m_program.isEmpty())
        return m_serverPort != 0;
    m_server.start(m_program, m_arguments + QStringList{QStringLiteral("--lifetime"), kLifetimeSeconds});
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("127\\.0\\.0\\.1:(\\d+)")).match(firstLine(m_server));
    m_serverPort = match.hasMatch() ? quint16(match.captured(1).toUInt()) : 0;
    if (m_serverPort == 0 && error)
        *error = QStringLiteral("the sample server did not start: ") + m_server.errorString();
    return m_serverPort != 0;
}

quint16 LinkedServer::link(int roundTripMs, QString *error)
{
    end(m_link);
    m_link.start(QStringLiteral(TRELVIK_LINKEMU),
                 {QStringLiteral("--target"), QString::number(m_serverPort), QStringLiteral("--rtt"),
                  QString::number(roundTripMs), QStringLiteral("--lifetime"), kLifetimeSeconds});
    const quint16 port = quint16(firstLine(m_link).trimmed().toUInt());
    if (port == 0 && error)
        *error = QStringLiteral("the link emulator did not start: ") + m_link.errorString();
    return port;
}

int LinkedServer::roundTripsWaited()
{
    static const QRegularExpression ended(QStringLiteral("^connection ended: (\\d+) round trips waited"));
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        while (m_link.canReadLine()) {
            const QRegularExpressionMatch match = ended.match(QString::fromLatin1(m_link.readLine()));
            if (match.hasMatch())
                return match.captured(1).toInt();
        }
        if (!m_link.waitForReadyRead(int(10000 - clock.elapsed())))
            break;
    }
    return -1;
}

QString LinkedServer::firstLine(QProcess &process)
{
    if (!process.waitForStarted(kStartMs))
        return {};
    QElapsedTimer clock;
    clock.start();
    while (!process.canReadLine() && clock.elapsed() < kStartMs) {
        if (!process.waitForReadyRead(int(kStartMs - clock.elapsed())))
            break;
    }
    return QString::fromLocal8Bit(process.readLine());
}

void LinkedServer::end(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}
