#pragma once

#include "MailOperations.h"
#include "MessageEntry.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class JsonStreamWriter;
class MessageRows;

// What a check found and, with --delete, what became of the Recycle Bin, as
// the lines and the JSON document the command line prints.
struct CheckReport {
    enum class Result { Kept, InRecycleBin, Deleted, NotDeleted, AlreadyGone };
    // A row with only what the report tells of it (the texts as sent, shared
    // with the row's entry): a mailbox of many thousands is held once.
    struct Message {
        QString sender; // shown decoded
        QString subject; // shown decoded
        QString date;
        QString size; // as the folder shows it
        QString uid;
        SortReason sortReason;
        qint64 bytes = -1;
        qint32 number = 0;
        Result result = Result::Kept;

        static Message of(const MessageEntry &entry, Result result);
    };

    QString profile;
    QList<Message> messages; // in the server's order
    bool deletionRan = false;
    int changedOnServer = 0; // Recycle Bin rows the deletion could not confirm
    QString listingNote; // how the server's listings disagreed, if they did
    // What the deletion did instead of deleting ("moved to Junk"); empty when it deleted.
    QString removalAction;

    // The two folders after a fetch, and the outcome of the deletion when
    // one ran (`left` is what the Recycle Bin still holds afterwards).
    static CheckReport fromFolders(const QString &profile, const QList<MessageEntry> &inbox,
                                   const QList<MessageEntry> &recycle);
    // The same from the folders themselves, without copying them first.
    static CheckReport fromFolders(const QString &profile, const MessageRows &inbox, const MessageRows &recycle);
    void applyDeletion(const DeletionResult &deletion, const QList<MessageEntry> &left);
    void applyDeletion(const DeletionResult &deletion, const MessageRows &left);

    int count(Result result) const;
    int inRecycleBin() const; // sorted there, whatever became of it
    int keptForReview() const; // learned spam this run left in the Inbox

    // One line per message (folder, sender, subject, date, size, rule; tab
    // between them) unless `summaryOnly`, then a summary line.
    QStringList lines(bool summaryOnly) const;
    // The same lines, each given to `out` as it is made.
    void writeLines(bool summaryOnly, const std::function<void(const QString &)> &out) const;
    // The JSON document, written to `sink` row by row as it is made (see
    // JsonStreamWriter); json() is the same bytes in one piece.
    void writeJson(const std::function<void(QByteArrayView)> &sink) const;
    // The same object as a value of a larger document.
    void writeJson(JsonStreamWriter &w) const;
    QByteArray json() const;
};
