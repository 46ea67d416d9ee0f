#include "MailProtocols.h"

#include "ImapConnectionTest.h"
#include "ImapFolderLessons.h"
#include "ImapMailbox.h"
#include "ImapWatch.h"
#include "MailProtocolKind.h"
#include "Pop3ConnectionTest.h"
#include "Pop3Mailbox.h"
#include "ProfileRecord.h"
#include "TestedMailbox.h"

namespace {

MailProtocolEntry pop3Entry()
{
    const MailProtocolFacts &facts = mailProtocolFacts(MailProtocolKind::Pop3);
    MailProtocolEntry entry;
    entry.name = facts.name;
    entry.serverWords = facts.serverWords;
    entry.mailbox = [](RunStatus &status, const ProfileSettingsRecord &settings, CancelFlag &cancel,
                       SessionOptions options) -> std::unique_ptr<MailboxSession> {
        return std::make_unique<Pop3Mailbox>(status, settings, cancel, std::move(options));
    };
    entry.connectionTest = pop3ConnectionTest;
    entry.removalDeletes = [](const ProfileSettingsRecord &) { return true; };
    entry.settlesByListing = true;
    return entry;
}

MailProtocolEntry imapEntry()
{
    const MailProtocolFacts &facts = mailProtocolFacts(MailProtocolKind::Imap);
    MailProtocolEntry entry;
    entry.name = facts.name;
    entry.serverWords = facts.serverWords;
    entry.mailbox = [](RunStatus &status, const ProfileSettingsRecord &settings, CancelFlag &cancel,
                       SessionOptions options) -> std::unique_ptr<MailboxSession> {
        return std::make_unique<ImapMailbox>(status, settings, cancel, std::move(options), imapFoldersOf(settings));
    };
    entry.connectionTest = imapConnectionTest;
    entry.removalDeletes = [](const ProfileSettingsRecord &settings) {
        return settings.ImapEmptyAction.compare(QLatin1String("Delete"), Qt::CaseInsensitive) == 0;
    };
    entry.watch = [](RunStatus &status, const ProfileSettingsRecord &settings, CancelFlag &cancel,
                     MessageClassifier classify, DeletionJournal journal,
                     SessionOptions options) -> std::unique_ptr<MailWatch> {
        return std::make_unique<ImapWatch>(status, settings, cancel, std::move(classify), std::move(journal),
                                           std::move(options));
    };
    entry.folderLessons = ImapFolderLessons::readServer;
    return entry;
}

} // namespace

MailProtocols::MailProtocols()
    : m_entries{pop3Entry(), imapEntry()}
{
}

void MailProtocols::add(MailProtocolEntry entry)
{
    for (MailProtocolEntry &known : m_entries) {
        if (known.name.compare(entry.name, Qt::CaseInsensitive) == 0) {
            known = std::move(entry);
            return;
        }
    }
    m_entries.append(std::move(entry));
}

const MailProtocolEntry &MailProtocols::of(const ProfileSettingsRecord &settings) const
{
    for (const MailProtocolEntry &entry : m_entries) {
        if (entry.name.compare(settings.MailProtocol, Qt::CaseInsensitive) == 0)
            return entry;
    }
    return m_entries.constFirst();
}

const MailProtocols &MailProtocols::builtIn()
{
    static const MailProtocols protocols;
    return protocols;
}

const MailProtocols &protocolsOf(const SessionOptions &options)
{
    return options.protocols ? *options.protocols : MailProtocols::builtIn();
}
