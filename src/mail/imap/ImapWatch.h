#pragma once

#include "ImapIdle.h"
#include "ImapMailbox.h"
#include "MailOperations.h"
#include "MailWatch.h"

// Watches one IMAP profile's screened folder and screens each message that
// arrives after the watch started, as the fetch sorts: its header is read
// (BODY.PEEK, so no flag changes) and classified by the rules; a filter hit
// is moved to the profile's folder and recorded in the deletion history.
// Nothing is ever deleted unattended: a profile whose Empty Recycle Bin
// deletes moves to its Trash instead. Waits with IDLE (or NOOP polls, see
// ImapIdle). A lost connection is made again after a delay that doubles
// from the first to the longest and starts over after a session that
// waited well; messages that arrived meanwhile are screened then, unless
// the folder was renumbered (UIDVALIDITY). A first connection that fails
// ends the watch: the settings or the server are wrong, not the network.
class ImapWatch : public MailWatch {
    Q_OBJECT
public:
    struct Delays {
        int firstMs = 2000;
        int longestMs = 5 * 60 * 1000;
    };

    ImapWatch(RunStatus &status, const ProfileSettingsRecord &settings, CancelFlag &cancel, MessageClassifier classify,
              DeletionJournal journal, SessionOptions options = {}, QObject *parent = nullptr);

    void setIntervals(IdleIntervals intervals) { m_intervals = intervals; }
    void setDelays(Delays delays) { m_delays = delays; }

    // Watches until Cancel (Cancelled, after LOGOUT when connected) or a
    // first connection that fails (its failure).
    MailResult run() override;

    // The folders a filter hit goes to, as the profile names them.
    const ImapFolders &folders() const { return m_folders; }

private:
    // How far one connection got.
    struct Reached {
        bool selected = false; // logged in, the folder open
        bool waitedWell = false; // and a wait ended as it should
    };
    MailResult watchOnce(Reached &reached);
    MailResult selectFolder(ImapSession &session);
    // Asks the folder's UIDNEXT, and opens the folder again when mail came
    // that the server did not tell of.
    MailResult refreshWhenStale(ImapSession &session);
    // ImapWatchScreening.cpp
    MailResult screenArrivals(ImapMailbox &mailbox);
    MailResult moveHits(ImapMailbox &mailbox, const QList<MessageEntry> &hits);
    MessageEntry entryOf(const ImapResponse &response, quint32 uid) const;
    QString targetName() const;
    bool pause(int ms);

    RunStatus &m_status;
    const ProfileSettingsRecord &m_settings;
    CancelFlag &m_cancel;
    MessageClassifier m_classify;
    DeletionJournal m_journal;
    SessionOptions m_options;
    ImapFolders m_folders;
    IdleIntervals m_intervals;
    Delays m_delays;
    quint32 m_uidValidity = 0;
    quint32 m_nextUid = 0; // 0 until the first SELECT told it
};
