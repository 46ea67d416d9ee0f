#include "MailOperations.h"

#include "MailProtocols.h"

std::unique_ptr<MailboxSession> mailboxFor(RunStatus &status, const ProfileSettingsRecord &settings, CancelFlag &cancel,
                                           SessionOptions options)
{
    const MailProtocols &protocols = protocolsOf(options);
    return protocols.of(settings).mailbox(status, settings, cancel, std::move(options));
}
