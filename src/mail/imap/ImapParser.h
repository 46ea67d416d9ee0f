#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

// One value of an IMAP response: an atom (numbers and FETCH item names such
// as BODY[HEADER] included), a string (quoted or literal, as its bytes),
// NIL, or a parenthesised list. An atom's or a literal's text shares the
// storage of the bytes it arrived in rather than being copied out of them:
// a value kept for long keeps that storage (copy the text to keep it), and
// the text has no terminating NUL.
struct ImapValue {
    enum class Kind { Atom, String, Nil, List };
    Kind kind = Kind::Nil;
    QByteArray text; // an atom's or a string's bytes
    QList<ImapValue> items; // a list's values

    bool isAtom(QByteArrayView name) const;
    // An atom of digits as a number; -1 when it is not one.
    qint64 number() const;
};

// One complete response of the server.
struct ImapResponse {
    enum class Kind { Tagged, Untagged, Continuation };
    Kind kind = Kind::Untagged;
    QByteArray tag; // of a tagged response
    // OK, NO, BAD, BYE or PREAUTH for a status response; for untagged data
    // its keyword (EXISTS, EXPUNGE, FETCH, CAPABILITY, SEARCH, LIST, ...).
    // Upper case.
    QByteArray keyword;
    qint64 number = -1; // the n of "* n EXISTS", "* n EXPUNGE", "* n FETCH"
    QByteArray code; // a status response's code, upper case ("UIDVALIDITY")
    QByteArray codeArguments; // what follows the code inside its brackets
    QByteArray text; // a status response's (or continuation's) human text
    QList<ImapValue> values; // a data response's values after its keyword

    bool isStatus() const;
    // A FETCH item's value ("UID", "RFC822.SIZE", "BODY[HEADER]"), or none.
    const ImapValue *fetchItem(QByteArrayView name) const;
};

// How large a response may be. A server that goes past a bound is not
// talked to any further: memory must stay bounded whatever it sends.
struct ImapLimits {
    qint64 lineBytes = 64 * 1024 * 1024; // one line between literals
    // A literal longer than this (a header block) keeps its first part only.
    qint64 literalBytes = 256 * 1024;
    qint64 responseBytes = 64 * 1024 * 1024; // one response in all, dropped bytes included
    int depth = 32; // nested lists
};

// A complete response where it lies in the arrived bytes, CR LF and the
// kept part of its literals included.
struct ImapFramed {
    // A literal cut to the bound: where its kept bytes start in the response
    // and how many there are; the bytes past them were never kept.
    struct Cut {
        qsizetype at;
        qsizetype kept;
    };
    const QByteArray *buffer = nullptr;
    qsizetype start = 0;
    qsizetype length = 0;
    QList<Cut> cuts;

    QByteArrayView bytes() const { return QByteArrayView(*buffer).sliced(start, length); }
};

// Frames complete responses out of the bytes as they arrive. The search
// for line ends goes on where the last one stopped and literals are skipped
// by their count, so each byte is looked at once however the bytes are cut;
// the bytes of a literal past its bound are dropped as they arrive.
class ImapFramer {
public:
    explicit ImapFramer(ImapLimits limits = {})
        : m_limits(limits)
    {
    }

    enum class End { NeedMore, Stopped, TooLarge };
    // Returns false to stop: the buffer is then left as it is.
    using Sink = std::function<bool(const ImapFramed &)>;
    // Hands every complete response at the front of `buffer` to `sink`,
    // oldest first, then removes them in one go: what is left is the start
    // of the next response. The sink may not change the buffer. TooLarge:
    // a bound was passed, nothing more is framed.
    End frame(QByteArray &buffer, const Sink &sink);
    // Forgets the response in progress (the buffer was cleared).
    void reset();
    const ImapLimits &limits() const { return m_limits; }

private:
    enum class Step { Framed, NeedMore, TooLarge };
    Step next(QByteArray &buffer, qsizetype from, qsizetype &length);
    Step literalArrived(QByteArray &buffer, qsizetype from);

    ImapLimits m_limits;
    // What is known of the response in progress, relative to its start:
    qsizetype m_lineStart = 0; // where the line being scanned starts
    qsizetype m_scanned = 0; // bytes of that line looked at already
    qsizetype m_literalEnd = -1; // while a literal is awaited, where its kept part ends
    qint64 m_dropping = 0; // bytes of that literal still to drop
    qint64 m_dropped = 0; // bytes of the response dropped so far
    QList<ImapFramed::Cut> m_cuts;
};

// Parses one framed response; nothing when it is not one (the `why` says
// what is wrong).
std::optional<ImapResponse> parseImapResponse(const ImapFramed &framed, const ImapLimits &limits,
                                              QString *why = nullptr);
