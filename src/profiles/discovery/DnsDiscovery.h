#pragma once

#include "AccountSettings.h"
#include "DiscoverySeam.h"

#include <QObject>
#include <QStringList>

class QDnsLookup;

// The domain's DNS records the search reads, through the seam's name server:
// MX (to know a hosted domain's provider) and the SRV records of RFC 6186
// and RFC 8314 (_imaps, _pop3s, then _imap, _pop3). Lookups that fail or
// time out give nothing; the search goes on.
class DnsDiscovery : public QObject {
    Q_OBJECT
public:
    DnsDiscovery(const DiscoverySeam &seam, QObject *parent = nullptr);

    void lookUpMx(const QString &domain);
    void lookUpSrv(const EmailAddress &address);
    void cancel();

Q_SIGNALS:
    // The MX host names, most preferred first.
    void mxFound(const QStringList &hosts);
    // The servers the SRV records offer, most preferred first per service.
    void srvFound(const QList<AccountSettings> &found);

private:
    QDnsLookup *makeLookup(int type, const QString &name);
    void srvAnswered();
    void finishSrv();

    DiscoverySeam m_seam;
    QList<QDnsLookup *> m_srvLookups;
    EmailAddress m_address;
    int m_srvOpen = 0;
};
