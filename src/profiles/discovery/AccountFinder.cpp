#include "AccountFinder.h"

#include "AutoconfigFetch.h"
#include "DnsDiscovery.h"
#include "ProviderTable.h"
#include "ServerProbe.h"

AccountFinder::AccountFinder(const DiscoverySeam &seam, QObject *parent)
    : QObject(parent)
    , m_seam(seam)
{
    m_budget.setSingleShot(true);
    connect(&m_budget, &QTimer::timeout, this, [this] {
        m_timedOut = true;
        Q_EMIT progress(QStringLiteral("The search took too long"));
        finish({});
    });
}

bool AccountFinder::start(const QString &address)
{
    cancel();
    m_address = EmailAddress::parse(address);
    if (!m_address.isValid())
        return false;
    m_running = true;
    m_timedOut = false;
    m_budget.start(m_seam.budgetMs);
    // Queued, so that a caller connecting after start still hears the end.
    const quint64 search = ++m_search;
    QMetaObject::invokeMethod(
        this,
        [this, search] {
            if (!m_running || search != m_search)
                return; // cancelled, or started again, before it began
            if (const ProviderEntry *provider = ProviderTable::forDomain(m_address.domain)) {
                Q_EMIT progress(QStringLiteral("%1 is a known provider").arg(provider->name));
                finish(ProviderTable::settingsFor(*provider, m_address));
                return;
            }
            lookUpMx();
        },
        Qt::QueuedConnection);
    return true;
}

void AccountFinder::cancel()
{
    m_budget.stop();
    m_running = false;
    stopWorkers();
}

void AccountFinder::stopWorkers()
{
    for (QObject *worker : std::initializer_list<QObject *>{m_dns, m_autoconfig, m_probe}) {
        if (!worker)
            continue;
        worker->disconnect(this);
        if (auto *dns = qobject_cast<DnsDiscovery *>(worker))
            dns->cancel();
        else if (auto *fetch = qobject_cast<AutoconfigFetch *>(worker))
            fetch->cancel();
        else if (auto *probe = qobject_cast<ServerProbe *>(worker))
            probe->cancel();
        worker->deleteLater();
    }
    m_dns = nullptr;
    m_autoconfig = nullptr;
    m_probe = nullptr;
}

// A domain a large provider hosts (Google Workspace, Microsoft 365) has its
// MX records at the provider.
void AccountFinder::lookUpMx()
{
    Q_EMIT progress(QStringLiteral("Looking up the mail exchangers of %1").arg(m_address.domain));
    m_dns = new DnsDiscovery(m_seam, this);
    connect(m_dns, &DnsDiscovery::mxFound, this, [this](const QStringList &hosts) {
        QList<AccountSettings> found;
        if (const ProviderEntry *provider = ProviderTable::forMxHosts(hosts)) {
            Q_EMIT progress(QStringLiteral("%1 is hosted by %2").arg(m_address.domain, provider->name));
            found = ProviderTable::settingsFor(*provider, m_address);
        }
        stepDone(found, &AccountFinder::fetchAutoconfig);
    });
    m_dns->lookUpMx(m_address.domain);
}

void AccountFinder::fetchAutoconfig()
{
    m_autoconfig = new AutoconfigFetch(m_seam, this);
    connect(m_autoconfig, &AutoconfigFetch::progress, this, &AccountFinder::progress);
    connect(m_autoconfig, &AutoconfigFetch::finished, this,
            [this](const QList<AccountSettings> &found) { stepDone(found, &AccountFinder::lookUpSrv); });
    m_autoconfig->start(m_address);
}

void AccountFinder::lookUpSrv()
{
    Q_EMIT progress(QStringLiteral("Looking up the mail services of %1").arg(m_address.domain));
    connect(m_dns, &DnsDiscovery::srvFound, this,
            [this](const QList<AccountSettings> &found) { stepDone(found, &AccountFinder::probe); });
    m_dns->lookUpSrv(m_address);
}

void AccountFinder::probe()
{
    m_probe = new ServerProbe(m_seam, this);
    connect(m_probe, &ServerProbe::progress, this, &AccountFinder::progress);
    connect(m_probe, &ServerProbe::finished, this, [this](const QList<AccountSettings> &found) { finish(found); });
    m_probe->start(m_address);
}

void AccountFinder::stepDone(const QList<AccountSettings> &found, void (AccountFinder::*next)())
{
    if (!m_running)
        return;
    if (found.isEmpty())
        (this->*next)();
    else
        finish(found);
}

void AccountFinder::finish(QList<AccountSettings> found)
{
    if (!m_running)
        return;
    cancel();
    sortByPreference(found);
    Q_EMIT finished(found);
}
