#pragma once

#include <QString>

// The mail protocols a profile can name, and what the user reads of each.
enum class MailProtocolKind { Pop3, Imap };

struct MailProtocolFacts {
    MailProtocolKind kind;
    QString name; // as the profile stores it: "POP3", "IMAP"
    QString serverWords; // in a sentence: "POP server", "IMAP server"
    QString serverCaption; // as a field's caption: "POP Server", "IMAP Server"
    QString plainPort; // the usual port without TLS, or with STARTTLS
    QString tlsPort; // the usual port for TLS from the first byte
};

const MailProtocolFacts &mailProtocolFacts(MailProtocolKind kind);
// The protocol a stored "MailProtocol" value names: "IMAP" in any case is
// IMAP; anything else is POP3, as every profile written before IMAP reads.
MailProtocolKind mailProtocolKind(const QString &stored);
