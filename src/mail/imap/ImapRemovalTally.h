#pragma once

#include "ImapCommands.h"
#include "MailboxSession.h"

#include <QHash>
#include <QList>
#include <optional>

// What the server did with each UID a removal asked it to remove, from its
// own answers: the removal commands' completions, the COPYUID they carry
// (MOVE and COPY with UIDPLUS name the UIDs they really took), and a search
// of the asked UIDs after them. An accepted command alone says little: a
// server answers OK to a move of UIDs that are no longer there.
class ImapRemovalTally {
public:
    // `leftFlagged`: the removal only marks messages \Deleted (no UIDPLUS),
    // so a message still there and marked is one it removed.
    ImapRemovalTally(const QList<quint32> &uids, bool leftFlagged);

    // A command over `uids` was answered: accepted or refused.
    void answered(const QList<quint32> &uids, bool accepted);
    // A COPYUID response code's arguments: "<validity> <source set> <target set>".
    void copied(QByteArrayView arguments);
    // The search after the removal: these UIDs are still in the folder
    // (`flagged`: and marked \Deleted).
    void stillThere(quint32 uid, bool flagged = false);
    void searched() { m_searched = true; }

    // The answer for `uid`; none while no answer of the server decides it.
    std::optional<RemovalAnswer> answer(quint32 uid) const;

private:
    struct State {
        int command = -1; // which answered() covered it; -1: none yet
        bool accepted = false;
        bool copied = false;
        bool there = false;
        bool flagged = false;
    };
    QHash<quint32, State> m_states;
    QList<bool> m_reported; // per command: a COPYUID named some of its UIDs
    bool m_leftFlagged;
    bool m_searched = false;
};
