// Fetch speed against the sample POP3 server in this process (loopback), and
// the CPU a wait costs while the server stays silent.
#include "Global.h"
#include "MailOperations.h"
#include "MessageBox.h"
#include "MessageFolderModel.h"
#include "Pop3Session.h"
#include "RunStatus.h"
#include "SamplePop3Server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>
#include <ctime>

namespace {

class QuietStatus : public RunStatus {
public:
    void setStatusText(const QString &) override {}
    void setProgressMaximum(int) override {}
    void setProgressValue(int) override {}
    void setNodeText(const QString &, const QString &) override {}
};

QList<SamplePop3Server::Message> makeMessages(int count)
{
    QList<SamplePop3Server::Message> messages;
    for (int i = 1; i <= count; ++i) {
        const QByteArray n = QByteArray::number(i);
        QByteArray data = "Received: from mx" + n + ".example by pop.example\r\n"
                          "From: Sender " + n + " <sender" + n + "@domain" + QByteArray::number(i % 37) + ".example>\r\n"
                          "To: bench@pop.example\r\nSubject: Benchmark message " + n + "\r\n"
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
    Global::ProfileSettings = {};
    Global::ProfileSettings.EmailHost = QStringLiteral("127.0.0.1");
    Global::ProfileSettings.EmailPort = QString::number(server.port());
    Global::ProfileSettings.EmailUserid = QStringLiteral("bench");
    Global::ProfileSettings.EmailPassword = QStringLiteral("bench");
    Global::CancelRequested().clear();
    QuietStatus status;
    MessageFolderModel inbox, recycle;
    QElapsedTimer timer;
    timer.start();
    FetchHeader(status, inbox, recycle, [](const QString &value, const QString &) {
        return value.startsWith(QLatin1String("*@domain1."));
    });
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (inbox.count() + recycle.count() != count)
        std::fprintf(stderr, "# fetched %d of %d\n", inbox.count() + recycle.count(), count);
    return seconds;
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
    Global::ProfileSettings.EmailPort = QString::number(server.serverPort());
    Global::CancelRequested().clear();
    QuietStatus status;
    Pop3Session session(status, Global::ProfileSettings, Global::CancelRequested(), SessionOptions{seconds * 1000});
    if (session.ConnectServer() != Pop3Session::kConnected)
        return -1;
    const double before = cpuSeconds();
    session.LoginServer();
    const double used = cpuSeconds() - before;
    session.CloseServer();
    return used;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The silent server's "stopped answering" box is expected; keep it quiet.
    MessageBox::setHandler([](const MessageBox::Request &) { return MessageBox::Result::Ok; });
    std::printf("BENCH fetch_1000_0ms %.3f s\n", fetchSeconds(1000, 0));
    std::fflush(stdout);
    std::printf("BENCH fetch_1000_20ms %.3f s\n", fetchSeconds(1000, 20));
    std::fflush(stdout);
    std::printf("BENCH silent_wait_cpu_10s %.3f s\n", silentWaitCpu(10));
    return 0;
}
