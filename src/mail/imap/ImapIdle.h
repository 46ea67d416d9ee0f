#pragma once

#include "ImapSession.h"

// How often a watch on a folder speaks to the server while nothing happens.
struct IdleIntervals {
    // IDLE is ended and issued again this often: servers may drop a client
    // idle for 30 minutes (RFC 2177).
    int renewMs = 25 * 60 * 1000;
    // Where the server lacks IDLE, a NOOP asks for news this often.
    int pollMs = 60 * 1000;
    // However a wait goes, it ends this often, so that the folder can be
    // asked directly: some servers never tell a selected folder of new mail.
    int checkMs = 2 * 60 * 1000;
};

// Waits on the folder selected in a session for the server to tell of new
// or expunged messages: with IDLE where the server offers it (and takes
// it), otherwise by a NOOP at each poll interval.
class ImapIdle {
public:
    // What the server told while waiting.
    struct News {
        qint64 exists = -1; // the last "* n EXISTS"
        int expunged = 0;

        bool any() const { return exists >= 0 || expunged > 0; }
    };

    explicit ImapIdle(ImapSession &session, IdleIntervals intervals = {});

    // One wait: until the server tells of a change, the interval (renew or
    // poll) ends, or the server ends the IDLE itself; either way the session
    // is ready for the next command (IDLE ended, with DONE where the server
    // did not end it) when it returns Completed. After a Cancel the IDLE is
    // still ended, within the cancel grace, before Cancelled.
    ImapSession::Outcome wait(News &news);
    // Whether the last wait idled (false: it polled).
    bool idled() const { return m_idled; }

private:
    ImapSession::Outcome idle(News &news);
    ImapSession::Outcome poll(News &news);

    ImapSession &m_session;
    IdleIntervals m_intervals;
    bool m_refused = false; // the server refused IDLE once: poll from then on
    bool m_idled = false;
};
