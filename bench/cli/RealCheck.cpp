#include "RealCheck.h"

#include "Learner.h"
#include "LinkedServer.h"
#include "RealMailbox.h"
#include "RuleDatabase.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace RealCheck {
namespace {

constexpr int kCheckCount = 100'000;
constexpr int kDeleteCount = 10'000;

struct Run {
    bool finished = false;
    int exitCode = -1;
    double seconds = -1;
    double peakMb = -1; // the program's own peak resident memory
    double cpuSeconds = -1; // user and system time: on a busy machine, steadier than the time taken
    int runs = 1; // how many runs this one is the median of
    QByteArray out;
    QByteArray err;
};

// Environment for the program: no display, no session bus.
std::vector<std::string> childEnvironment()
{
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        const std::string entry(*e);
        if (entry.rfind("DISPLAY=", 0) != 0 && entry.rfind("QT_QPA_PLATFORM=", 0) != 0
            && entry.rfind("DBUS_SESSION_BUS_ADDRESS=", 0) != 0)
            env.push_back(entry);
    }
    env.emplace_back("DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus");
    return env;
}

// Reads both pipes to their end or until the deadline; false on timeout.
bool drain(int outFd, int errFd, Run &result, const QElapsedTimer &clock, int limitMs)
{
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    QByteArray *sinks[2] = {&result.out, &result.err};
    char buffer[65536];
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        const qint64 left = limitMs - clock.elapsed();
        if (left <= 0)
            return false;
        if (poll(fds, 2, int(left)) < 0 && errno != EINTR)
            return false;
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || fds[k].revents == 0)
                continue;
            const ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
            if (n > 0)
                sinks[k]->append(buffer, n);
            else if (n == 0 || errno != EINTR)
                fds[k].fd = -1; // a negative fd is skipped by poll
        }
    }
    return true;
}

// Runs trelvik as a child of its own and reaps it with wait4(), which tells
// that child's peak memory (RUSAGE_CHILDREN keeps the largest of all
// children, the server programs among them); that peak starts from this
// process's own, so this process must stay small. Killed after `limitMs`.
Run runTrelvik(const std::vector<std::string> &arguments, int limitMs)
{
    Run result;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return result;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return result;
    }
    std::vector<std::string> args{TRELVIK_BINARY};
    args.insert(args.end(), arguments.begin(), arguments.end());
    const std::vector<std::string> env = childEnvironment();
    std::vector<char *> argv, envp;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    for (const std::string &e : env)
        envp.push_back(const_cast<char *>(e.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (spawned == 0) {
        const bool drained = drain(out[0], err[0], result, clock, limitMs);
        if (!drained)
            kill(pid, SIGKILL);
        int status = 0;
        rusage usage{};
        while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
        }
        result.seconds = clock.nsecsElapsed() / 1e9;
        result.finished = drained;
        result.exitCode = drained && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.peakMb = double(usage.ru_maxrss) / 1024.0;
        result.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
            + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    close(out[0]);
    close(err[0]);
    return result;
}

// A run that is short is the median of three; a long one is taken as it is.
template <typename Once>
Run medianIfShort(Once once)
{
    std::vector<Run> runs{once()};
    if (runs.front().exitCode == 0 && runs.front().seconds < 3) {
        runs.push_back(once());
        runs.push_back(once());
    }
    std::sort(runs.begin(), runs.end(), [](const Run &a, const Run &b) { return a.seconds < b.seconds; });
    // A failed run stands for all: the figure is not printed then.
    for (Run &r : runs)
        r.runs = int(runs.size());
    for (const Run &r : runs)
        if (r.exitCode != 0)
            return r;
    return runs.at(runs.size() / 2);
}

bool startServer(LinkedServer &server, int roundTripMs, const std::function<bool(quint16)> &pointProfile)
{
    QString error;
    quint16 port = server.start(&error) ? server.serverPort() : 0;
    if (port != 0 && roundTripMs > 0)
        port = server.link(roundTripMs, &error);
    if (port == 0 || !pointProfile(port)) {
        std::fprintf(stderr, "# %s\n", port == 0 ? qPrintable(error) : "cannot point the profile at the server");
        return false;
    }
    return true;
}

// Lessons the learning takes before its variant of the check: messages
// past the checked ones, so that what is checked was never learned.
constexpr int kLessons = 2'000;

// The benchmark's profile learns kLessons messages, a tenth of them spam.
bool trainLearning(QString *error)
{
    RuleDatabase rules; // closed again before trelvik runs
    if (!rules.OpenRuleDatabase(error))
        return false;
    Learner learner(rules, QStringLiteral("Bench"));
    QList<Learner::Lesson> lessons;
    for (int i = kCheckCount + 1; i <= kCheckCount + kLessons; ++i) {
        const QByteArray message = RealMailbox::message(i);
        lessons.append({message.first(message.indexOf("\r\n\r\n") + 4), RealMailbox::isSpam(i)});
    }
    return learner.load(error) && learner.teach(lessons, error);
}

// `trelvik --check`: one line per message and a summary, every message
// listed and exactly the spam in the Recycle Bin; with the learning on, at
// least the rules' spam there (the learning may add some), and the figure
// named cli_check_100k_real_0ms_learning.
bool check100k(const QString &place, const std::function<bool(quint16)> &pointProfile, bool learning)
{
    const QString folder = place + QStringLiteral("/mail-100k");
    RealMailbox::HeaderSizes sizes;
    if (!QFile::exists(folder) && !RealMailbox::writeFolder(folder, kCheckCount, &sizes)) {
        std::fprintf(stderr, "# cannot write the real sample mail\n");
        return false;
    }
    if (sizes.count > 0)
        sizes.print("cli_check_100k_real mailbox");
    QString error;
    if (learning && !trainLearning(&error)) {
        std::fprintf(stderr, "# cannot train the learning: %s\n", qPrintable(error));
        return false;
    }
    LinkedServer server(folder, true);
    if (!startServer(server, 0, pointProfile))
        return false;
    const double serverBefore = server.serverCpuSeconds();
    const Run result = medianIfShort([] { return runTrelvik({"--check"}, 600'000); });
    // The server's share of the two processes' work, a run.
    const double serverCpu = serverBefore >= 0 ? (server.serverCpuSeconds() - serverBefore) / result.runs : -1;
    const QList<QByteArray> lines = result.out.trimmed().split('\n');
    const auto recycled = std::count_if(lines.begin(), lines.end(),
                                        [](const QByteArray &line) { return line.startsWith("Recycle Bin\t"); });
    const int spam = RealMailbox::spamCount(kCheckCount);
    if (result.exitCode != 0 || lines.size() != kCheckCount + 1 || recycled < spam || (!learning && recycled != spam)) {
        std::fprintf(stderr,
                     "# trelvik --check over %d real messages: exit %d, %lld lines, %lld in the Recycle Bin\n%s",
                     kCheckCount, result.exitCode, qlonglong(lines.size()), qlonglong(recycled),
                     result.err.constData());
        return false;
    }
    const char *suffix = learning ? "_learning" : "";
    std::printf("# trelvik --check over %d real messages%s used %.2f s of CPU, the server %.2f s; %lld in the Recycle "
                "Bin\n",
                kCheckCount, learning ? ", learning on," : "", result.cpuSeconds, serverCpu, qlonglong(recycled));
    std::printf("BENCH cli_check_100k_real_0ms%s %.3f s\n", suffix, result.seconds);
    std::printf("BENCH cli_check_100k_real_peak_rss%s %.1f MB\n", suffix, result.peakMb);
    std::fflush(stdout);
    return true;
}

// A copy of the folder to delete from; hard links where the file system
// allows, since the server removes a deleted message's file.
bool copyFolder(const QString &from, const QString &to)
{
    if (!QDir().mkpath(to))
        return false;
    const QStringList names = QDir(from).entryList(QDir::Files);
    for (const QString &name : names) {
        const QString source = from + QLatin1Char('/') + name;
        const QString target = to + QLatin1Char('/') + name;
        if (link(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) != 0
            && !QFile::copy(source, target))
            return false;
    }
    return true;
}

// `trelvik --check --delete --quiet` through a 100 ms round trip, each run
// on a fresh copy; exactly the spam's files must be gone.
bool delete1kOf10k(const QString &place, const std::function<bool(quint16)> &pointProfile)
{
    const QString master = place + QStringLiteral("/mail-10k");
    if (!RealMailbox::writeFolder(master, kDeleteCount)) {
        std::fprintf(stderr, "# cannot write the real sample mail\n");
        return false;
    }
    QSet<QString> kept;
    for (int i = 1; i <= kDeleteCount; ++i)
        if (!RealMailbox::isSpam(i))
            kept.insert(RealMailbox::fileName(i));
    int repetition = 0;
    bool ok = true;
    const Run result = medianIfShort([&] {
        const QString folder = place + QStringLiteral("/delete-%1").arg(++repetition);
        LinkedServer server(folder, true);
        if (!copyFolder(master, folder) || !startServer(server, 100, pointProfile))
            return Run{};
        Run r = runTrelvik({"--check", "--delete", "--quiet"}, 600'000);
        const QStringList left = QDir(folder).entryList(QDir::Files);
        if (r.exitCode != 0 || QSet<QString>(left.begin(), left.end()) != kept) {
            std::fprintf(stderr, "# trelvik --check --delete: exit %d, %lld of %lld files left\n%s%s", r.exitCode,
                         qlonglong(left.size()), qlonglong(kept.size()), r.out.constData(), r.err.constData());
            ok = false;
        }
        return r;
    });
    if (!ok || result.exitCode != 0)
        return false;
    std::printf("# trelvik --check --delete over %d real messages used %.2f s of CPU\n", kDeleteCount,
                result.cpuSeconds);
    std::printf("BENCH cli_check_delete_1k_of_10k_100ms %.3f s\n", result.seconds);
    std::fflush(stdout);
    return true;
}

} // namespace

bool run(const std::function<bool(quint16 port)> &pointProfile)
{
    QTemporaryDir place;
    if (!place.isValid())
        return false;
    {
        RuleDatabase rules; // the home's own, which trelvik reads; closed before it runs
        QString error;
        if (!rules.OpenRuleDatabase(&error) || !RealMailbox::writeRules(rules, &error)) {
            std::fprintf(stderr, "# rule database: %s\n", qPrintable(error));
            return false;
        }
    }
    const bool checked = check100k(place.path(), pointProfile, false);
    const bool deleted = delete1kOf10k(place.path(), pointProfile);
    // Last: the lessons stay in the home's database.
    return check100k(place.path(), pointProfile, true) && deleted && checked;
}

} // namespace RealCheck
