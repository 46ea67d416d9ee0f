#include "ChildRun.h"
#include "RealFetch.h"

#include "Global.h"
#include "LinkedServer.h"
#include "MailOperations.h"
#include "MessageFolderModel.h"
#include "RealMailbox.h"
#include "RuleDatabase.h"
#include "RunStatus.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace RealFetch {
namespace {

constexpr int kWindowCount = 100'000;
constexpr int kLinkCount = 10'000;

struct Fetched {
    double seconds = -1;
    int rows = 0;
    int recycled = 0;
};

// The window's fetch: default session options, so rows keep their header
// blocks, and the classifier the window builds over the rule database.
Fetched fetch(quint16 port, const RuleDatabase &rules)
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
    (void)FetchHeader(status, inbox, recycle, RuleClassifier::lazy(rules), settings, Global::CancelRequested());
    return {clock.nsecsElapsed() / 1e9, inbox.count() + recycle.count(), recycle.count()};
}

// Whether every message arrived and exactly the spam was sorted out.
bool complete(const char *name, const Fetched &f, int count)
{
    if (f.rows == count && f.recycled == RealMailbox::spamCount(count))
        return true;
    std::fprintf(stderr, "# %s: %d of %d rows, %d of %d in the Recycle Bin\n", name, f.rows, count, f.recycled,
                 RealMailbox::spamCount(count));
    return false;
}

bool openRules(RuleDatabase &rules, bool fill)
{
    QString error;
    if (rules.OpenRuleDatabase(&error) && (!fill || RealMailbox::writeRules(rules, &error)))
        return true;
    std::fprintf(stderr, "# rule database: %s\n", qPrintable(error));
    return false;
}

bool windowFetch(const QString &program, const QString &folder, const QString &rulesFolder)
{
    RealMailbox::HeaderSizes sizes;
    if (!RealMailbox::writeFolder(folder, kWindowCount, &sizes)) {
        std::fprintf(stderr, "# cannot write the real sample mail\n");
        return false;
    }
    sizes.print("window_fetch_100k_real mailbox");
    LinkedServer server(folder, true);
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "# %s\n", qPrintable(error));
        return false;
    }
    const QList<QByteArray> words =
        childFigures(program, {QStringLiteral("--real-fetch-child"), QString::number(server.serverPort()), rulesFolder},
                     "window_fetch_100k_real");
    if (words.isEmpty())
        return false;
    const Fetched f{words.value(0).toDouble(), words.value(2).toInt(), words.value(3).toInt()};
    // On a busy machine the CPU time is steadier than the time taken.
    std::printf("# the child used %.2f s of CPU in all\n", words.value(4).toDouble());
    std::printf("BENCH window_fetch_100k_real_0ms %.3f s\n", f.seconds);
    std::printf("BENCH window_fetch_100k_real_peak_rss %.1f MB\n", words.value(1).toDouble() / 1024.0);
    std::fflush(stdout);
    return complete("window_fetch_100k_real", f, kWindowCount);
}

bool linkFetch(const QString &folder, const RuleDatabase &rules)
{
    RealMailbox::HeaderSizes sizes;
    if (!RealMailbox::writeFolder(folder, kLinkCount, &sizes)) {
        std::fprintf(stderr, "# cannot write the real sample mail\n");
        return false;
    }
    sizes.print("fetch_10k_real_100ms mailbox");
    LinkedServer server(folder, true);
    QString error;
    const quint16 port = server.start(&error) ? server.link(100, &error) : 0;
    if (port == 0) {
        std::fprintf(stderr, "# %s\n", qPrintable(error));
        return false;
    }
    // A short run is the median of three: the machine's other work weighs most.
    QList<Fetched> runs{fetch(port, rules)};
    if (runs.first().seconds < 3)
        runs << fetch(port, rules) << fetch(port, rules);
    bool ok = true;
    for (const Fetched &f : runs)
        ok = complete("fetch_10k_real_100ms", f, kLinkCount) && ok;
    std::sort(runs.begin(), runs.end(), [](const Fetched &a, const Fetched &b) { return a.seconds < b.seconds; });
    const double seconds = runs.at(runs.size() / 2).seconds;
    std::printf("BENCH fetch_10k_real_100ms %.3f s\n", seconds);
    std::printf("BENCH fetch_10k_real_100ms_round_trips %.1f rtt\n", seconds / 0.1);
    std::fflush(stdout);
    return ok;
}

} // namespace

int fetchChild(quint16 port, const QString &rulesFolder)
{
    RuleDatabase rules(rulesFolder);
    if (!openRules(rules, false))
        return 1;
    const Fetched f = fetch(port, rules);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::printf("%.3f %lld %d %d %.2f\n", f.seconds, peakRssKb(), f.rows, f.recycled, cpu);
    return 0;
}

bool run(const QString &program)
{
    QTemporaryDir place;
    if (!place.isValid())
        return false;
    const QString rulesFolder = place.filePath(QStringLiteral("rules"));
    bool ok = true;
    {
        RuleDatabase rules(rulesFolder);
        if (!openRules(rules, true))
            return false;
        ok = linkFetch(place.filePath(QStringLiteral("mail-10k")), rules);
    } // closed: the child opens it next
    return windowFetch(program, place.filePath(QStringLiteral("mail-100k")), rulesFolder) && ok;
}

} // namespace RealFetch
