#include "MailOperations.h"

#include "Pop3Mailbox.h"

std::unique_ptr<MailboxSession> mailboxFor(RunStatus &status, const ProfileSettingsRecord &settings, CancelFlag &cancel,
                                           SessionOptions options)
{
    return std::make_unique<Pop3Mailbox>(status, settings, cancel, std::move(options));
}
