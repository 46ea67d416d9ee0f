#pragma once

#include "ImapCommands.h"
#include "ImapRemovalTally.h"
#include "ImapSession.h"
#include "MailboxSession.h"

#include <QSet>

struct ProfileSettingsRecord;
class CancelFlag;
class RunStatus;

// Which folder is screened, and what removing a message does there.
struct ImapFolders {
    enum class Removal { MoveToFolder, Delete };
    QString screened = QStringLiteral("INBOX");
    Removal removal = Removal::MoveToFolder;
    // Where MoveToFolder puts them; empty: the server's folder of this
    // special use (\\Junk or \\Trash), found by SPECIAL-USE or else by its
    // usual names.
    QString target;
    QByteArray specialUse = "\\Junk";
};

// The folders a profile names.
ImapFolders imapFoldersOf(const ProfileSettingsRecord &settings);

// An IMAP mailbox: one folder, screened without side effects and emptied
// by UID. The fetch opens the folder read-only (EXAMINE) and reads headers
// with BODY.PEEK, so no flag changes; messages another client (or an
// earlier run on a server without UIDPLUS) marked \Deleted are left out. A
// row's uid is "UIDVALIDITY/UID", and so is its key: never its sequence
// number, which another client's expunge shifts. Before anything is removed,
// in the fetch's session or a later one, SELECT must name the same
// UIDVALIDITY and a search must find each UID still there. A removal is a
// UID MOVE where the server offers it, else UID COPY, STORE \Deleted and
// UID EXPUNGE of exactly those UIDs (never a plain EXPUNGE, which would also
// remove what other programs marked); each acts at once, so commit() only
// logs out, and what was removed is what the server's answers say.
class ImapMailbox : public MailboxSession {
    Q_OBJECT
public:
    ImapMailbox(RunStatus &status, const ProfileSettingsRecord &settings, CancelFlag &cancel,
                SessionOptions options = {}, ImapFolders folders = {}, QObject *parent = nullptr);
    // Over the connection given, e.g. an in-memory one.
    ImapMailbox(std::unique_ptr<MailConnection> connection, RunStatus &status, const ProfileSettingsRecord &settings,
                CancelFlag &cancel, SessionOptions options = {}, ImapFolders folders = {}, QObject *parent = nullptr);

    MailResult open() override;
    MailResult list(MailboxListing &listing) override;
    MailResult readHeaders(const MailboxListing &listing, const HeaderSink &sink) override;
    MailResult locate(const QList<MessageIdentity> &rows, QList<LocatedMessage> &found) override;
    MailResult remove(const QList<MessageKey> &keys, const RemovalSink &sink) override;
    void listAfterOpening() override { m_listAhead = true; }
    void commitAfterReading() override { m_logoutAfterReading = true; }
    bool removesAtOnce() const override { return true; }
    void commitAfterRemoving() override { m_logoutAhead = true; }
    MailResult commit() override;
    void close() override;
    QString removalAction() const override;

    const ImapSession &session() const { return m_session; }
    // For a watch that idles on the folder between removals (ImapWatch).
    ImapSession &session() { return m_session; }

private:
    using MakeCommand = std::function<QByteArray(qsizetype chunk)>;
    // Called as each chunk's command completes, in order; false stops sending
    // more. The chunks go out ahead of their answers (PipelinedCommands).
    using ChunkDone = std::function<bool(qsizetype chunk)>;
    // `afterLast` is called once the last chunk's command went out.
    ImapSession::Outcome runChunks(qsizetype count, const MakeCommand &make, const ImapSession::DataHandler &data,
                                   const ChunkDone &done, MailConnection::CancelMode mode,
                                   const std::function<void()> &afterLast = {});
    MailResult ended(ImapSession::Outcome outcome) const;
    // ImapMailboxFetch.cpp: the listing and the headers in one FETCH, its
    // answers taken as they arrive.
    void sendListing();
    void takeFetched(const ImapResponse &response);
    void hand(ArrivedHeader arrived);
    MailResult fetchEnded(ImapSession::Outcome outcome, const MailboxListing &listing);
    QString unreadRows();
    MailResult selectForChanges();
    quint64 sendSelect(); // 0 when it could not be sent
    MailResult judgeSelect(quint64 id);
    MessageKey keyOf(quint32 uidValidity, quint32 uid) const;
    std::optional<ImapCommands::Identity> identityOf(const MessageIdentity &row) const;
    // `refusedLong` gets the UIDs of long lines the server refused for their length.
    MailResult moveAll(const QList<ImapCommands::UidSetPart> &chunks, ImapRemovalTally &tally, bool logoutAhead,
                       QList<quint32> *refusedLong = nullptr);
    MailResult removeChunk(const ImapCommands::UidSetPart &part, ImapRemovalTally &tally);
    MailResult verify(const QList<quint32> &uids, ImapRemovalTally &tally, bool leftFlagged, bool logoutAhead);
    QString unreadNote(const QList<quint32> &uids) const;
    // ImapFolderSearch.cpp. The LIST that finds the target folder may go
    // out ahead (askForFolders), before the folder is needed.
    void askForFolders();
    MailResult findTarget();
    QString folderName() const { return m_folders.screened; }

    ImapSession m_session;
    CancelFlag &m_cancel;
    ImapFolders m_folders;
    quint32 m_uidValidity = 0; // as the listing's EXAMINE named it
    quint32 m_selectedValidity = 0; // as the last SELECT's answer names it
    // The one FETCH that lists the folder and reads its headers.
    struct Reading {
        quint64 examine = 0; // the EXAMINE and the FETCH sent, 0 when not (yet)
        quint64 fetch = 0;
        qint64 exists = -1; // as the EXAMINE names it
        qsizetype answered = 0; // messages the FETCH told of so far
        qint32 numbered = 0; // of them, rows handed on
        int markedDeleted = 0; // of them, marked \Deleted: left out
        QSet<quint32> taken; // their UIDs
        QHash<quint32, qint64> sizedOnly; // UIDs whose size came without a header yet
        QList<ArrivedHeader> early; // arrived before readHeaders() took them
        const HeaderSink *sink = nullptr;
        bool stopped = false; // the sink wants no more
    };
    Reading m_reading;
    bool m_listAhead = false; // list() follows open(): its FETCH goes out behind the login
    bool m_logoutAfterReading = false; // commit() follows readHeaders()
    quint64 m_listId = 0; // the LIST sent ahead and not yet awaited
    QList<ImapResponse> m_listed; // its folders
    bool m_selected = false; // the folder is open for changes
    QString m_note; // what a removal wants the user to know
    bool m_logoutAhead = false; // commit() follows the next remove()
    bool m_abandoned = false; // a Cancel left answers to reads owed
    quint64 m_logout = 0; // the LOGOUT sent behind the last move
    QByteArray m_target; // the target folder as commands name it
    QString m_targetName; // and as the user reads it
};
