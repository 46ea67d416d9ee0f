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

QString PortForProtocol(MailProtocolKind protocol, const QString &security, const QString &port)
{
    const QString trimmed = port.trimmed();
    for (const MailProtocolKind kind : {MailProtocolKind::Pop3, MailProtocolKind::Imap}) {
        const MailProtocolFacts &usual = mailProtocolFacts(kind);
        if (trimmed == usual.plainPort || trimmed == usual.tlsPort) {
            const MailProtocolFacts &facts = mailProtocolFacts(protocol);
            return security == kSecuritySslTls ? facts.tlsPort : facts.plainPort;
        }
    }
    return port;
}
