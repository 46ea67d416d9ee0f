// Address to filled profile fields through the local autoconfig stand-in:
// the MX lookup (answered by the local DNS stand-in, matching no provider),
// then the HTTPS fetch and the file's reading. Prints the median of runs.
#include "AccountFinder.h"
#include "LocalDnsServer.h"
#include "LocalHttpsServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

const QByteArray kConfig = R"(<?xml version="1.0"?>
<clientConfig version="1.1"><emailProvider id="bench.test">
  <incomingServer type="imap"><hostname>imap.%EMAILDOMAIN%</hostname><port>993</port>
    <socketType>SSL</socketType><username>%EMAILADDRESS%</username>
    <authentication>password-cleartext</authentication></incomingServer>
  <incomingServer type="pop3"><hostname>pop.%EMAILDOMAIN%</hostname><port>995</port>
    <socketType>SSL</socketType><username>%EMAILADDRESS%</username>
    <authentication>password-cleartext</authentication></incomingServer>
</emailProvider></clientConfig>)";

constexpr int kRuns = 21;

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString error;
    LocalDnsServer dns;
    if (!dns.listen(LocalDnsServer::defaultAddress(), &error)) {
        std::fprintf(stderr, "bench_discovery: skipped, %s\n", qPrintable(error));
        return 0;
    }
    LocalHttpsServer https;
    if (!https.start({QStringLiteral("autoconfig.bench.test")}, &error)) {
        std::fprintf(stderr, "bench_discovery: %s\n", qPrintable(error));
        return 1;
    }
    https.setReply(QStringLiteral("autoconfig.bench.test/mail/config-v1.1.xml"), {kConfig, 200, {}, 0});

    DiscoverySeam seam;
    seam.nameServer = dns.address();
    seam.authorities = https.authorities();
    seam.hostAddresses.insert(QStringLiteral("autoconfig.bench.test"), QHostAddress(QHostAddress::LocalHost));
    seam.onlyMappedHosts = true;
    seam.ports.insert(443, https.serverPort());

    QList<qint64> times;
    for (int run = 0; run < kRuns; ++run) {
        AccountFinder finder(seam);
        ProfileSettingsRecord record;
        QEventLoop loop;
        QObject::connect(&finder, &AccountFinder::finished, &loop, [&](const QList<AccountSettings> &found) {
            if (!found.isEmpty())
                fillProfileSettings(found.first(), record);
            loop.quit();
        });
        QElapsedTimer clock;
        clock.start();
        finder.start(QStringLiteral("ann@bench.test"));
        loop.exec();
        times << clock.elapsed();
        if (record.EmailHost != QLatin1String("imap.bench.test")) {
            std::fprintf(stderr, "bench_discovery: the search did not find the stand-in's settings\n");
            return 1;
        }
    }
    std::sort(times.begin(), times.end());
    std::printf("BENCH autoconfig_local_ms %lld ms\n", static_cast<long long>(times.at(kRuns / 2)));
    return 0;
}
