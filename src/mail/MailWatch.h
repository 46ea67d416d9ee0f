#pragma once

#include "MailResult.h"
#include "MessageEntry.h"

#include <QObject>
#include <QString>

// Watches a profile's mailbox and screens each message that arrives, until
// Cancel; what it does is told as it happens.
class MailWatch : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Watches until Cancel (Cancelled) or a first connection that fails
    // (its failure).
    virtual MailResult run() = 0;

Q_SIGNALS:
    // Watching the folder (again), with IDLE or by polling.
    void watching(const QString &folder, bool idle);
    // A message was moved to `folder` ("Junk" when the server's marked
    // folder is meant).
    void moved(const MessageEntry &entry, const QString &folder);
    // Something the user should know that does not end the watch: a move
    // the server refused, a history not written, a connection lost, a
    // login refused (with its remedy).
    void trouble(const QString &text, MailReason reason = MailReason::None);
    // The next connection is tried after `delayMs`.
    void reconnecting(int delayMs);
};
