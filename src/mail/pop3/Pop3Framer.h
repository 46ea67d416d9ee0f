#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

// Cuts POP3 replies off the front of what has arrived, in the order of the
// commands that are owed one: a status line, or a multi-line reply ended by
// CR LF "." CR LF (dot-stuffed lines stay as they are). Each byte is searched
// once, so a reply arriving a byte at a time costs no more than one in a
// piece. A reply longer than its bound (a status line, a listing, any
// other) breaks the conversation, and so does one that does not begin with
// a status indicator: every later reply would be taken for the wrong command.
class Pop3Framer {
public:
    static constexpr qint16 kSingleReply = 1;
    static constexpr qint16 kMultiLineReply = 9;
    // A multi-line listing (UIDL, LIST): read whole, up to the listing limit.
    static constexpr qint16 kListingReply = 10;
    // A multi-line reply (TOP, CAPA) longer than this keeps its first part only.
    static constexpr qsizetype kReplyCap = 256 * 1024;
    // A status line longer than this is no POP3 reply (the protocol allows 512).
    static constexpr qsizetype kStatusLineCap = 64 * 1024;

    struct Limits {
        qint64 listingBytes = 64 * 1024 * 1024;
        qint64 replyBytes = 64 * 1024 * 1024;
    };
    // A command whose reply is owed.
    struct Expected {
        quint64 sequence;
        qint16 mode;
        bool keep = false; // sent ahead: its reply is kept until asked for
        QByteArray command = {}; // its first word, to name it when it fails
    };
    // Why the conversation cannot go on.
    struct Break {
        QString text;
        bool outOfStep = false; // the replies no longer match the commands
    };
    using Sink = std::function<void(const Expected &, QByteArray reply)>;

    explicit Pop3Framer(Limits limits)
        : m_limits(limits)
    {
    }

    void expect(const Expected &expected) { m_pending.append(expected); }
    // Forgets the replies owed and the one in progress.
    void clear();
    // Hands every complete reply at the front of `buffer` to `sink`, oldest
    // first, and removes it; what is left is the start of the next reply.
    // On a break nothing more is taken and the buffer is left as it is.
    std::optional<Break> frame(QByteArray &buffer, const Sink &sink);

private:
    std::optional<QByteArray> nextReply(QByteArray &buffer, qsizetype &pos);
    std::optional<QByteArray> overflowing(QByteArray &buffer, qsizetype &pos);
    bool statusLineFound(QByteArray &buffer, qsizetype &pos);
    void unfinished(QByteArray &buffer, qsizetype &pos);
    static QByteArray cut(QByteArray &buffer, qsizetype &pos, qsizetype end);
    void compact(QByteArray &buffer, qsizetype &pos);
    void resetReply();
    void fail(const QString &text, bool outOfStep = false);
    QString tooLarge() const;

    Limits m_limits;
    QList<Expected> m_pending; // replies still to come, oldest first
    // The reply in progress, which starts at the front of the buffer between
    // calls, so what is known about it is kept relative to its start:
    qsizetype m_scanned = 0; // its bytes searched for its end already
    qsizetype m_lineEnd = -1; // where its status line's CR LF is; -1 not yet
    qint64 m_replyBytes = 0; // its bytes so far, dropped ones included
    bool m_overflow = false; // it passed the cap
    QByteArray m_kept; // its first part, while overflowing
    std::optional<Break> m_break;
};
