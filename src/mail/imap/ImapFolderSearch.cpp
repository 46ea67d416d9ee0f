// ImapMailbox::findTarget: the folder removals move to, as the profile names
// it, or the server's folder of its special use.
#include "ImapMailbox.h"

#include "ImapCommands.h"
#include "ImapFolderNames.h"
#include "ProfileRecord.h"

#include <utility>

namespace {

struct ListedFolder {
    QByteArray name;
    bool marked = false; // carries the special use asked for
};

} // namespace

ImapFolders imapFoldersOf(const ProfileSettingsRecord &settings)
{
    ImapFolders folders;
    if (!settings.ImapFolder.trimmed().isEmpty())
        folders.screened = settings.ImapFolder.trimmed();
    if (settings.ImapEmptyAction.compare(QLatin1String("Delete"), Qt::CaseInsensitive) == 0)
        folders.removal = ImapFolders::Removal::Delete;
    else if (settings.ImapEmptyAction.compare(QLatin1String("Trash"), Qt::CaseInsensitive) == 0)
        folders.specialUse = "\\Trash";
    folders.target = settings.ImapTargetFolder.trimmed();
    return folders;
}

void ImapMailbox::askForFolders()
{
    if (m_listId != 0 || !m_target.isEmpty() || m_folders.removal != ImapFolders::Removal::MoveToFolder
        || !m_folders.target.isEmpty())
        return;
    m_listed.clear();
    // Without SPECIAL-USE a server may still mark the folder in a plain LIST.
    m_listId = m_session.send(m_session.hasCapability("SPECIAL-USE") ? "LIST (SPECIAL-USE) \"\" \"*\""
                                                                     : "LIST \"\" \"*\"",
                              [this](const ImapResponse &r) {
                                  if (r.keyword == "LIST")
                                      m_listed.append(r);
                              });
}

MailResult ImapMailbox::findTarget()
{
    if (!m_target.isEmpty())
        return MailResult::done();
    if (!m_folders.target.isEmpty()) {
        m_target = ImapCommands::mailbox(m_folders.target);
        m_targetName = m_folders.target;
        return MailResult::done();
    }
    askForFolders();
    const ImapSession::Outcome outcome = m_session.await(std::exchange(m_listId, 0));
    if (outcome != ImapSession::Outcome::Completed)
        return ended(outcome);
    QList<ListedFolder> folders;
    for (const ImapResponse &r : std::as_const(m_listed)) {
        if (r.values.size() < 3 || r.values.at(0).kind != ImapValue::Kind::List
            || r.values.at(2).kind == ImapValue::Kind::Nil)
            continue;
        ListedFolder folder{r.values.at(2).text};
        bool selectable = true;
        for (const ImapValue &flag : r.values.at(0).items) {
            selectable = selectable && !flag.isAtom("\\Noselect") && !flag.isAtom("\\NonExistent");
            folder.marked = folder.marked || flag.isAtom(m_folders.specialUse);
        }
        if (selectable)
            folders.append(folder);
    }
    m_listed.clear();
    const ListedFolder *found = nullptr;
    for (const ListedFolder &folder : folders)
        if (!found && folder.marked)
            found = &folder;
    for (const QByteArray &usual : ImapFolderNames::usual(m_folders.specialUse))
        for (const ListedFolder &folder : folders)
            if (!found && ImapFolderNames::named(folder.name, usual))
                found = &folder;
    const std::optional<QByteArray> wire = found ? ImapCommands::quoted(found->name) : std::nullopt;
    // A folder to move to that cannot be found is a setting to put right.
    if (!wire)
        return MailResult::failure(MailOutcome::NotConfigured, QStringLiteral("Error"),
                                   QStringLiteral("The server has no folder marked %1 nor one of the usual names "
                                                  "(such as %2), so nothing was moved.\r\nChoose the folder to move "
                                                  "to in the settings.")
                                       .arg(QString::fromLatin1(m_folders.specialUse.mid(1)),
                                            QString::fromLatin1(
                                                ImapFolderNames::usual(m_folders.specialUse).join(", "))));
    m_target = *wire;
    m_targetName = ImapCommands::mailboxName(found->name);
    return MailResult::done();
}
