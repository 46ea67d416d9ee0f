// trelvik-sample-pop3: serves a folder of message files (one file per
// message) over POP3 on the loopback address, for trying Trelvik without a
// mail account. Deleted messages' files are removed at QUIT, so point it at a
// copy of the sample mail.
#include "SamplePop3Server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("trelvik-sample-pop3"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Sample POP3 server for trying Trelvik (loopback only)."));
    parser.addHelpOption();
    const QCommandLineOption folder(QStringLiteral("folder"), QStringLiteral("Folder of message files."),
                                    QStringLiteral("dir"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("User name to accept."),
                                  QStringLiteral("name"), QStringLiteral("demo"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("Password to accept."),
                                      QStringLiteral("password"), QStringLiteral("demo"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Port (0 = any free port)."),
                                  QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption delay(QStringLiteral("delay"), QStringLiteral("Milliseconds before each reply."),
                                   QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption lifetime(QStringLiteral("lifetime"),
                                      QStringLiteral("Stop after this many seconds (0 = run until stopped)."),
                                      QStringLiteral("s"), QStringLiteral("0"));
    const QCommandLineOption noPipelining(QStringLiteral("no-pipelining"),
                                          QStringLiteral("Do not offer PIPELINING in the CAPA reply."));
    parser.addOptions({folder, user, password, port, delay, lifetime, noPipelining});
    parser.process(app);

    if (!parser.isSet(folder)) {
        std::fprintf(stderr, "trelvik-sample-pop3: --folder is required\n");
        return 2;
    }
    QString error;
    QList<SamplePop3Server::Message> messages = SamplePop3Server::loadFolder(parser.value(folder), &error);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "trelvik-sample-pop3: %s\n", qPrintable(error));
        return 2;
    }
    SamplePop3Server server(std::move(messages), parser.value(user).toUtf8(), parser.value(password).toUtf8());
    server.setReplyDelay(parser.value(delay).toInt());
    server.setOfferPipelining(!parser.isSet(noPipelining));
    if (!server.listen(QHostAddress::LocalHost, quint16(parser.value(port).toUInt()))) {
        std::fprintf(stderr, "trelvik-sample-pop3: cannot listen on 127.0.0.1:%s\n", qPrintable(parser.value(port)));
        return 1;
    }
    if (const int seconds = parser.value(lifetime).toInt(); seconds > 0)
        QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    std::printf("trelvik-sample-pop3 listening on 127.0.0.1:%u with %d messages\n", unsigned(server.port()),
                server.messageCount());
    std::fflush(stdout);
    return app.exec();
}
