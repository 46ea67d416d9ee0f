#include "MailProtocolKind.h"

const MailProtocolFacts &mailProtocolFacts(MailProtocolKind kind)
{
    static const MailProtocolFacts pop3{MailProtocolKind::Pop3,       QStringLiteral("POP3"),
                                        QStringLiteral("POP server"), QStringLiteral("POP Server"),
                                        QStringLiteral("110"),        QStringLiteral("995")};
    static const MailProtocolFacts imap{MailProtocolKind::Imap,        QStringLiteral("IMAP"),
                                        QStringLiteral("IMAP server"), QStringLiteral("IMAP Server"),
                                        QStringLiteral("143"),         QStringLiteral("993")};
    return kind == MailProtocolKind::Imap ? imap : pop3;
}

MailProtocolKind mailProtocolKind(const QString &stored)
{
    return stored.compare(QLatin1String("IMAP"), Qt::CaseInsensitive) == 0 ? MailProtocolKind::Imap
                                                                           : MailProtocolKind::Pop3;
}
