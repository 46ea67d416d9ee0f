// Fetch speed against the sample POP3 server in this process (loopback); the
// fetch of 1,000 headers of about 1 KB over emulated links of 0, 20 and
// 100 ms round trip, with and without PIPELINING offered, beside a plain
// sequential fetch written with Python's poplib (one LIST, then TOP n 0 per
// message, each awaited); how long the event loop waits at most during a
// 10,000-message fetch; the CPU a wait costs while the server stays silent;
// a fetch of 100,000 small messages (time and peak memory, in a process of
// its own); and the deletion of 1,000 Recycle Bin messages over a 100 ms
// round trip. Last, the fetch over mail of real size (headers of 2 to 8 KB)
// sorted by a real rule database (RealFetch): 100,000 messages as the window
// fetches them (time and peak memory, in a child) and 10,000 over a 100 ms
// round trip.
#include "ChildRun.h"
#include "BenchHome.h"
#include "Global.h"
#include "LinkedServer.h"
#include "RealFetch.h"
#include "RuleDatabase.h"
#include "MailOperations.h"
#include "MessageBox.h"
#include "MessageFolderModel.h"
#include "Pop3Session.h"
#include "RunStatus.h"
#include "SamplePop3Server.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

QList<SamplePop3Server::Message> makeMessages(int count)
{
    QList<SamplePop3Server::Message> messages;
    for (int i = 1; i <= count; ++i) {
        const QByteArray n = QByteArray::number(i);
        QByteArray data = "Received: from mx" + n
            + ".example by pop.example\r\n"
              "From: Sender "
            + n + " <sender" + n + "@domain" + QByteArray::number(i % 37)
            + ".example>\r\n"
              "To: bench@pop.example\r\nSubject: Benchmark message "
            + n
            + "\r\n"
              "Date: Sun, 6 Dec 2026 10:00:00 +0000\r\nX-Priority: 3\r\n\r\n"
            + QByteArray("body line\r\n").repeated(40);
        messages.append({data, QStringLiteral("bench-%1").arg(i), QString()});
    }
    return messages;
}

double fetchSeconds(int count, int delayMs)
{
    SamplePop3Server server(makeMessages(count), "bench", "bench");
    server.setReplyDelay(delayMs);
    if (!server.listen())
        return -1;
    ProfileSettingsRecord settings;
    settings.EmailHost = QStringLiteral("127.0.0.1");
    settings.EmailPort = QString::number(server.port());
    settings.EmailUserid = QStringLiteral("bench");
    settings.EmailPassword = QStringLiteral("bench");
    Global::CancelRequested().clear();
    QuietStatus status;
    MessageFolderModel inbox, recycle;
    QElapsedTimer timer;
    timer.start();
    (void)FetchHeader(
        status, inbox, recycle,
        [](const QString &sender, QByteArrayView, qint64) {
            return sender.contains(QLatin1String("@domain1."))
                ? SortReason{SortReason::Kind::Filter, QStringLiteral("*@domain1.*")}
                : SortReason{};
        },
        settings, Global::CancelRequested());
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (inbox.count() + recycle.count() != count)
        std::fprintf(stderr, "# fetched %d of %d\n", inbox.count() + recycle.count(), count);
    return seconds;
}

// A message whose header is about 1 KB, as mail from mailing lists and shops
// comes; the body is small since only headers are fetched.
QByteArray headerMessage(int i)
{
    const QByteArray n = QByteArray::number(i);
    const QByteArray domain = "domain" + QByteArray::number(i % 37) + ".example";
    QByteArray m = "Return-Path: <bounce-" + n + "@" + domain
        + ">\r\n"
          "Received: from mx"
        + n + "." + domain + " (mx" + n + "." + domain + " [192.0.2." + QByteArray::number(i % 250)
        + "])\r\n"
          "\tby pop.example (Postfix) with ESMTPS id 4Xb"
        + n
        + "Qz for <bench@pop.example>;\r\n"
          "\tSun, 6 Dec 2026 10:00:00 +0000 (UTC)\r\n"
          "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d="
        + domain
        + "; s=mail;\r\n"
          "\th=from:to:subject:date:message-id; bh="
        + QByteArray(44, 'b')
        + ";\r\n"
          "\tb="
        + QByteArray(64, 'S') + "\r\n\t " + QByteArray(64, 'T') + "\r\n\t " + QByteArray(64, 'U')
        + "\r\n"
          "From: Sender "
        + n + " <sender" + n + "@" + domain
        + ">\r\n"
          "To: bench@pop.example\r\nSubject: Benchmark message "
        + n
        + " about nothing in particular\r\n"
          "Date: Sun, 6 Dec 2026 10:00:00 +0000\r\nMessage-ID: <"
        + n + ".bench@" + domain
        + ">\r\n"
          "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\nX-Priority: 3\r\n"
          "List-Unsubscribe: <https://"
        + domain + "/unsubscribe?id=" + QByteArray(40, 'u') + ">\r\n";
    while (m.size() < 1000)
        m += "X-Filler: " + QByteArray(60, 'x') + "\r\n";
    return m + "\r\n" + QByteArray("body line\r\n").repeated(20);
}

bool writeFolder(const QString &folder, int count)
{
    if (!QDir().mkpath(folder))
        return false;
    for (int i = 1; i <= count; ++i) {
        QFile file(QStringLiteral("%1/%2.eml").arg(folder).arg(i, 6, 10, QLatin1Char('0')));
        if (!file.open(QIODevice::WriteOnly) || file.write(headerMessage(i)) < 0)
            return false;
    }
    return true;
}

struct FetchResult {
    double seconds = -1;
    int rows = 0;
    double maxGapMs = 0;
};

// The program's own fetch against a port, its rules from the rule database.
FetchResult fetchFrom(quint16 port, RuleDatabase &rules)
{
    ProfileSettingsRecord settings;
    settings.EmailHost = QStringLiteral("127.0.0.1");
    settings.EmailPort = QString::number(port);
    settings.EmailUserid = QStringLiteral("bench");
    settings.EmailPassword = QStringLiteral("bench");
    Global::CancelRequested().clear();
    QuietStatus status;
    MessageFolderModel inbox, recycle;

    // The event loop's turns, seen by a timer that wants to run every 2 ms.
    FetchResult result;
    QElapsedTimer clock;
    qint64 lastTurn = -1;
    QTimer turns;
    turns.setTimerType(Qt::PreciseTimer);
    turns.setInterval(2);
    QObject::connect(&turns, &QTimer::timeout, &turns, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastTurn >= 0)
            result.maxGapMs = qMax(result.maxGapMs, (now - lastTurn) / 1e6);
        lastTurn = now;
    });
    clock.start();
    turns.start();
    (void)FetchHeader(status, inbox, recycle, RuleClassifier::lazy(rules), settings, Global::CancelRequested());
    result.seconds = clock.nsecsElapsed() / 1e9;
    turns.stop();
    result.rows = inbox.count() + recycle.count();
    return result;
}

// Python's poplib against the same port: seconds, or -1.
FetchResult referenceFetch(quint16 port, int count)
{
    FetchResult result;
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral(TRELVIK_POPLIB_FETCH), QStringLiteral("127.0.0.1"), QString::number(port),
                  QStringLiteral("bench"), QStringLiteral("bench"), QString::number(count)});
    if (!python.waitForFinished(900000) || python.exitCode() != 0) {
        std::fprintf(stderr, "# reference fetch failed: %s\n", python.readAllStandardError().constData());
        python.kill();
        python.waitForFinished(5000);
        return result;
    }
    const QList<QByteArray> words = python.readAllStandardOutput().trimmed().split(' ');
    result.seconds = words.value(0).toDouble();
    result.rows = words.value(1).toInt();
    return result;
}

constexpr int kShortRepeats = 5;

FetchResult median(QList<FetchResult> runs)
{
    std::sort(runs.begin(), runs.end(),
              [](const FetchResult &a, const FetchResult &b) { return a.seconds < b.seconds; });
    return runs.at(runs.size() / 2);
}

void report(const QByteArray &name, const FetchResult &r, int expectedRows, double scale = 1)
{
    if (r.rows != expectedRows)
        std::fprintf(stderr, "# %s: fetched %d of %d\n", name.constData(), r.rows, expectedRows);
    std::printf("BENCH %s %.3f s\n", name.constData(), r.seconds * scale);
    std::fflush(stdout);
}

bool fillRules(RuleDatabase &rules)
{
    QStringList filter, exempted;
    for (int i = 0; i < 5000; ++i)
        filter << QStringLiteral("Sender.%1@Example-%2.COM").arg(i).arg(i % 113);
    filter << QStringLiteral("*@domain1.example") << QStringLiteral("*@domain2.example");
    for (int i = 0; i < 1000; ++i)
        exempted << QStringLiteral("Sender %1 <sender%1@domain1.example>").arg(i * 37 + 1);
    return rules.InsertRules(QStringLiteral("tbfilter"), filter)
        && rules.InsertRules(QStringLiteral("tbexempted"), exempted);
}

// The runs over emulated links. False when a part could not be set up.
bool linkRuns()
{
    QTemporaryDir place;
    if (!place.isValid())
        return false;
    RuleDatabase rules(place.filePath(QStringLiteral("rules")));
    QString error;
    if (!rules.OpenRuleDatabase(&error) || !fillRules(rules)) {
        std::fprintf(stderr, "# rule database: %s\n", qPrintable(error));
        return false;
    }
    const QString mail100 = place.filePath(QStringLiteral("mail-100"));
    const QString mail1000 = place.filePath(QStringLiteral("mail-1000"));
    const QString mail10k = place.filePath(QStringLiteral("mail-10000"));
    if (!writeFolder(mail100, 100) || !writeFolder(mail1000, 1000) || !writeFolder(mail10k, 10000)) {
        std::fprintf(stderr, "# cannot write the sample mail\n");
        return false;
    }

    double pipelined100 = -1;
    double reference100 = -1;
    std::printf("# the 0 ms runs are the median of %d, alternating plain and reference\n", kShortRepeats);
    for (const int rtt : {0, 20, 100}) {
        // At 100 ms a sequential fetch of 1,000 messages takes over 200 s;
        // those two runs fetch 100 messages and are scaled by 10.
        const bool sampled = rtt == 100;
        const QString sequentialFolder = sampled ? mail100 : mail1000;
        const int sequentialCount = sampled ? 100 : 1000;
        const double scale = sampled ? 10.0 : 1.0;
        const QByteArray prefix = "fetch_1000_" + QByteArray::number(rtt) + "ms_";
        // Over the fastest link a run is short and the machine's other work
        // weighs most: take the median of a few.
        const int repeats = rtt == 0 ? kShortRepeats : 1;

        {
            LinkedServer server(mail1000, true);
            const quint16 port = server.start(&error) ? server.link(rtt, &error) : 0;
            if (port == 0) {
                std::fprintf(stderr, "# %s\n", qPrintable(error));
                return false;
            }
            QList<FetchResult> runs;
            for (int k = 0; k < repeats; ++k)
                runs << fetchFrom(port, rules);
            const FetchResult r = median(runs);
            report(prefix + "pipelined", r, 1000);
            if (rtt == 100) {
                pipelined100 = r.seconds;
                std::printf("BENCH fetch_1000_100ms_round_trips %.1f rtt\n", r.seconds / 0.1);
            }
        }
        LinkedServer plainServer(sequentialFolder, false);
        const quint16 plainPort = plainServer.start(&error) ? plainServer.link(rtt, &error) : 0;
        if (plainPort == 0) {
            std::fprintf(stderr, "# %s\n", qPrintable(error));
            return false;
        }
        if (sampled)
            std::printf("# fetch_1000_%dms_plain and _reference: measured on %d messages and scaled by %g\n", rtt,
                        sequentialCount, scale);
        QList<FetchResult> plainRuns, referenceRuns;
        for (int k = 0; k < repeats; ++k) {
            plainRuns << fetchFrom(plainPort, rules);
            referenceRuns << referenceFetch(plainPort, sequentialCount);
        }
        report(prefix + "plain", median(plainRuns), sequentialCount, scale);
        const FetchResult reference = median(referenceRuns);
        report(prefix + "reference", reference, sequentialCount, scale);
        if (rtt == 100)
            reference100 = reference.seconds * scale;
    }
    if (pipelined100 > 0 && reference100 > 0)
        std::printf("BENCH speedup_100ms %.1f x\n", reference100 / pipelined100);

    // The most replies at once come over the fastest link.
    LinkedServer server(mail10k, true);
    const quint16 port = server.start(&error) ? server.link(0, &error) : 0;
    if (port == 0) {
        std::fprintf(stderr, "# %s\n", qPrintable(error));
        return false;
    }
    const FetchResult big = fetchFrom(port, rules);
    if (big.rows != 10000)
        std::fprintf(stderr, "# 10k fetch: fetched %d of 10000\n", big.rows);
    std::printf("# the 10,000-message fetch took %.3f s\n", big.seconds);
    std::printf("BENCH max_event_gap_10k %.1f ms\n", big.maxGapMs);
    std::fflush(stdout);
    return true;
}

// Only the pipelined fetch over the 100 ms link, for trying a change
// without the long sequential runs: the median of three.
bool pipelinedRun100()
{
    QTemporaryDir place;
    RuleDatabase rules(place.filePath(QStringLiteral("rules")));
    QString error;
    const QString mail1000 = place.filePath(QStringLiteral("mail-1000"));
    if (!place.isValid() || !rules.OpenRuleDatabase(&error) || !fillRules(rules) || !writeFolder(mail1000, 1000)) {
        std::fprintf(stderr, "# cannot set up: %s\n", qPrintable(error));
        return false;
    }
    LinkedServer server(mail1000, true);
    const quint16 port = server.start(&error) ? server.link(100, &error) : 0;
    if (port == 0) {
        std::fprintf(stderr, "# %s\n", qPrintable(error));
        return false;
    }
    QList<FetchResult> runs;
    for (int k = 0; k < 3; ++k)
        runs << fetchFrom(port, rules);
    const FetchResult r = median(runs);
    report("fetch_1000_100ms_pipelined", r, 1000);
    std::printf("BENCH fetch_1000_100ms_round_trips %.1f rtt\n", r.seconds / 0.1);
    return true;
}

// A small message whose file name, and so its id, is 16 characters long.
bool writeSmallFolder(const QString &folder, int count)
{
    if (!QDir().mkpath(folder))
        return false;
    for (int i = 1; i <= count; ++i) {
        QFile file(QStringLiteral("%1/m%2.eml").arg(folder).arg(i, 15, 10, QLatin1Char('0')));
        const QByteArray n = QByteArray::number(i);
        if (!file.open(QIODevice::WriteOnly)
            || file.write("From: Sender " + n + " <s" + n + "@domain" + QByteArray::number(i % 37)
                          + ".example>\r\nSubject: Message " + n
                          + "\r\nDate: Sun, 6 Dec 2026 10:00:00 +0000\r\n\r\nbody\r\n")
                < 0)
            return false;
    }
    return true;
}

// The child's part of the 100,000-message fetch: fetches from the port and
// prints "<seconds> <peak RSS in kB> <rows>".
int fetchChild(quint16 port)
{
    ProfileSettingsRecord settings;
    settings.EmailHost = QStringLiteral("127.0.0.1");
    settings.EmailPort = QString::number(port);
    settings.EmailUserid = QStringLiteral("bench");
    settings.EmailPassword = QStringLiteral("bench");
    Global::CancelRequested().clear();
    QuietStatus status;
    MessageFolderModel inbox, recycle;
    QElapsedTimer clock;
    clock.start();
    (void)FetchHeader(
        status, inbox, recycle,
        [](const QString &sender, QByteArrayView, qint64) {
            return sender.contains(QLatin1String("@domain1."))
                ? SortReason{SortReason::Kind::Filter, QStringLiteral("*@domain1.*")}
                : SortReason{};
        },
        settings, Global::CancelRequested());
    std::printf("%.3f %lld %d\n", clock.nsecsElapsed() / 1e9, peakRssKb(), inbox.count() + recycle.count());
    return 0;
}

// 100,000 small messages from the sample server program, fetched by a child
// process so that its peak memory is the fetch's alone.
bool fetch100k(const QString &program)
{
    QTemporaryDir place;
    const QString folder = place.filePath(QStringLiteral("mail-100k"));
    const int count = 100000;
    if (!place.isValid() || !writeSmallFolder(folder, count)) {
        std::fprintf(stderr, "# cannot write the 100k sample mail\n");
        return false;
    }
    LinkedServer server(folder, true);
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "# %s\n", qPrintable(error));
        return false;
    }
    const QList<QByteArray> words =
        childFigures(program, {QStringLiteral("--fetch-child"), QString::number(server.serverPort())}, "100k fetch");
    if (words.isEmpty())
        return false;
    if (words.value(2).toInt() != count)
        std::fprintf(stderr, "# 100k fetch: fetched %s of %d\n", words.value(2).constData(), count);
    std::printf("BENCH fetch_100k_0ms %.3f s\n", words.value(0).toDouble());
    std::printf("BENCH fetch_100k_peak_rss %.1f MB\n", words.value(1).toDouble() / 1024.0);
    std::fflush(stdout);
    return true;
}

// Empty Recycle Bin of 1,000 rows (every message of the folder, as a fetch
// read it: its id and header digest) over a 100 ms round trip, with
// PIPELINING offered. The fetch runs first, straight to the server; the
// deletion, timed, goes through the link and confirms every header.
bool delete1000()
{
    QTemporaryDir place;
    const QString folder = place.filePath(QStringLiteral("mail-1000"));
    const int count = 1000;
    if (!place.isValid() || !writeFolder(folder, count)) {
        std::fprintf(stderr, "# cannot write the sample mail\n");
        return false;
    }
    LinkedServer server(folder, true);
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "# %s\n", qPrintable(error));
        return false;
    }
    ProfileSettingsRecord settings;
    settings.EmailHost = QStringLiteral("127.0.0.1");
    settings.EmailPort = QString::number(server.serverPort());
    settings.EmailUserid = QStringLiteral("bench");
    settings.EmailPassword = QStringLiteral("bench");
    Global::CancelRequested().clear();
    QuietStatus status;
    MessageFolderModel inbox, recycle;
    (void)FetchHeader(
        status, inbox, recycle,
        [](const QString &, QByteArrayView, qint64) {
            return SortReason{SortReason::Kind::Filter, QStringLiteral("*")};
        },
        settings, Global::CancelRequested());
    const quint16 port = recycle.count() == count ? server.link(100, &error) : 0;
    if (port == 0) {
        std::fprintf(stderr, "# delete_1000: fetched %d of %d; %s\n", recycle.count(), count, qPrintable(error));
        return false;
    }
    settings.EmailPort = QString::number(port);
    QElapsedTimer clock;
    clock.start();
    (void)EmptyRecycleBin(status, recycle, settings, Global::CancelRequested());
    const double seconds = clock.nsecsElapsed() / 1e9;
    const int left = int(QDir(folder).entryList(QDir::Files).size());
    if (recycle.count() != 0 || left != 0)
        std::fprintf(stderr, "# delete_1000: %d rows and %d files left\n", recycle.count(), left);
    std::printf("BENCH delete_1000_100ms_pipelined %.3f s\n", seconds);
    std::fflush(stdout);
    return recycle.count() == 0 && left == 0;
}

double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// A server that greets and then never answers: the USER wait runs into its
// inactivity limit, which is set to the measured span.
double silentWaitCpu(int seconds)
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return -1;
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&server] {
        while (QTcpSocket *socket = server.nextPendingConnection())
            socket->write("+OK silent server\r\n");
    });
    ProfileSettingsRecord settings;
    settings.EmailHost = QStringLiteral("127.0.0.1");
    settings.EmailPort = QString::number(server.serverPort());
    settings.EmailUserid = QStringLiteral("bench");
    settings.EmailPassword = QStringLiteral("bench");
    Global::CancelRequested().clear();
    QuietStatus status;
    Pop3Session session(status, settings, Global::CancelRequested(), SessionOptions{seconds * 1000});
    if (!session.ConnectServer().ok())
        return -1;
    const double before = cpuSeconds();
    (void)session.LoginServer();
    const double used = cpuSeconds() - before;
    session.CloseServer();
    return used;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--fetch-child") == 0)
        return fetchChild(quint16(QByteArray(argv[2]).toUInt()));
    if (argc == 4 && qstrcmp(argv[1], "--real-fetch-child") == 0)
        return RealFetch::fetchChild(quint16(QByteArray(argv[2]).toUInt()), QString::fromLocal8Bit(argv[3]));
    const BenchHome home;
    if (!home.isValid())
        return 1;
    // The silent server's "stopped answering" box is expected; keep it quiet.
    MessageBox::setHandler([](const MessageBox::Request &) { return MessageBox::Result::Ok; });
    // "--only NAME": one part alone (link100, fetch100k, delete, real).
    if (argc == 3 && qstrcmp(argv[1], "--only") == 0) {
        const QByteArray part = argv[2];
        if (part == "link100")
            return pipelinedRun100() ? 0 : 1;
        if (part == "fetch100k")
            return fetch100k(QCoreApplication::applicationFilePath()) ? 0 : 1;
        if (part == "delete")
            return delete1000() ? 0 : 1;
        if (part == "real")
            return RealFetch::run(QCoreApplication::applicationFilePath()) ? 0 : 1;
        std::fprintf(stderr, "# unknown part %s\n", part.constData());
        return 2;
    }
    std::printf("BENCH fetch_1000_0ms %.3f s\n", fetchSeconds(1000, 0));
    std::fflush(stdout);
    std::printf("BENCH fetch_1000_20ms %.3f s\n", fetchSeconds(1000, 20));
    std::fflush(stdout);
    const bool big = fetch100k(QCoreApplication::applicationFilePath());
    const bool deleted = delete1000();
    const bool linked = linkRuns();
    std::printf("BENCH silent_wait_cpu_10s %.3f s\n", silentWaitCpu(10));
    std::fflush(stdout);
    const bool real = RealFetch::run(QCoreApplication::applicationFilePath());
    return linked && big && deleted && real ? 0 : 1;
}
