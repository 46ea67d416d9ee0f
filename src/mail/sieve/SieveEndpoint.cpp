#include "SieveEndpoint.h"

#include "ProfileRecord.h"

#include <QDnsLookup>
#include <QEventLoop>
#include <QTimer>

SieveEndpoint sieveEndpoint(const ProfileSettingsRecord &settings, const SieveSrvLookup &srv)
{
    SieveEndpoint e;
    e.host = settings.EmailHost.trimmed();
    const QString security = settings.SieveSecurity.trimmed();
    if (security.isEmpty())
        e.security = connectionSecurity(settings) == ConnectionSecurity::None ? ConnectionSecurity::None
                                                                              : ConnectionSecurity::StartTls;
    else if (security.compare(QLatin1String("None"), Qt::CaseInsensitive) == 0)
        e.security = ConnectionSecurity::None;
    else if (security.compare(QLatin1String("STARTTLS"), Qt::CaseInsensitive) == 0)
        e.security = ConnectionSecurity::StartTls;
    else if (security.compare(QLatin1String("SSL/TLS"), Qt::CaseInsensitive) == 0)
        e.security = ConnectionSecurity::Implicit;
    else
        e.error = unknownSecurityText(security);
    if (const QString port = settings.SievePort.trimmed(); !port.isEmpty()) {
        bool ok = false;
        const int n = port.toInt(&ok);
        if (!ok || n < 1 || n > 65535)
            e.error = QStringLiteral("The ManageSieve port \"%1\" is not a port number.").arg(port);
        e.port = quint16(n);
        e.source = QStringLiteral("the profile");
        return e;
    }
    // The service is announced for the mail domain: the user's, else the
    // host's without its first label (imap.example.org -> example.org). A
    // target outside that domain is not taken: an unsigned answer must not
    // send the password to a host of someone else's choosing.
    QStringList domains;
    if (const qsizetype at = settings.EmailUserid.lastIndexOf(QLatin1Char('@')); at >= 0)
        domains.append(settings.EmailUserid.mid(at + 1).trimmed().toLower());
    if (const QStringList labels = e.host.split(QLatin1Char('.')); labels.size() > 2)
        domains.append(labels.mid(1).join(QLatin1Char('.')).toLower());
    for (const QString &domain : std::as_const(domains)) {
        const std::optional<SieveSrv> found = srv && !domain.isEmpty() ? srv(domain) : std::nullopt;
        if (!found || found->port == 0)
            continue;
        const QString target = found->target.toLower();
        if (target == e.host.toLower() || target.endsWith(QLatin1Char('.') + domain)) {
            e.host = found->target;
            e.port = found->port;
            e.source = QStringLiteral("DNS SRV");
            return e;
        }
    }
    e.source = QStringLiteral("the default port");
    return e;
}

std::optional<SieveSrv> lookUpSieveSrv(const QString &domain, int timeoutMs)
{
    if (domain.isEmpty())
        return std::nullopt;
    QDnsLookup lookup(QDnsLookup::SRV, QStringLiteral("_sieve._tcp.") + domain);
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&lookup, &QDnsLookup::finished, &loop, &QEventLoop::quit);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    lookup.lookup();
    limit.start(timeoutMs);
    if (!lookup.isFinished())
        loop.exec();
    if (!lookup.isFinished()) {
        lookup.abort();
        return std::nullopt;
    }
    if (lookup.error() != QDnsLookup::NoError || lookup.serviceRecords().isEmpty())
        return std::nullopt;
    // The lowest priority first; among those the first the resolver gave.
    QDnsServiceRecord best = lookup.serviceRecords().constFirst();
    for (const QDnsServiceRecord &r : lookup.serviceRecords())
        if (r.priority() < best.priority())
            best = r;
    QString target = best.target();
    if (target.endsWith(QLatin1Char('.')))
        target.chop(1);
    return SieveSrv{target, best.port()};
}
