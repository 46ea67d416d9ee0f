// trelvik-sample-imap: serves a folder of message files (one file per
// message), or a generated mailbox of small messages, over IMAP on the
// loopback address, for trying Trelvik without a mail account. Everything
// stays in memory: the files are never changed.
#include "SampleImapServer.h"
#include "SamplePop3Server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("trelvik-sample-imap"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Sample IMAP server for trying Trelvik (loopback only)."));
    parser.addHelpOption();
    const QCommandLineOption folder(QStringLiteral("folder"), QStringLiteral("Folder of message files."),
                                    QStringLiteral("dir"));
    const QCommandLineOption junk(QStringLiteral("junk"),
                                  QStringLiteral("Folder of message files to serve in Junk, as mail already sorted."),
                                  QStringLiteral("dir"));
    const QCommandLineOption generate(QStringLiteral("generate"),
                                      QStringLiteral("Serve this many generated small messages instead."),
                                      QStringLiteral("count"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("User name to accept."),
                                  QStringLiteral("name"), QStringLiteral("demo"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("Password to accept."),
                                      QStringLiteral("password"), QStringLiteral("demo"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Port (0 = any free port)."),
                                  QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption deliver(QStringLiteral("deliver-every"),
                                     QStringLiteral("Deliver a generated message to INBOX every this many seconds."),
                                     QStringLiteral("s"), QStringLiteral("0"));
    const QCommandLineOption lifetime(QStringLiteral("lifetime"),
                                      QStringLiteral("Stop after this many seconds (0 = run until stopped)."),
                                      QStringLiteral("s"), QStringLiteral("0"));
    parser.addOptions({folder, junk, generate, user, password, port, deliver, lifetime});
    parser.process(app);

    QList<QByteArray> messages;
    if (parser.isSet(generate)) {
        messages = SampleImapServer::generated(parser.value(generate).toInt());
    } else if (parser.isSet(folder)) {
        QString error;
        const QList<SamplePop3Server::Message> files = SamplePop3Server::loadFolder(parser.value(folder), &error);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "trelvik-sample-imap: %s\n", qPrintable(error));
            return 2;
        }
        for (const SamplePop3Server::Message &file : files)
            messages.append(file.data);
    } else {
        std::fprintf(stderr, "trelvik-sample-imap: --folder or --generate is required\n");
        return 2;
    }
    SampleImapServer server(std::move(messages), parser.value(user).toUtf8(), parser.value(password).toUtf8());
    if (parser.isSet(junk)) {
        QString error;
        const QList<SamplePop3Server::Message> files = SamplePop3Server::loadFolder(parser.value(junk), &error);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "trelvik-sample-imap: %s\n", qPrintable(error));
            return 2;
        }
        for (const SamplePop3Server::Message &file : files)
            server.deliver(file.data, QStringLiteral("Junk"));
    }
    if (!server.listen(QHostAddress::LocalHost, quint16(parser.value(port).toUInt()))) {
        std::fprintf(stderr, "trelvik-sample-imap: cannot listen on 127.0.0.1:%s\n", qPrintable(parser.value(port)));
        return 1;
    }
    QTimer delivery;
    if (const int seconds = parser.value(deliver).toInt(); seconds > 0) {
        int next = 1;
        QObject::connect(&delivery, &QTimer::timeout, &server, [&server, &next] {
            QByteArray message = SampleImapServer::generated(next).constLast();
            server.deliver(message.replace("Message ", "Delivered "));
            ++next;
        });
        delivery.start(seconds * 1000);
    }
    if (const int seconds = parser.value(lifetime).toInt(); seconds > 0)
        QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    std::printf("trelvik-sample-imap listening on 127.0.0.1:%u with %d messages\n", unsigned(server.port()),
                server.messageCount());
    std::fflush(stdout);
    return app.exec();
}
