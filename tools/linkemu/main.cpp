// trelvik-linkemu: relays a loopback TCP port to a target, adding the delay
// (and optionally the bandwidth limit) of a slow link. For tests and
// benchmarks only; it listens on 127.0.0.1 alone.
#include "LinkEmulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("trelvik-linkemu"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Loopback link emulator: delays every chunk by half the round trip in each direction."));
    parser.addHelpOption();
    QCommandLineOption targetOpt(QStringLiteral("target"), QStringLiteral("Target port on 127.0.0.1."),
                                 QStringLiteral("port"));
    QCommandLineOption listenOpt(QStringLiteral("listen"), QStringLiteral("Port to listen on (0: any free port)."),
                                 QStringLiteral("port"), QStringLiteral("0"));
    QCommandLineOption rttOpt(QStringLiteral("rtt"), QStringLiteral("Round-trip time in milliseconds."),
                              QStringLiteral("ms"), QStringLiteral("0"));
    QCommandLineOption bwOpt(QStringLiteral("bandwidth"),
                             QStringLiteral("Bytes per second in each direction (0: unlimited)."),
                             QStringLiteral("bytes"), QStringLiteral("0"));
    QCommandLineOption lifeOpt(QStringLiteral("lifetime"),
                               QStringLiteral("Exit after this many seconds (default 600)."), QStringLiteral("s"),
                               QStringLiteral("600"));
    parser.addOptions({targetOpt, listenOpt, rttOpt, bwOpt, lifeOpt});
    parser.process(app);

    bool ok = false;
    const uint target = parser.value(targetOpt).toUInt(&ok);
    if (!ok || target == 0 || target > 65535) {
        std::fputs("trelvik-linkemu: --target <port> is required\n", stderr);
        return 2;
    }
    LinkEmulator::Settings settings;
    settings.roundTripMs = parser.value(rttOpt).toInt();
    settings.bytesPerSecond = parser.value(bwOpt).toLongLong();
    LinkEmulator emulator(QHostAddress::LocalHost, quint16(target), settings);
    if (!emulator.listen(quint16(parser.value(listenOpt).toUInt()))) {
        std::fputs("trelvik-linkemu: cannot listen\n", stderr);
        return 1;
    }
    // One line per connection that ended, for a caller that counts waits.
    QObject::connect(&emulator, &LinkEmulator::connectionEnded, &app, [](int roundTrips) {
        std::printf("connection ended: %d round trips waited\n", roundTrips);
        std::fflush(stdout);
    });
    // The chosen port on the first line, so that a caller can read it.
    std::printf("%u\n", unsigned(emulator.port()));
    std::fflush(stdout);
    // Never outlives its purpose: a forgotten emulator ends by itself.
    QTimer::singleShot(parser.value(lifeOpt).toInt() * 1000, &app, &QCoreApplication::quit);
    return app.exec();
}
