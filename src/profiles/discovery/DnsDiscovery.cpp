#include "DnsDiscovery.h"

#include <QDnsLookup>
#include <QTimer>

#include <algorithm>

namespace {

struct SrvService {
    const char *prefix;
    const char *protocol;
    const char *security;
};

// Implicit TLS first (RFC 8314); the plain services must use STARTTLS, as
// no password is sent in clear.
constexpr SrvService kServices[] = {
    {"_imaps._tcp.", "IMAP", "SSL/TLS"},
    {"_pop3s._tcp.", "POP3", "SSL/TLS"},
    {"_imap._tcp.", "IMAP", "STARTTLS"},
    {"_pop3._tcp.", "POP3", "STARTTLS"},
};

} // namespace

DnsDiscovery::DnsDiscovery(const DiscoverySeam &seam, QObject *parent)
    : QObject(parent)
    , m_seam(seam)
{
}

QDnsLookup *DnsDiscovery::makeLookup(int type, const QString &name)
{
    auto *lookup = new QDnsLookup(QDnsLookup::Type(type), name, this);
    if (!m_seam.nameServer.isNull())
        lookup->setNameserver(m_seam.nameServer);
    // The resolver retries for longer than the search may wait.
    QTimer::singleShot(m_seam.requestMs, lookup, [lookup] { lookup->abort(); });
    return lookup;
}

void DnsDiscovery::lookUpMx(const QString &domain)
{
    QDnsLookup *lookup = makeLookup(QDnsLookup::MX, domain);
    connect(lookup, &QDnsLookup::finished, this, [this, lookup] {
        lookup->deleteLater();
        QList<QDnsMailExchangeRecord> records = lookup->mailExchangeRecords();
        std::stable_sort(records.begin(), records.end(),
                         [](const auto &a, const auto &b) { return a.preference() < b.preference(); });
        QStringList hosts;
        for (const QDnsMailExchangeRecord &record : records)
            hosts << record.exchange();
        Q_EMIT mxFound(hosts);
    });
    lookup->lookup();
}

void DnsDiscovery::lookUpSrv(const EmailAddress &address)
{
    m_address = address;
    m_srvOpen = 0;
    for (const SrvService &service : kServices) {
        QDnsLookup *lookup = makeLookup(QDnsLookup::SRV, QLatin1String(service.prefix) + address.domain);
        m_srvLookups << lookup;
        ++m_srvOpen;
        connect(lookup, &QDnsLookup::finished, this, &DnsDiscovery::srvAnswered);
    }
    for (QDnsLookup *lookup : std::as_const(m_srvLookups))
        lookup->lookup();
}

void DnsDiscovery::srvAnswered()
{
    if (--m_srvOpen == 0)
        finishSrv();
}

void DnsDiscovery::finishSrv()
{
    QList<AccountSettings> found;
    for (qsizetype i = 0; i < m_srvLookups.size(); ++i) {
        QList<QDnsServiceRecord> records = m_srvLookups.at(i)->serviceRecords();
        // Priority first; a heavier weight is picked more often, so first here.
        std::stable_sort(records.begin(), records.end(), [](const auto &a, const auto &b) {
            return a.priority() != b.priority() ? a.priority() < b.priority() : a.weight() > b.weight();
        });
        for (const QDnsServiceRecord &record : records) {
            QString target = record.target().toLower();
            if (target.endsWith(QLatin1Char('.')))
                target.chop(1);
            // A target of "." says the service is not offered (RFC 2782).
            if (target.isEmpty() || record.port() == 0 || !isValidHostName(target))
                continue;
            AccountSettings s;
            s.protocol = QLatin1String(kServices[i].protocol);
            s.security = QLatin1String(kServices[i].security);
            s.host = target;
            s.port = record.port();
            s.userName = m_address.address;
            s.source = QStringLiteral("DNS SRV");
            // Anyone who can answer for the domain's DNS can name any server:
            // one outside the address's domain is pointed out.
            if (!isInDomain(target, m_address.domain))
                s.source += QStringLiteral(", a server in another domain than ") + m_address.domain;
            if (!found.contains(s))
                found << s;
        }
        m_srvLookups.at(i)->deleteLater();
    }
    m_srvLookups.clear();
    Q_EMIT srvFound(found);
}

void DnsDiscovery::cancel()
{
    for (QDnsLookup *lookup : findChildren<QDnsLookup *>()) {
        lookup->disconnect(this);
        lookup->abort();
        lookup->deleteLater();
    }
    m_srvLookups.clear();
    m_srvOpen = 0;
}
