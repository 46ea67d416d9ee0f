#pragma once

#include "FolderLessons.h"
#include "ImapSession.h"
#include "MailResult.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

class CancelFlag;
class RunStatus;

// The mail a user already sorted on an IMAP server, as lessons: the headers
// of the Junk folder (marked \Junk, else by its usual names) as spam, those
// of INBOX and of an archive folder (\Archive, else "Archive") as good mail.
// Every folder is opened read-only (EXAMINE) and read with BODY.PEEK, so no
// flag changes; only the newest messages of each (by UID) are read, so that
// a mailbox of years costs minutes at the most. Messages marked \Deleted are
// left out: they were thrown away, not kept.
class ImapFolderLessons {
public:
    // Messages read per folder, newest first: enough for the learning to
    // judge from the first day, and a bounded wait on a slow link.
    static constexpr qsizetype kNewest = 2000;
    // Headers asked for per command, and handed on per batch.
    static constexpr qsizetype kChunk = 250;

    using Folder = LessonFolder; // messages: there, not marked \Deleted
    using Sink = LessonSink; // gets each command's headers as one batch

    // On a session that is logged in; `newest` bounds each folder.
    ImapFolderLessons(ImapSession &session, RunStatus &status, CancelFlag &cancel, qsizetype newest = kNewest);

    // Finds the folders and reads them, spam first. Done also when the
    // server has no Junk folder (folders() then has none marked spam); a
    // Cancel or a stopping sink ends it with what was handed on kept.
    MailResult read(const Sink &sink);
    const QList<Folder> &folders() const { return m_folders; }

    // One session of the profile's that logs in and reads its folders.
    static MailResult readServer(RunStatus &status, const ProfileSettingsRecord &settings, CancelFlag &cancel,
                                 SessionOptions options, const Sink &sink, QList<Folder> &folders);

private:
    struct Listed {
        QByteArray name; // as commands name it
        QList<QByteArray> flags;
    };
    MailResult listFolders(QList<Listed> &listed);
    MailResult readFolder(const QByteArray &wire, Folder &folder, const Sink &sink);
    MailResult uidsOf(const QByteArray &wire, const QString &name, QList<quint32> &uids);
    MailResult ended(ImapSession::Outcome outcome);

    ImapSession &m_session;
    RunStatus &m_status;
    CancelFlag &m_cancel;
    qsizetype m_newest;
    QList<Folder> m_folders;
    bool m_stopped = false; // the sink said stop
};
