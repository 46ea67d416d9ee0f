#include "MailProtocol.h"

#include "Profile.h"

const QStringList &ImapEmptyActions()
{
    static const QStringList actions{kEmptyToJunk, kEmptyToTrash, kEmptyDelete};
    return actions;
}

QString ImapEmptyActionCaption(const QString &action)
{
    if (action == kEmptyToTrash)
        return QStringLiteral("Move to Trash");
    if (action == kEmptyDelete)
        return QStringLiteral("Delete");
    return QStringLiteral("Move to the Junk folder");
}

QString PortForProtocol(bool imap, const QString &security, const QString &port)
{
    const QString trimmed = port.trimmed();
    for (const QString &usual : {kPlainPort, kTlsPort, kImapPlainPort, kImapTlsPort}) {
        if (trimmed == usual) {
            const bool tls = security == kSecuritySslTls;
            if (imap)
                return tls ? kImapTlsPort : kImapPlainPort;
            return tls ? kTlsPort : kPlainPort;
        }
    }
    return port;
}
