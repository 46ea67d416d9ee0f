#pragma once

#include "AccountSettings.h"
#include "DiscoverySeam.h"

#include <QObject>
#include <QTimer>

class AutoconfigFetch;
class DnsDiscovery;
class ServerProbe;

// Finds the incoming server of an email address, trying in turn the
// shipped provider table (by domain, then by the domain's MX hosts), the
// domain's autoconfig file, its DNS SRV records and at last the usual host
// names. It stops at the first step that answers. No credential is ever
// sent. The whole search is bounded by the seam's budget and can be
// cancelled; `finished` then is not emitted.
class AccountFinder : public QObject {
    Q_OBJECT
public:
    explicit AccountFinder(const DiscoverySeam &seam = {}, QObject *parent = nullptr);

    // False (and nothing started) when the text is not an address.
    bool start(const QString &address);
    void cancel();
    bool isRunning() const { return m_running; }
    // The last search ended because its time was up.
    bool timedOut() const { return m_timedOut; }

Q_SIGNALS:
    void progress(const QString &text);
    // Every choice found, the preferred first (the safest connection, IMAP
    // before POP3 among equals); empty when nothing was found in time.
    void finished(const QList<AccountSettings> &choices);

private:
    void lookUpMx();
    void fetchAutoconfig();
    void lookUpSrv();
    void probe();
    // Ends the search with `found` unless it is empty and `next` may still
    // find something.
    void stepDone(const QList<AccountSettings> &found, void (AccountFinder::*next)());
    void finish(QList<AccountSettings> found);
    void stopWorkers();

    DiscoverySeam m_seam;
    EmailAddress m_address;
    QTimer m_budget;
    bool m_running = false;
    bool m_timedOut = false;
    quint64 m_search = 0; // counts the searches started
    DnsDiscovery *m_dns = nullptr;
    AutoconfigFetch *m_autoconfig = nullptr;
    ServerProbe *m_probe = nullptr;
};
