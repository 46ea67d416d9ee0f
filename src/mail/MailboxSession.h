#pragma once

#include "MailResult.h"
#include "MessageKey.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QRandomGenerator>
#include <QString>
#include <functional>
#include <optional>

// One message as a mailbox lists it.
struct ListedMessage {
    qint32 number = 0; // its place in the listing, as the row's number shows it
    QString uid; // its unique id; empty when the listing gives it none of its own
    qint64 bytes = -1; // the size the server lists; -1 until known
    MessageKey key; // what this session reads and removes it by
};

// What a mailbox names when asked what waits in it.
struct MailboxListing {
    // Every message any of the server's listings names, by number.
    QList<ListedMessage> messages;
    // Whether there was a listing at all. Without one the messages are
    // numbered 1 to `count` (the server's count), and the first message that
    // cannot be read is past the last one.
    bool listed = true;
    qint64 count = 0;
    // How the server's listings disagree, or what else the end text should
    // say of the listing; empty when there is nothing to say.
    QString disagreement;

    qint64 size() const { return listed ? messages.size() : count; }
    ListedMessage at(qsizetype k) const { return listed ? messages.at(k) : ListedMessage{qint32(k + 1), {}, -1, {}}; }
};

// A header as it arrived, for the message at `index` of the listing.
// `header` is the raw reply of the server, as the bytes came; `refused` when it would not give
// the header (the row keeps empty texts); `sized` whether its size could
// be had (reading ends after a message without one), `bytes` that size.
// Returns false to stop reading.
struct ArrivedHeader {
    qsizetype index;
    QByteArray header;
    bool refused = false;
    bool sized = false;
    qint64 bytes = -1;
    // The row as the reading found it, where the listing could only count
    // the messages (one command lists and reads them); else the listing's.
    std::optional<ListedMessage> listed = std::nullopt;
};
using HeaderSink = std::function<bool(const ArrivedHeader &)>;

// What a removal needs to find a row's message again and confirm it is the
// same message: the identity the fetch gave it.
struct MessageIdentity {
    MessageKey key; // the fetch session's; only that session reads it
    qint32 number = 0;
    QString uid;
    QByteArray digest; // of its header block; empty when it was never read
};

// What locate() found of one row: Undecided when a Cancel or failure came
// first, Changed when it cannot be confirmed (changed, gone, or ambiguous),
// Found with the key to remove it by.
struct LocatedMessage {
    enum class State { Undecided, Changed, Found };
    State state = State::Undecided;
    MessageKey key;
};

// What the server did with one removal: Removed, Refused, or Gone when the
// message had left the folder before the removal reached it (another client
// removed it meanwhile), or its key was not this session's to act on.
enum class RemovalAnswer { Removed, Refused, Gone };
// Tells, for the removal at `index` of the list asked for, what the server did.
using RemovalSink = std::function<void(qsizetype index, RemovalAnswer answer)>;

// A mailbox on a server, as the screening sees it: one session, from open()
// to close(). Every call may wait for the server; each returns how it went
// (a Cancel raised meanwhile ends it as Cancelled). The protocols implement
// it; the screening (fetch, confirmed removal) is written once above it.
class MailboxSession : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Connects, secures the channel as the profile asks, and logs in.
    virtual MailResult open() = 0;
    // The messages waiting now.
    virtual MailResult list(MailboxListing &listing) = 0;
    // Reads the header of each message of the listing in order and hands it
    // to `sink` as it arrives.
    virtual MailResult readHeaders(const MailboxListing &listing, const HeaderSink &sink) = 0;
    // Says that commit() follows the next readHeaders() with nothing in
    // between, so that the session's end may go out behind the last read
    // instead of a round trip later. commit() still tells how it went.
    virtual void commitAfterReading() { }
    // Says that nothing but commit() or close() follows the next remove(),
    // so that a session whose removals act at once may send its end behind
    // the last one. commit() still tells how it went.
    virtual void commitAfterRemoving() { }
    // Says, before open(), that list() follows it, so that the listing may
    // be asked for behind the login instead of a round trip later.
    virtual void listAfterOpening() { }
    // Finds each row's message again and confirms it by its identity, the
    // same way in the session that listed the rows (their keys are then its
    // own) as in a later one. A key is given to one row at most.
    virtual MailResult locate(const QList<MessageIdentity> &rows, QList<LocatedMessage> &found) = 0;
    // Asks the server to remove these messages, in this order, telling the
    // sink of each answer. Only keys this session made are acted on; any
    // other is answered Gone. A Cancel stops the asking; removals asked
    // already keep their answers. Done or Cancelled when every answer came
    // (commit() may follow); any other kind when answers are missing: the
    // session must then close without committing.
    virtual MailResult remove(const QList<MessageKey> &keys, const RemovalSink &sink) = 0;
    // Whether a removal acts as soon as the server accepts it (IMAP) rather
    // than when the session is committed (POP3): what is about to be removed
    // must then be recorded before remove() is asked.
    virtual bool removesAtOnce() const { return false; }
    // What the last remove() did with the messages, as the user reads it
    // after a count ("moved to Junk"); empty when it deleted them.
    virtual QString removalAction() const { return {}; }
    // Ends the session so that the server carries out the removals it
    // accepted. Done when the server confirmed them; otherwise whether it did
    // is unknown (the text says why).
    virtual MailResult commit() = 0;
    // Closes the connection at once; removals not committed are not carried out.
    virtual void close() = 0;

Q_SIGNALS:
    // The event loop is about to run: what has been gathered for the window
    // should be shown now.
    void aboutToWait();

protected:
    // Keys of this session, and what a key holds when this session made it.
    MessageKey makeKey(quint64 value) const { return MessageKey(m_issuer, value); }
    std::optional<quint64> keyValue(const MessageKey &key) const
    {
        return !key.isNull() && key.m_issuer == m_issuer ? std::optional<quint64>(key.m_value) : std::nullopt;
    }

private:
    // Drawn at random, never 0: a session's keys are told from those of
    // every other session, also of one made at the same address later.
    const quint64 m_issuer = QRandomGenerator::global()->generate64() | 1;
};
