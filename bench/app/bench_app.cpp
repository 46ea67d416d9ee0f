// Start-up time of the program and the cost of large message lists.
#include "BenchHome.h"
#include "MessageFolderModel.h"
#include "frmMain.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeView>
#include <cstdio>

namespace {

// Start to window shown, as the user sees it: a fresh process against a
// private home, which reports when its window is up and then quits. The
// best of five runs, or -1 when the window never reported itself.
qint64 startupMs(const QString &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home);
    env.insert(QStringLiteral("TRELVIK_STARTUP_PROBE"), QStringLiteral("quit"));
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    constexpr int kRuns = 5;
    qint64 best = -1;
    for (int i = 0; i < kRuns; ++i) {
        QProcess process;
        process.setProcessEnvironment(env);
        QElapsedTimer timer;
        timer.start();
        process.start(QStringLiteral(TRELVIK_BINARY), {});
        if (!process.waitForStarted(10000)) {
            std::fprintf(stderr, "bench_app: cannot start %s\n", TRELVIK_BINARY);
            return -1;
        }
        while (!process.canReadLine() && process.state() == QProcess::Running)
            process.waitForReadyRead(60000);
        const qint64 ms = timer.elapsed();
        const QByteArray line = process.readLine();
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished(2000);
        }
        if (!line.startsWith("shown")) {
            std::fprintf(stderr, "bench_app: the window did not report itself shown\n");
            return -1;
        }
        if (best < 0 || ms < best)
            best = ms;
    }
    return best;
}

void benchStartup()
{
    QTemporaryDir home;
    const qint64 ms = startupMs(home.path());
    if (ms >= 0)
        std::printf("BENCH startup_to_window %lld ms\n", static_cast<long long>(ms));
}

// The same start with a valid settings file of 50 MB: 5,000 profiles of ten
// kilobytes each, the last used one in the middle.
void benchStartupLargeSettings()
{
    QTemporaryDir home;
    QJsonObject profiles;
    constexpr int kProfiles = 5000;
    const QString notes = QStringLiteral("n").repeated(9800);
    for (int i = 0; i < kProfiles; ++i) {
        QJsonObject values{{QStringLiteral("EmailHost"), QStringLiteral("pop%1.example.com").arg(i)},
                           {QStringLiteral("EmailPort"), QStringLiteral("995")},
                           {QStringLiteral("EmailUserId"), QStringLiteral("user%1").arg(i)},
                           {QStringLiteral("EmailSecurity"), QStringLiteral("SSL/TLS")},
                           {QStringLiteral("Autodial"), QStringLiteral("0")},
                           {QStringLiteral("Notes"), notes}};
        profiles.insert(QStringLiteral("Profile %1").arg(i, 5, 10, QLatin1Char('0')),
                        QJsonObject{{QStringLiteral("values"), values}});
    }
    const QJsonObject trelvik{{QStringLiteral("values"),
                               QJsonObject{{QStringLiteral("LastProfile"), QStringLiteral("Profile 02500")}}},
                              {QStringLiteral("keys"),
                               QJsonObject{
                                   {QStringLiteral("Setting"), QJsonObject{{QStringLiteral("keys"), profiles}}}}}};
    const QJsonObject root{
        {QStringLiteral("keys"),
         QJsonObject{{QStringLiteral("Software"),
                      QJsonObject{{QStringLiteral("keys"), QJsonObject{{QStringLiteral("Trelvik"), trelvik}}}}}}}};
    const QString folder = home.path() + QStringLiteral("/config/Trelvik");
    QDir().mkpath(folder);
    QFile file(folder + QStringLiteral("/settings.json"));
    const QByteArray data = QJsonDocument(root).toJson(QJsonDocument::Indented);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) {
        std::fprintf(stderr, "bench_app: cannot write the settings file\n");
        return;
    }
    file.close();
    const qint64 ms = startupMs(home.path());
    if (ms >= 0)
        std::printf("BENCH startup_settings_50mb %lld ms\n", static_cast<long long>(ms));
    std::fprintf(stderr, "# settings file of %lld bytes\n", static_cast<long long>(data.size()));
}

// 10,000 rows into the Inbox, a sort by Size, then every row selected and
// moved to the Recycle Bin, all through the window with its views.
void benchRows(const QString &home)
{
    frmMain window(home + QStringLiteral("/db"));
    if (!window.Form_Load())
        return;
    window.show();
    QApplication::processEvents();

    QElapsedTimer timer;
    timer.start();
    MessageFolderModel &inbox = window.inboxModel();
    for (int i = 0; i < 10000; ++i) {
        MessageEntry e;
        e.sender = QStringLiteral("sender%1@example.com").arg((i * 7919) % 10000);
        e.subject = QStringLiteral("Subject %1").arg(i);
        e.date = QStringLiteral("Mon, 1 Jan 2024 10:00:00 +0000");
        e.size = QStringLiteral("%1K").arg(i % 500).rightJustified(6);
        e.number = i + 1;
        e.iconKey = QStringLiteral("inbox");
        inbox.append(e);
    }
    inbox.sort(MessageFolderModel::Size);
    auto *view = window.findChild<QTreeView *>(QStringLiteral("lsvInbox"));
    view->selectAll();
    window.menus().mnuMoveToRecycle->trigger();
    QApplication::processEvents();
    const qint64 ms = timer.elapsed();
    if (window.recycleModel().count() != 10000 || inbox.count() != 0) {
        std::fprintf(stderr, "bench_app: rows went missing (%d left, %d moved)\n", inbox.count(),
                     window.recycleModel().count());
        return;
    }
    std::printf("BENCH rows_10k_add_sort_move %lld ms\n", static_cast<long long>(ms));
}

} // namespace

int main(int argc, char *argv[])
{
    const BenchHome home; // for the in-process window
    QApplication app(argc, argv);
    benchStartup();
    benchStartupLargeSettings();
    benchRows(home.path());
    return 0;
}
