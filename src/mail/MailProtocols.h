#pragma once

#include "FolderLessons.h"
#include "MailOperations.h"
#include "SessionOptions.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>

class CancelFlag;
class MailWatch;
class MailboxSession;
class RunStatus;
class TestedMailbox;
struct ProfileSettingsRecord;

// Everything the protocol-neutral layer needs of one mail protocol. A new
// protocol is a folder beside pop3/ and imap/ and one entry here.
struct MailProtocolEntry {
    using Make = std::function<std::unique_ptr<MailboxSession>(RunStatus &, const ProfileSettingsRecord &, CancelFlag &,
                                                               SessionOptions)>;
    using MakeTest = std::function<std::unique_ptr<TestedMailbox>(RunStatus &, const ProfileSettingsRecord &,
                                                                  CancelFlag &, SessionOptions)>;

    QString name; // the stored "MailProtocol" value it answers to, in any case
    QString serverWords; // the server as a sentence names it: "POP server"
    Make mailbox; // the mailbox for one session of a run
    MakeTest connectionTest; // the steps of Test Connection
    // Whether emptying the Recycle Bin deletes for this profile (rather than
    // moving to a folder, which the user can undo).
    std::function<bool(const ProfileSettingsRecord &)> removalDeletes;
    // Whether a fetch's listing of unique ids can settle the deletions an
    // earlier run left unconfirmed (gone from it: carried out).
    bool settlesByListing = false;
    // A watch of the mailbox for new mail (--watch); empty when the
    // protocol cannot wait for mail to arrive.
    std::function<std::unique_ptr<MailWatch>(RunStatus &, const ProfileSettingsRecord &, CancelFlag &,
                                             MessageClassifier, DeletionJournal, SessionOptions)>
        watch;
    // Reads the folders the user sorted mail into, as lessons; empty for a
    // protocol whose server keeps no such folders.
    ReadFolderLessons folderLessons;
};

// The protocols a run can speak, looked up by the profile's stored name.
class MailProtocols {
public:
    // POP3 and IMAP.
    MailProtocols();
    // Adds a protocol, or replaces the one of the same name.
    void add(MailProtocolEntry entry);
    // The profile's protocol; POP3 for a name none answers to, as a profile
    // written before there was a choice reads.
    const MailProtocolEntry &of(const ProfileSettingsRecord &settings) const;

    static const MailProtocols &builtIn();

private:
    QList<MailProtocolEntry> m_entries;
};

// The protocols `options` name, else the built-in ones.
const MailProtocols &protocolsOf(const SessionOptions &options);
