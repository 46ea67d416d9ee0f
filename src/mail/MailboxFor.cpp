#include "MailOperations.h"

#include "ImapMailbox.h"
#include "Pop3Mailbox.h"
#include "ProfileRecord.h"

std::unique_ptr<MailboxSession> mailboxFor(RunStatus &status, const ProfileSettingsRecord &settings, CancelFlag &cancel,
                                           SessionOptions options)
{
    if (settings.usesImap())
        return std::make_unique<ImapMailbox>(status, settings, cancel, std::move(options), imapFoldersOf(settings));
    return std::make_unique<Pop3Mailbox>(status, settings, cancel, std::move(options));
}
