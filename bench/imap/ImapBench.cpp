#include "ImapBench.h"

#include <cstdio>

namespace ImapBench {

ProfileSettingsRecord settingsFor(quint16 port)
{
    ProfileSettingsRecord settings;
    settings.EmailHost = QStringLiteral("127.0.0.1");
    settings.EmailPort = QString::number(port);
    settings.EmailUserid = QStringLiteral("bench");
    settings.EmailPassword = QStringLiteral("bench");
    settings.MailProtocol = QStringLiteral("IMAP");
    return settings;
}

SortReason tenthIsSpam(const QString &sender, QByteArrayView, qint64)
{
    return sender.contains(QLatin1String("0@example.com"))
        ? SortReason{SortReason::Kind::Filter, QStringLiteral("*0@example.com")}
        : SortReason{};
}

LinkedServer server(int count)
{
    return LinkedServer(QStringLiteral(TRELVIK_SAMPLE_IMAP),
                        {QStringLiteral("--generate"), QString::number(count), QStringLiteral("--user"),
                         QStringLiteral("bench"), QStringLiteral("--password"), QStringLiteral("bench")});
}

LinkedServer server(const QString &folder)
{
    return LinkedServer(QStringLiteral(TRELVIK_SAMPLE_IMAP),
                        {QStringLiteral("--folder"), folder, QStringLiteral("--user"), QStringLiteral("bench"),
                         QStringLiteral("--password"), QStringLiteral("bench")});
}

quint16 start(LinkedServer &server, int roundTripMs)
{
    QString error;
    const quint16 port =
        server.start(&error) ? (roundTripMs < 0 ? server.serverPort() : server.link(roundTripMs, &error)) : 0;
    if (port == 0)
        std::fprintf(stderr, "# %s\n", qPrintable(error));
    return port;
}

} // namespace ImapBench
