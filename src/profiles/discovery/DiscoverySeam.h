#pragma once

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QSslCertificate>
#include <QString>

// Where the search reaches the network. The defaults are the machine's own
// (its resolver, its certificate authorities); tests point every part at
// local stand-ins so that nothing leaves the machine.
struct DiscoverySeam {
    // The DNS server asked for MX and SRV records; null: the system's.
    QHostAddress nameServer;
    // The authorities a server certificate must chain to; empty: the system's.
    QList<QSslCertificate> authorities;
    // Host names connected to at these addresses instead of resolving them.
    QHash<QString, QHostAddress> hostAddresses;
    // When set, a host name missing from hostAddresses is never reached.
    bool onlyMappedHosts = false;
    // A standard port (443, 993, 995, 143, 110) connected to as another one.
    QHash<quint16, quint16> ports;
    // The whole search, and each request or connection within it.
    int budgetMs = 10000;
    int requestMs = 4000;
    // Largest configuration file read; a larger one is abandoned.
    qint64 maxConfigBytes = 64 * 1024;

    quint16 portFor(quint16 standard) const { return ports.value(standard, standard); }
    // Where to connect for `host`: an address from the map, the name itself
    // when it may be resolved, or empty when it must not be reached.
    QString connectTarget(const QString &host) const
    {
        if (const auto it = hostAddresses.constFind(host.toLower()); it != hostAddresses.constEnd())
            return it->toString();
        return onlyMappedHosts ? QString() : host;
    }
};
