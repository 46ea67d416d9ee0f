#pragma once

#include "MailboxSession.h"
#include "Pop3Session.h"

#include <optional>

struct ProfileSettingsRecord;
class CancelFlag;
class RunStatus;

// A POP3 mailbox: STAT, UIDL and LIST to list it, TOP n 0 for a header (its
// size from LIST), the unique id and the header's digest to confirm a
// message before DELE, and QUIT to commit. With PIPELINING every run of
// commands goes out ahead of its replies, QUIT behind the last TOP when the
// session ends right after the reading.
class Pop3Mailbox : public MailboxSession {
    Q_OBJECT
public:
    Pop3Mailbox(RunStatus &status, const ProfileSettingsRecord &settings, CancelFlag &cancel,
                SessionOptions options = {}, QObject *parent = nullptr);

    MailResult open() override;
    MailResult list(MailboxListing &listing) override;
    MailResult readHeaders(const MailboxListing &listing, const HeaderSink &sink) override;
    void commitAfterReading() override;
    void listAfterOpening() override { m_listAfterOpening = true; }
    MailResult locate(const QList<MessageIdentity> &rows, QList<LocatedMessage> &found) override;
    MailResult remove(const QList<MessageKey> &keys, const RemovalSink &sink) override;
    MailResult commit() override;
    void close() override;

private:
    bool pipelining() const;
    // The result of a run of commands that ended with `outcome`.
    MailResult ended(Pop3Session::Outcome outcome) const;
    MailResult listPipelined(MailboxListing &listing);
    // Finds rows of another session by id and header: for each, the number
    // to remove it by, 0 when it cannot be confirmed, -1 when undecided.
    MailResult locateNumbers(const QList<MessageIdentity> &rows, QList<qint32> &numbers);
    // This session's key of each listed message.
    void keyListing(MailboxListing &listing) const;

    Pop3Session m_session;
    CancelFlag &m_cancel;
    int m_accepted = 0; // removals the server accepted in this session
    bool m_commitAfterReading = false;
    bool m_listAfterOpening = false;
    // How QUIT went when it was sent behind the last read; commit() judges it.
    std::optional<Pop3Session::Outcome> m_quitBehind;
};
