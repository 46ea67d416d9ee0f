// The command line's check, as a timer runs it: `trelvik --check` from
// process start to exit, against the sample server serving 1,000 messages
// on loopback with no added delay, in a private home with a few rules.
// Then what a run costs at its edges: the peak memory of `--check --json`
// over 100,000 small messages, and the CPU a run spends in 10 s against a
// server that streams one reply without end. Then `--check --all` over
// three such profiles. Last, the check over mail of real size (headers of 2
// to 8 KB) with a real rule database (RealCheck): 100,000 messages (time
// and peak memory) and `--check --delete` of 1,000 spam among 10,000 over
// a 100 ms round trip.
#include "BenchHome.h"
#include "Profile.h"
#include "RealCheck.h"
#include "RuleDatabase.h"
#include "SamplePop3Server.h"
#include "Scramble.h"
#include "SettingsStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <utility>
#include <sys/resource.h>

namespace {

constexpr int kMessages = 1000;

QList<SamplePop3Server::Message> messages()
{
    QList<SamplePop3Server::Message> list;
    list.reserve(kMessages);
    for (int i = 1; i <= kMessages; ++i) {
        const QByteArray n = QByteArray::number(i);
        const QByteArray domain = "domain" + QByteArray::number(i % 37) + ".example";
        QByteArray m = "Received: from mx." + domain
            + " by pop.example; Sun, 6 Dec 2026 10:00:00 +0000\r\n"
              "From: Sender "
            + n + " <sender" + n + "@" + domain
            + ">\r\n"
              "To: bench@pop.example\r\nSubject: Benchmark message "
            + n
            + "\r\n"
              "Date: Sun, 6 Dec 2026 10:00:00 +0000\r\nMessage-ID: <"
            + n + ".bench@" + domain + ">\r\n";
        while (m.size() < 1000)
            m += "X-Filler: " + QByteArray(60, 'x') + "\r\n";
        list.append({m + "\r\n" + QByteArray("body line\r\n").repeated(20), QStringLiteral("uid-%1").arg(i), {}});
    }
    return list;
}

bool prepare(quint16 port);

constexpr int kManyMessages = 100'000;

// Small messages: a few header lines and a line of body, as a mailbox full
// of short notifications has them.
QList<SamplePop3Server::Message> manyMessages()
{
    QList<SamplePop3Server::Message> list;
    list.reserve(kManyMessages);
    for (int i = 1; i <= kManyMessages; ++i) {
        const QByteArray n = QByteArray::number(i);
        const QByteArray domain = "domain" + QByteArray::number(i % 37) + ".example";
        list.append({"From: Sender " + n + " <sender" + n + "@" + domain
                         + ">\r\nTo: bench@pop.example\r\n"
                           "Subject: Notice "
                         + n + "\r\nDate: Sun, 6 Dec 2026 10:00:00 +0000\r\n\r\nbody\r\n",
                     QStringLiteral("uid-%1").arg(i),
                     {}});
    }
    return list;
}

struct Child {
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    double seconds = 0;
};

// Starts trelvik with these arguments and waits at most `limitMs` (then
// kills it), serving from this process's event loop meanwhile.
Child runTrelvik(const QStringList &arguments, int limitMs)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/bus"));
    process.setProcessEnvironment(env);
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral(TRELVIK_BINARY), arguments);
    loop.exec();
    Child child;
    child.seconds = timer.nsecsElapsed() / 1e9;
    child.finished = process.state() == QProcess::NotRunning;
    if (!child.finished) {
        process.kill();
        process.waitForFinished(5'000);
    }
    child.exitCode = child.finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    child.out = process.readAllStandardOutput();
    child.err = process.readAllStandardError();
    return child;
}

// What the children this process has waited for used so far.
rusage childrenUsage()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage;
}

double cpuSeconds(const rusage &u)
{
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Peak resident memory of `trelvik --check --json` over 100,000 messages, in
// MB; -1 when the run failed. It must be this process's first child: the
// kernel keeps the largest peak among the children waited for.
double peakRssOfJsonCheck()
{
    const Child child = runTrelvik({QStringLiteral("--check"), QStringLiteral("--json"), QStringLiteral("--quiet")},
                                   300'000);
    const QJsonDocument document = QJsonDocument::fromJson(child.out);
    const qsizetype rows = document.object().value(QStringLiteral("messages")).toArray().size();
    if (child.exitCode != 0 || rows != kManyMessages) {
        std::fprintf(stderr, "# trelvik --check --json over %d messages: exit %d, %lld rows\n%s", kManyMessages,
                     child.exitCode, qlonglong(rows), child.err.constData());
        return -1;
    }
    std::printf("# --check --json over %d messages: %.1f s\n", kManyMessages, child.seconds);
    return childrenUsage().ru_maxrss / 1024.0;
}

// The figures over real-sized mail, from a process of its own: a child's
// peak memory, as the kernel tells it, starts from the peak of the process
// it was spawned from, and this one has grown large by then.
bool realApart()
{
    QProcess only;
    only.setProcessChannelMode(QProcess::ForwardedChannels);
    only.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--only"), QStringLiteral("real")});
    if (only.waitForFinished(3'000'000) && only.exitStatus() == QProcess::NormalExit && only.exitCode() == 0)
        return true;
    std::fprintf(stderr, "bench_cli: the figures over real-sized mail failed\n");
    return false;
}

// A POP3 server that answers the login and the listings of one message, and
// then answers TOP with a header that never ends, sent as fast as the
// client takes it, for as long as the connection lasts.
class EndlessServer : public QObject {
public:
    bool listen()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                serve(socket);
        });
        return m_server.listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return m_server.serverPort(); }
    qint64 streamed() const { return m_streamed; }

private:
    void serve(QTcpSocket *socket)
    {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto input = std::make_shared<QByteArray>();
        auto endless = std::make_shared<bool>(false);
        const QByteArray chunk = ("X-Endless: " + QByteArray(1000, 'e') + "\r\n").repeated(64);
        auto pump = [this, socket, endless, chunk] {
            while (*endless && socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < 1 << 20) {
                socket->write(chunk);
                m_streamed += chunk.size();
            }
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, pump);
        connect(socket, &QTcpSocket::readyRead, socket, [socket, input, endless, pump] {
            *input += socket->readAll();
            qsizetype eol;
            while (!*endless && (eol = input->indexOf("\r\n")) >= 0) {
                const QByteArray line = input->left(eol).toUpper();
                input->remove(0, eol + 2);
                if (line.startsWith("CAPA"))
                    socket->write("-ERR no capabilities\r\n");
                else if (line.startsWith("STAT"))
                    socket->write("+OK 1 1000\r\n");
                else if (line.startsWith("UIDL"))
                    socket->write("+OK\r\n1 endless\r\n.\r\n");
                else if (line == "LIST")
                    socket->write("+OK\r\n1 1000\r\n.\r\n");
                else if (line.startsWith("TOP")) {
                    socket->write("+OK\r\nFrom: endless@bench.example\r\n");
                    *endless = true;
                    pump();
                } else
                    socket->write("+OK\r\n");
            }
        });
        socket->write("+OK endless bench\r\n");
    }

    QTcpServer m_server;
    qint64 m_streamed = 0;
};

// CPU seconds trelvik uses in (at most) 10 s against the endless server.
double cpuAgainstEndlessReply()
{
    EndlessServer server;
    if (!server.listen() || !prepare(server.port()))
        return -1;
    const double before = cpuSeconds(childrenUsage());
    const Child child = runTrelvik({QStringLiteral("--check"), QStringLiteral("--quiet")}, 10'000);
    const double used = cpuSeconds(childrenUsage()) - before;
    std::printf("# endless reply: %s after %.1f s (exit %d), %.0f MB streamed\n", child.finished ? "ended" : "killed",
                child.seconds, child.exitCode, server.streamed() / 1048576.0);
    return used;
}

bool prepare(quint16 port)
{
    using namespace modRegistry;
    const QString key = kSettingKeyPrefix + QStringLiteral("Bench");
    QString password = QStringLiteral("bench");
    WriteStoreValue(HKEY_CURRENT_USER, key, QStringLiteral("EmailHost"), REG_SZ, QStringLiteral("127.0.0.1"));
    WriteStoreValue(HKEY_CURRENT_USER, key, QStringLiteral("EmailPort"), REG_SZ, QString::number(port));
    WriteStoreValue(HKEY_CURRENT_USER, key, QStringLiteral("EmailUserId"), REG_SZ, QStringLiteral("bench"));
    WriteStoreValue(HKEY_CURRENT_USER, key, QStringLiteral("EmailPassword"), REG_SZ,
                    modSecurity::ScrambleText(password));
    WriteStoreValue(HKEY_CURRENT_USER, kTrelvikKey, QStringLiteral("LastProfile"), REG_SZ, QStringLiteral("Bench"));
    // The rules once: the profile is pointed at each server in turn.
    static bool rulesWritten = false;
    if (std::exchange(rulesWritten, true))
        return true;
    RuleDatabase rules;
    return rules.OpenRuleDatabase()
        && rules.InsertRules(QStringLiteral("tbfilter"),
                             {QStringLiteral("*@domain1.example"), QStringLiteral("*@domain2.example")})
        && rules.InsertRules(QStringLiteral("tbexempted"), {QStringLiteral("Sender 38 <sender38@domain1.example>")});
}

// One more profile on the bench's account at this port.
bool addProfile(const QString &name, quint16 port)
{
    using namespace modRegistry;
    const QString key = kSettingKeyPrefix + name;
    QString password = QStringLiteral("bench");
    return WriteStoreValue(HKEY_CURRENT_USER, key, QStringLiteral("EmailHost"), REG_SZ, QStringLiteral("127.0.0.1"))
        && WriteStoreValue(HKEY_CURRENT_USER, key, QStringLiteral("EmailPort"), REG_SZ, QString::number(port))
        && WriteStoreValue(HKEY_CURRENT_USER, key, QStringLiteral("EmailUserId"), REG_SZ, QStringLiteral("bench"))
        && WriteStoreValue(HKEY_CURRENT_USER, key, QStringLiteral("EmailPassword"), REG_SZ,
                           modSecurity::ScrambleText(password));
}

// Seconds from start to exit, or -1 when the run failed.
double checkOnce()
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/bus"));
    process.setProcessEnvironment(env);
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(60'000, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral(TRELVIK_BINARY), {QStringLiteral("--check")});
    loop.exec(); // the server answers from this process meanwhile
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5'000);
        return -1;
    }
    const QList<QByteArray> lines = process.readAllStandardOutput().trimmed().split('\n');
    if (process.exitCode() != 0 || lines.size() != kMessages + 1) {
        std::fprintf(stderr, "# trelvik --check: exit %d, %d lines\n%s", process.exitCode(), int(lines.size()),
                     process.readAllStandardError().constData());
        return -1;
    }
    return seconds;
}

} // namespace

int main(int argc, char *argv[])
{
    BenchHome home;
    QCoreApplication app(argc, argv);
    if (!home.isValid())
        return 1;
    // "--only real": the check over real-sized mail alone.
    if (argc == 3 && qstrcmp(argv[1], "--only") == 0) {
        if (qstrcmp(argv[2], "real") == 0)
            return RealCheck::run(prepare) ? 0 : 1;
        std::fprintf(stderr, "# unknown part %s\n", argv[2]);
        return 2;
    }
    {
        // First: the memory figure needs to come from this process's first child.
        SamplePop3Server many(manyMessages(), "bench", "bench");
        if (!home.isValid() || !many.listen() || !prepare(many.port())) {
            std::fprintf(stderr, "bench_cli: cannot set up the server, profile or rules\n");
            return 1;
        }
        const double peak = peakRssOfJsonCheck();
        if (peak < 0)
            return 1;
        std::printf("BENCH cli_check_json_100k_peak_rss %.1f MB\n", peak);
    }
    const double cpu = cpuAgainstEndlessReply();
    if (cpu < 0)
        return 1;
    std::printf("BENCH endless_reply_cpu_10s %.2f s\n", cpu);

    SamplePop3Server server(messages(), "bench", "bench");
    if (!server.listen() || !prepare(server.port())) {
        std::fprintf(stderr, "bench_cli: cannot set up the server, profile or rules\n");
        return 1;
    }
    double best = -1;
    for (int run = 0; run < 3; ++run) {
        const double seconds = checkOnce();
        if (seconds < 0)
            return 1;
        best = best < 0 ? seconds : qMin(best, seconds);
    }
    std::printf("BENCH cli_check_1000_0ms %.3f s\n", best);

    // `--check --all` over three profiles of 1,000 messages each: "Bench"
    // on the server above and two more, each on a server of its own.
    SamplePop3Server second(messages(), "bench", "bench");
    SamplePop3Server third(messages(), "bench", "bench");
    if (!second.listen() || !third.listen() || !addProfile(QStringLiteral("Bench 2"), second.port())
        || !addProfile(QStringLiteral("Bench 3"), third.port())) {
        std::fprintf(stderr, "bench_cli: cannot set up the servers or profiles for --all\n");
        return 1;
    }
    best = -1;
    for (int run = 0; run < 3; ++run) {
        const Child child = runTrelvik({QStringLiteral("--check"), QStringLiteral("--all"), QStringLiteral("--quiet")},
                                       60'000);
        const int summaries = int(child.out.trimmed().split('\n').size());
        if (child.exitCode != 0 || summaries != 3) {
            std::fprintf(stderr, "# trelvik --check --all: exit %d, %d lines\n%s", child.exitCode, summaries,
                         child.err.constData());
            return 1;
        }
        best = best < 0 ? child.seconds : qMin(best, child.seconds);
    }
    std::printf("BENCH cli_check_all_3x1000_0ms %.3f s\n", best);
    std::fflush(stdout);
    return realApart() ? 0 : 1;
}
