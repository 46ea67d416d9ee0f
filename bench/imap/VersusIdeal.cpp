#include "VersusIdeal.h"

#include "CancelFlag.h"
#include "BenchDovecot.h"
#include "ChildRun.h"
#include "ImapBench.h"
#include "MailOperations.h"
#include "MailboxSession.h"
#include "MessageRows.h"
#include "RealMailbox.h"
#include "SampleImapServer.h"

#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <cstdio>

namespace VersusIdeal {
namespace {

// One figure: a mailbox of `count` generated messages over a link of
// `roundTripMs` (0: straight to the server), checked, or checked and its
// hits moved to Junk.
struct Case {
    const char *name;
    int count;
    int roundTripMs;
    bool remove;
    int rounds; // each runs both clients, in turn first
};

// A run of either client: seconds, -1 when it failed.
struct Run {
    double seconds = -1;
    int roundTrips = -1;
};

// Trelvik as the command line's `--check [--delete]` runs it: the fetch, and
// the removal in the session that fetched.
double trelvik(quint16 port, const Case &c)
{
    const ProfileSettingsRecord settings = ImapBench::settingsFor(port);
    CancelFlag cancel;
    QuietStatus status;
    MessageRowList inbox, recycle;
    QElapsedTimer clock;
    clock.start();
    const auto mailbox = mailboxFor(status, settings, cancel);
    const MailResult read = FetchHeader(status, inbox, recycle, ImapBench::tenthIsSpam, *mailbox, cancel, false,
                                        nullptr, c.remove ? SessionEnd::LeaveOpen : SessionEnd::Commit);
    const int hits = recycle.count();
    const double checked = clock.nsecsElapsed() / 1e9;
    if (read.ok() && c.remove && hits > 0)
        (void)EmptyRecycleBinInSession(status, recycle, *mailbox, cancel);
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (c.remove)
        std::printf("# %s: Trelvik's check %.3f s, its removal %.3f s\n", c.name, checked, seconds - checked);
    if (!read.ok() || inbox.count() + hits != c.count || (c.remove && recycle.count() != 0)) {
        std::fprintf(stderr, "# %s: Trelvik read %d of %d, %d hits left: %s\n", c.name, inbox.count() + hits, c.count,
                     c.remove ? recycle.count() : 0, qPrintable(read.text));
        return -1;
    }
    return seconds;
}

double ideal(quint16 port, const Case &c)
{
    QProcess python;
    QStringList arguments{QStringLiteral(TRELVIK_IDEAL_IMAP), QStringLiteral("127.0.0.1"), QString::number(port),
                          QStringLiteral("bench"), QStringLiteral("bench")};
    if (c.remove)
        arguments << QStringLiteral("--move");
    python.start(QStringLiteral("python3"), arguments);
    const bool ended = python.waitForFinished(900'000);
    const QList<QByteArray> words = python.readAllStandardOutput().trimmed().split(' ');
    if (!ended || python.exitCode() != 0 || words.value(1).toInt() != c.count) {
        std::fprintf(stderr, "# %s: the ideal client failed: %s\n", c.name, python.readAllStandardError().constData());
        python.kill();
        python.waitForFinished(5000);
        return -1;
    }
    return words.value(0).toDouble();
}

// The prepared maildir of `count` generated small messages.
QString smallMail(int count)
{
    QString error;
    const QString maildir = BenchDovecot::prepared(
        QStringLiteral("small-%1").arg(count),
        [count](const QString &cur) {
            const QList<QByteArray> messages = SampleImapServer::generated(count);
            for (qsizetype i = 0; i < messages.size(); ++i)
                if (!BenchDovecot::writeMessage(cur, int(i + 1), messages.at(i)))
                    return false;
            return true;
        },
        &error);
    if (maildir.isEmpty())
        std::fprintf(stderr, "# cannot prepare %d messages for Dovecot: %s\n", count, qPrintable(error));
    return maildir;
}

// One run on a server of its own, over a copy of the same mail: a removal
// changes the mailbox.
Run once(const Case &c, bool ofTrelvik)
{
    Run run;
    const QString maildir = smallMail(c.count);
    BenchDovecot dovecot;
    QString error;
    if (maildir.isEmpty() || !dovecot.start(maildir, &error)) {
        std::fprintf(stderr, "# %s: %s\n", c.name, qPrintable(error));
        return run;
    }
    LinkedServer server(dovecot.port());
    const quint16 port = ImapBench::start(server, c.roundTripMs > 0 ? c.roundTripMs : -1);
    if (port == 0)
        return run;
    run.seconds = ofTrelvik ? trelvik(port, c) : ideal(port, c);
    if (run.seconds >= 0 && c.roundTripMs > 0)
        run.roundTrips = server.roundTripsWaited();
    return run;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

bool compare(const Case &c, const char *roundTripsName)
{
    QList<double> ours, theirs;
    int ourTrips = -1, theirTrips = -1;
    for (int round = 0; round < c.rounds; ++round) {
        for (const bool ofTrelvik : {round % 2 == 0, round % 2 != 0}) {
            const Run run = once(c, ofTrelvik);
            if (run.seconds < 0)
                return false;
            (ofTrelvik ? ours : theirs).append(run.seconds);
            (ofTrelvik ? ourTrips : theirTrips) = run.roundTrips;
        }
    }
    std::printf("# %s: Trelvik %.3f s, the ideal client %.3f s (medians of %d)\n", c.name, median(ours), median(theirs),
                c.rounds);
    std::printf("BENCH %s %.2f x\n", c.name, median(ours) / median(theirs));
    if (roundTripsName) {
        std::printf("# %s: the ideal client waited %d\n", roundTripsName, theirTrips);
        std::printf("BENCH %s %d rtt\n", roundTripsName, ourTrips);
    }
    std::fflush(stdout);
    return true;
}

} // namespace

// The check over 100,000 real-sized messages, in a process of its own that
// keeps what the command line's check keeps.
bool realPeak(const QString &program, const QString &place)
{
    Q_UNUSED(place);
    const int count = 100000;
    RealMailbox::HeaderSizes sizes;
    for (int i = 1; i <= count; ++i)
        sizes.add(RealMailbox::message(i).indexOf("\r\n\r\n") + 4);
    sizes.print("imap_check_100k_real mailbox");
    QString error;
    const QString maildir = BenchDovecot::prepared(
        QStringLiteral("real-%1").arg(count),
        [count](const QString &cur) {
            for (int i = 1; i <= count; ++i)
                if (!BenchDovecot::writeMessage(cur, i, RealMailbox::message(i)))
                    return false;
            return true;
        },
        &error);
    BenchDovecot dovecot;
    if (maildir.isEmpty() || !dovecot.start(maildir, &error)) {
        std::fprintf(stderr, "# imap_check_100k_real: %s\n", qPrintable(error));
        return false;
    }
    const quint16 port = dovecot.port();
    const QList<QByteArray> words = port == 0
        ? QList<QByteArray>()
        : childFigures(program, {QStringLiteral("--check-child"), QString::number(port)}, "imap real");
    if (words.value(2).toInt() != count) {
        std::fprintf(stderr, "# imap_check_100k_real: read %s of %d\n", words.value(2).constData(), count);
        return false;
    }
    std::printf("# imap_check_100k_real_0ms: %.3f s\n", words.value(0).toDouble());
    std::printf("BENCH imap_check_100k_real_0ms_peak_rss %.1f MB\n", words.value(1).toDouble() / 1024.0);
    std::fflush(stdout);
    return true;
}

bool run(const QString &program, const QString &place, const QString &only)
{
    // Three rounds each: one slow run (a cold disk cache) must not decide the figure.
    const Case cases[] = {
        {"imap_check_10k_100ms_vs_ideal", 10000, 100, false, 3},
        {"imap_check_100k_100ms_vs_ideal", 100000, 100, false, 3},
        {"imap_delete_10k_100ms_vs_ideal", 10000, 100, true, 3},
        {"imap_delete_100k_0ms_vs_ideal", 100000, 0, true, 3},
    };
    bool ok = true;
    for (const Case &c : cases)
        if (only.isEmpty() || QLatin1String(c.name).contains(only))
            ok = compare(c, c.count == 10000 && !c.remove ? "imap_round_trips_check_10k_100ms" : nullptr) && ok;
    return (!only.isEmpty() || realPeak(program, place)) && ok;
}

} // namespace VersusIdeal
