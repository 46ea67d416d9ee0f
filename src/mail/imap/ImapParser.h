#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <optional>

// One value of an IMAP response: an atom (numbers and FETCH item names such
// as BODY[HEADER] included), a string (quoted or literal, as its bytes),
// NIL, or a parenthesised list.
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
    qint64 literalBytes = 256 * 1024; // one literal (a header block)
    qint64 responseBytes = 64 * 1024 * 1024; // one response in all
    int depth = 32; // nested lists
};

// Frames complete responses out of the bytes received so far. Each call
// goes on where the last one stopped, so bytes arriving one at a time cost
// no more than bytes arriving at once; a literal is skipped by its count.
class ImapFramer {
public:
    explicit ImapFramer(ImapLimits limits = {})
        : m_limits(limits)
    {
    }

    enum class Step { Framed, NeedMore, TooLarge };
    // Framed: `buffer` starts with a complete response of `length` bytes.
    Step next(QByteArrayView buffer, qsizetype &length);
    // The response was taken off the front of the buffer (or the buffer cleared).
    void reset();
    const ImapLimits &limits() const { return m_limits; }

private:
    ImapLimits m_limits;
    qsizetype m_lineStart = 0; // where the line being scanned starts
    qsizetype m_scanned = 0; // bytes of that line looked at already
    qsizetype m_literalEnd = -1; // while a literal is awaited, where it ends
};

// Parses one framed response (CR LF and literals included); nothing when it
// is not one (the `why` says what is wrong).
std::optional<ImapResponse> parseImapResponse(QByteArrayView bytes, const ImapLimits &limits, QString *why = nullptr);
