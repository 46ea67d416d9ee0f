// IMAP speed against the sample IMAP server program, through the link
// emulator where a round trip is named: the fetch of 10,000 small messages
// over a 100 ms round trip (run start to the last row sorted), the move of 1,000
// Recycle Bin messages to Junk over the same link, the fetch of 100,000
// small messages straight from the server (time and peak memory, in a
// process of its own), and the watch's latency from a message's delivery to
// its move (server in this process, 0 ms); then Trelvik against the ideal
// reference client over Dovecot (VersusIdeal).
#include "BenchHome.h"
#include "ChildRun.h"
#include "ImapBench.h"
#include "CancelFlag.h"
#include "ImapWatch.h"
#include "MailOperations.h"
#include "MessageFolderModel.h"
#include "RunStatus.h"
#include "SampleImapServer.h"
#include "VersusIdeal.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kBigCount = 100000;

using ImapBench::settingsFor;
using ImapBench::tenthIsSpam;

// Sorts as tenthIsSpam does and notes when the last of `count` rows was
// sorted: a fetch's time runs to its last row, not to the LOGOUT after it.
struct LastRow {
    explicit LastRow(int rows)
        : count(rows)
    {
        clock.start();
    }
    MessageClassifier classifier()
    {
        return [this](const QString &sender, QByteArrayView header, qint64 size) {
            if (++sorted == count)
                seconds = clock.nsecsElapsed() / 1e9;
            return tenthIsSpam(sender, header, size);
        };
    }
    int count;
    int sorted = 0;
    double seconds = -1;
    QElapsedTimer clock;
};

bool fetch10k()
{
    const int count = 10000;
    LinkedServer server = ImapBench::server(count);
    const quint16 port = ImapBench::start(server, 100);
    if (port == 0)
        return false;
    const ProfileSettingsRecord settings = settingsFor(port);
    CancelFlag cancel;
    QuietStatus status;
    MessageFolderModel inbox, recycle;
    LastRow last(count);
    (void)FetchHeader(status, inbox, recycle, last.classifier(), settings, cancel);
    const double whole = last.clock.nsecsElapsed() / 1e9;
    if (inbox.count() + recycle.count() != count)
        std::fprintf(stderr, "# imap_fetch_10k: fetched %d of %d\n", inbox.count() + recycle.count(), count);
    std::printf("# imap_fetch_10k_100ms: %.3f s with the LOGOUT\n", whole);
    std::printf("BENCH imap_fetch_10k_100ms %.3f s\n", last.seconds);
    std::fflush(stdout);
    return inbox.count() + recycle.count() == count;
}

// The fetch goes straight to the server; the move, timed, through the link.
bool move1000()
{
    const int count = 1000;
    LinkedServer server = ImapBench::server(count);
    if (ImapBench::start(server, -1) == 0)
        return false;
    ProfileSettingsRecord settings = settingsFor(server.serverPort());
    CancelFlag cancel;
    QuietStatus status;
    MessageFolderModel inbox, recycle;
    (void)FetchHeader(
        status, inbox, recycle,
        [](const QString &, QByteArrayView, qint64) {
            return SortReason{SortReason::Kind::Filter, QStringLiteral("*")};
        },
        settings, cancel);
    QString error;
    const quint16 port = recycle.count() == count ? server.link(100, &error) : 0;
    if (port == 0) {
        std::fprintf(stderr, "# imap_move_1000: fetched %d of %d; %s\n", recycle.count(), count, qPrintable(error));
        return false;
    }
    settings.EmailPort = QString::number(port);
    QElapsedTimer clock;
    clock.start();
    const DeletionResult moved = EmptyRecycleBin(status, recycle, settings, cancel);
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (recycle.count() != 0)
        std::fprintf(stderr, "# imap_move_1000: %d rows left: %s\n", recycle.count(), qPrintable(moved.result.text));
    std::printf("BENCH imap_move_1000_100ms %.3f s\n", seconds);
    std::fflush(stdout);
    return recycle.count() == 0;
}

// The child's part of a 100,000-message fetch: prints "<seconds> <peak
// RSS in kB> <rows>". As the window fetches (rows keep their header
// blocks), or as the command line's check does (they keep none).
int fetchChild(quint16 port, bool asCheck)
{
    const ProfileSettingsRecord settings = settingsFor(port);
    CancelFlag cancel;
    QuietStatus status;
    MessageFolderModel inbox, recycle;
    LastRow last(kBigCount);
    SessionOptions options;
    options.keepHeaderBlocks = !asCheck;
    (void)FetchHeader(status, inbox, recycle, last.classifier(), settings, cancel, options);
    std::printf("%.3f %lld %d\n", last.seconds, peakRssKb(), inbox.count() + recycle.count());
    return 0;
}

bool fetch100k(const QString &program)
{
    const int count = kBigCount;
    LinkedServer server = ImapBench::server(count);
    if (ImapBench::start(server, -1) == 0)
        return false;
    const QList<QByteArray> words =
        childFigures(program, {QStringLiteral("--fetch-child"), QString::number(server.serverPort())},
                     "imap 100k fetch");
    if (words.isEmpty())
        return false;
    if (words.value(2).toInt() != count)
        std::fprintf(stderr, "# imap 100k fetch: fetched %s of %d\n", words.value(2).constData(), count);
    std::printf("BENCH imap_fetch_100k_0ms %.3f s\n", words.value(0).toDouble());
    std::printf("BENCH imap_fetch_100k_peak_rss %.1f MB\n", words.value(1).toDouble() / 1024.0);
    std::fflush(stdout);
    return words.value(2).toInt() == count;
}

// A spam message is delivered each time the watch idles; the time from the
// delivery to its move, the median of a few.
bool watchLatency()
{
    const int deliveries = 15;
    SampleImapServer server(SampleImapServer::generated(100), "bench", "bench");
    if (!server.listen())
        return false;
    const ProfileSettingsRecord settings = settingsFor(server.port());
    CancelFlag cancel;
    QuietStatus status;
    ImapWatch watch(status, settings, cancel, tenthIsSpam, {});
    QElapsedTimer sinceDelivery;
    QList<double> latencies;
    int delivered = 0;
    QObject::connect(&server, &SampleImapServer::idling, &server, [&] {
        if (delivered == latencies.size() && delivered < deliveries) {
            ++delivered;
            sinceDelivery.start();
            server.deliver("From: Spam <spam" + QByteArray::number(delivered)
                           + "0@example.com>\r\nSubject: Watched\r\n\r\nbody\r\n");
        }
    });
    QObject::connect(&watch, &ImapWatch::moved, &watch, [&] {
        latencies.append(sinceDelivery.nsecsElapsed() / 1e6);
        if (latencies.size() == deliveries)
            cancel.set();
    });
    QTimer::singleShot(60000, &cancel, &CancelFlag::set);
    (void)watch.run();
    if (latencies.size() != deliveries) {
        std::fprintf(stderr, "# imap_watch_latency: %lld of %d moved\n", qint64(latencies.size()), deliveries);
        return false;
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("# imap_watch_latency: slowest of %d %.1f ms\n", deliveries, latencies.constLast());
    std::printf("BENCH imap_watch_latency_ms %.1f ms\n", latencies.at(deliveries / 2));
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && (qstrcmp(argv[1], "--fetch-child") == 0 || qstrcmp(argv[1], "--check-child") == 0))
        return fetchChild(quint16(QByteArray(argv[2]).toUInt()), qstrcmp(argv[1], "--check-child") == 0);
    const BenchHome home;
    if (!home.isValid())
        return 1;
    // "--only ideal [NAME]": only the comparison with the ideal client (the
    // figures whose names contain NAME); "--only
    // real": only the peak memory of the check over real-sized mail; "--only
    // move": only the move of 1,000 over the 100 ms link.
    const QString program = QCoreApplication::applicationFilePath();
    if (argc >= 3 && qstrcmp(argv[1], "--only") == 0 && qstrcmp(argv[2], "ideal") == 0)
        return VersusIdeal::run(program, home.path(), argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString()) ? 0 : 1;
    if (argc == 3 && qstrcmp(argv[1], "--only") == 0 && qstrcmp(argv[2], "real") == 0)
        return VersusIdeal::realPeak(program, home.path()) ? 0 : 1;
    if (argc == 3 && qstrcmp(argv[1], "--only") == 0 && qstrcmp(argv[2], "move") == 0)
        return move1000() ? 0 : 1;
    const bool fetched = fetch10k();
    const bool moved = move1000();
    const bool big = fetch100k(QCoreApplication::applicationFilePath());
    const bool watched = watchLatency();
    const bool compared = VersusIdeal::run(QCoreApplication::applicationFilePath(), home.path());
    return fetched && moved && big && watched && compared ? 0 : 1;
}
