#pragma once

#include "AccountSettings.h"

#include <QList>
#include <QString>
#include <QStringList>

// The large providers' incoming servers as they publish them, shipped with
// the program so that their users need no search at all.
struct ProviderEntry {
    struct Server {
        QString host;
        quint16 port = 0;
        QString security;
    };
    QString name;
    QStringList domains; // addresses ending in these are the provider's
    // MX host names of domains the provider hosts: "aspmx.l.google.com"
    // matches that host, ".google.com" any host ending so.
    QStringList mxHosts;
    Server imap;
    Server pop3; // empty host: no POP3
    QString oauthProvider; // the OAuth2 preset; empty when there is none
    bool appPassword = false; // a password sign-in needs an app password
    bool userIsLocalPart = false; // the user name is the address's local part
};

namespace ProviderTable {

const QList<ProviderEntry> &entries();
// The provider of the address's domain, or nullptr.
const ProviderEntry *forDomain(const QString &domain);
// The provider whose MX host names match one of `mxHosts` (the most
// specific match wins), or nullptr.
const ProviderEntry *forMxHosts(const QStringList &mxHosts);
// The provider's choices for the address, IMAP first.
QList<AccountSettings> settingsFor(const ProviderEntry &provider, const EmailAddress &address);

} // namespace ProviderTable
