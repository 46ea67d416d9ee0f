// The command line's check, as a timer runs it: `trelvik --check` from
// process start to exit, against the sample server serving 1,000 messages
// on loopback with no added delay, in a private home with a few rules.
#include "BenchHome.h"
#include "Profile.h"
#include "RuleDatabase.h"
#include "SamplePop3Server.h"
#include "Scramble.h"
#include "SettingsStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <cstdio>

namespace {

constexpr int kMessages = 1000;

QList<SamplePop3Server::Message> messages()
{
    QList<SamplePop3Server::Message> list;
    for (int i = 1; i <= kMessages; ++i) {
        const QByteArray n = QByteArray::number(i);
        const QByteArray domain = "domain" + QByteArray::number(i % 37) + ".example";
        QByteArray m = "Received: from mx." + domain + " by pop.example; Sun, 6 Dec 2026 10:00:00 +0000\r\n"
                       "From: Sender " + n + " <sender" + n + "@" + domain + ">\r\n"
                       "To: bench@pop.example\r\nSubject: Benchmark message " + n + "\r\n"
                       "Date: Sun, 6 Dec 2026 10:00:00 +0000\r\nMessage-ID: <" + n + ".bench@" + domain + ">\r\n";
        while (m.size() < 1000)
            m += "X-Filler: " + QByteArray(60, 'x') + "\r\n";
        list.append({m + "\r\n" + QByteArray("body line\r\n").repeated(20), QStringLiteral("uid-%1").arg(i), {}});
    }
    return list;
}

bool prepare(quint16 port)
{
    using namespace modRegistry;
    const QString key = kSettingKeyPrefix + QStringLiteral("Bench");
    QString password = QStringLiteral("bench");
    WriteStoreValue(HKEY_CURRENT_USER, key, QStringLiteral("EmailHost"), REG_SZ, QStringLiteral("127.0.0.1"));
    WriteStoreValue(HKEY_CURRENT_USER, key, QStringLiteral("EmailPort"), REG_SZ, QString::number(port));
    WriteStoreValue(HKEY_CURRENT_USER, key, QStringLiteral("EmailUserId"), REG_SZ, QStringLiteral("bench"));
    WriteStoreValue(HKEY_CURRENT_USER, key, QStringLiteral("EmailPassword"), REG_SZ, modSecurity::ScrambleText(password));
    WriteStoreValue(HKEY_CURRENT_USER, kTrelvikKey, QStringLiteral("LastProfile"), REG_SZ, QStringLiteral("Bench"));
    RuleDatabase rules;
    return rules.OpenRuleDatabase()
           && rules.InsertRules(QStringLiteral("tbfilter"),
                                {QStringLiteral("*@domain1.example"), QStringLiteral("*@domain2.example")})
           && rules.InsertRules(QStringLiteral("tbexempted"), {QStringLiteral("Sender 38 <sender38@domain1.example>")});
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
    SamplePop3Server server(messages(), "bench", "bench");
    if (!home.isValid() || !server.listen() || !prepare(server.port())) {
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
    return 0;
}
