#pragma once

#include "MailProtocolKind.h"

#include <QString>
#include <QStringList>

// The two mail protocols as a profile stores them, and their usual ports.
inline const QString kProtocolPop3 = QStringLiteral("POP3");
inline const QString kProtocolImap = QStringLiteral("IMAP");
inline const QString kImapPlainPort = QStringLiteral("143");
inline const QString kImapTlsPort = QStringLiteral("993");

// What Empty Recycle Bin does on IMAP, as stored and as the dialog offers it.
inline const QString kEmptyToJunk = QStringLiteral("Junk");
inline const QString kEmptyToTrash = QStringLiteral("Trash");
inline const QString kEmptyDelete = QStringLiteral("Delete");
const QStringList &ImapEmptyActions(); // Junk, Trash, Delete
QString ImapEmptyActionCaption(const QString &action);

// The port to show for this protocol and security: a port that is one of
// either protocol's usual ones (110, 995, 143, 993) becomes the usual one
// of this protocol with this security; any other port is the user's choice
// and stays.
QString PortForProtocol(MailProtocolKind protocol, const QString &security, const QString &port);
