#include "ProviderTable.h"

namespace {

const QString kSsl = QStringLiteral("SSL/TLS");

ProviderEntry::Server tls(const char *host, quint16 port)
{
    return {QLatin1String(host), port, kSsl};
}

QStringList names(std::initializer_list<const char *> list)
{
    QStringList result;
    for (const char *name : list)
        result << QLatin1String(name);
    return result;
}

// Every provider here publishes implicit TLS on 993 (IMAP) and 995 (POP3).
// The providers of the world's largest free mail services.
void addWorldProviders(QList<ProviderEntry> &e)
{
    e.append({QStringLiteral("Google"), names({"gmail.com", "googlemail.com"}),
              names({"aspmx.l.google.com", ".google.com", ".googlemail.com"}), tls("imap.gmail.com", 993),
              tls("pop.gmail.com", 995), QStringLiteral("Google"), true, false});
    e.append({QStringLiteral("Microsoft"),
              names({"outlook.com", "hotmail.com", "live.com", "msn.com", "hotmail.co.uk", "hotmail.de", "hotmail.fr",
                     "outlook.de", "outlook.fr", "live.co.uk", "live.de"}),
              names({".mail.protection.outlook.com", ".olc.protection.outlook.com"}), tls("outlook.office365.com", 993),
              tls("outlook.office365.com", 995), QStringLiteral("Microsoft"), false, false});
    e.append({QStringLiteral("Yahoo"),
              names({"yahoo.com", "ymail.com", "rocketmail.com", "yahoo.co.uk", "yahoo.de", "yahoo.fr", "yahoo.it",
                     "yahoo.es", "yahoo.ca", "yahoo.com.au"}),
              names({".yahoodns.net"}),
              tls("imap.mail.yahoo.com", 993),
              tls("pop.mail.yahoo.com", 995),
              {},
              true,
              false});
    e.append({QStringLiteral("iCloud"),
              names({"icloud.com", "me.com", "mac.com"}),
              names({".mail.icloud.com"}),
              tls("imap.mail.me.com", 993),
              {},
              {},
              true,
              true});
    // AOL's mail runs on Yahoo's; its own MX names are the more specific.
    e.append({QStringLiteral("AOL"),
              names({"aol.com", "aim.com", "aol.co.uk", "aol.de"}),
              names({"mx-aol.mail.gm0.yahoodns.net"}),
              tls("imap.aol.com", 993),
              tls("pop.aol.com", 995),
              {},
              true,
              false});
}

// Large regional providers, and paid services.
void addRegionalProviders(QList<ProviderEntry> &e)
{
    e.append({QStringLiteral("GMX"),
              names({"gmx.net", "gmx.de", "gmx.at", "gmx.ch"}),
              names({".gmx.net"}),
              tls("imap.gmx.net", 993),
              tls("pop.gmx.net", 995),
              {},
              false,
              false});
    e.append({QStringLiteral("GMX.com"),
              names({"gmx.com", "gmx.us", "gmx.co.uk", "gmx.fr"}),
              names({".gmx.com"}),
              tls("imap.gmx.com", 993),
              tls("pop.gmx.com", 995),
              {},
              false,
              false});
    e.append({QStringLiteral("WEB.DE"),
              names({"web.de"}),
              names({".web.de"}),
              tls("imap.web.de", 993),
              tls("pop3.web.de", 995),
              {},
              false,
              false});
    e.append({QStringLiteral("Fastmail"),
              names({"fastmail.com", "fastmail.fm", "fastmail.net", "fastmail.org"}),
              names({".messagingengine.com"}),
              tls("imap.fastmail.com", 993),
              tls("pop.fastmail.com", 995),
              {},
              true,
              false});
    e.append({QStringLiteral("mailbox.org"),
              names({"mailbox.org"}),
              names({".mailbox.org"}),
              tls("imap.mailbox.org", 993),
              tls("pop3.mailbox.org", 995),
              {},
              false,
              false});
    e.append({QStringLiteral("Posteo"),
              names({"posteo.de", "posteo.net", "posteo.at", "posteo.ch", "posteo.eu"}),
              names({".posteo.de"}),
              tls("posteo.de", 993),
              tls("posteo.de", 995),
              {},
              false,
              false});
    e.append({QStringLiteral("Zoho"),
              names({"zoho.com", "zohomail.com"}),
              names({".zoho.com", ".zoho.eu"}),
              tls("imap.zoho.com", 993),
              tls("pop.zoho.com", 995),
              {},
              false,
              false});
}

QList<ProviderEntry> makeEntries()
{
    QList<ProviderEntry> e;
    addWorldProviders(e);
    addRegionalProviders(e);
    return e;
}

// The length of the match of an MX pattern with a host, 0 for none.
qsizetype mxMatch(const QString &pattern, const QString &host)
{
    if (pattern.startsWith(QLatin1Char('.')))
        return host.endsWith(pattern) ? pattern.size() : 0;
    return host == pattern ? pattern.size() + 1 : 0; // an exact name beats any suffix
}

} // namespace

namespace ProviderTable {

const QList<ProviderEntry> &entries()
{
    static const QList<ProviderEntry> table = makeEntries();
    return table;
}

const ProviderEntry *forDomain(const QString &domain)
{
    const QString wanted = domain.toLower();
    for (const ProviderEntry &entry : entries())
        if (entry.domains.contains(wanted))
            return &entry;
    return nullptr;
}

const ProviderEntry *forMxHosts(const QStringList &mxHosts)
{
    const ProviderEntry *best = nullptr;
    qsizetype bestLength = 0;
    for (QString host : mxHosts) {
        host = host.toLower();
        if (host.endsWith(QLatin1Char('.')))
            host.chop(1);
        for (const ProviderEntry &entry : entries())
            for (const QString &pattern : entry.mxHosts)
                if (const qsizetype length = mxMatch(pattern, host); length > bestLength) {
                    best = &entry;
                    bestLength = length;
                }
    }
    return best;
}

QList<AccountSettings> settingsFor(const ProviderEntry &provider, const EmailAddress &address)
{
    AccountSettings base;
    base.userName = provider.userIsLocalPart ? address.localPart : address.address;
    base.source = QStringLiteral("provider table");
    if (!provider.oauthProvider.isEmpty()) {
        base.signIn = AccountSettings::SignIn::OAuth2;
        base.oauthProvider = provider.oauthProvider;
    } else if (provider.appPassword) {
        base.signIn = AccountSettings::SignIn::AppPassword;
    }
    QList<AccountSettings> result;
    for (const auto &[protocol, server] :
         {std::pair{QStringLiteral("IMAP"), provider.imap}, std::pair{QStringLiteral("POP3"), provider.pop3}}) {
        if (server.host.isEmpty())
            continue;
        AccountSettings choice = base;
        choice.protocol = protocol;
        choice.host = server.host;
        choice.port = server.port;
        choice.security = server.security;
        result << choice;
    }
    return result;
}

} // namespace ProviderTable
