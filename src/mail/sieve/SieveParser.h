#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One item of a ManageSieve response line (RFC 5804): an atom (OK, ACTIVE),
// a string (quoted, or a literal of any bytes), or a parenthesis around a
// response code.
struct SieveItem {
    enum class Kind { Atom, String, Open, Close };
    Kind kind = Kind::Atom;
    QByteArray text;
};

// How far a server's line may go: its text outside literals, and its
// literals together (a whole script); and what a session holds of lines
// framed and not yet taken, in bytes and in items (each line counting as
// one more). Past any the conversation ends: memory stays bounded.
struct SieveLimits {
    qsizetype lineBytes = 64 * 1024;
    qsizetype literalBytes = 64 * 1024 * 1024;
    qsizetype heldBytes = literalBytes + 2 * lineBytes;
    qsizetype heldItems = heldBytes / 1024;
};

// A response as the protocol reads it: a status (OK, NO, BYE with an
// optional code and text), or a line of data (a capability, a script name,
// a script's text, a SASL challenge).
struct SieveResponse {
    enum class Kind { Ok, No, Bye, Data };
    Kind kind = Kind::Data;
    QByteArray code; // upper case, e.g. "QUOTA/MAXSIZE", "NONEXISTENT"
    QList<QByteArray> codeArguments;
    QByteArray text; // the status's human text
    QList<SieveItem> items; // a data line's items

    bool isStatus() const { return kind != Kind::Data; }
    // The data line's first string, if it starts with one.
    bool startsWithString() const { return !items.isEmpty() && items.first().kind == SieveItem::Kind::String; }
};

namespace SieveParser {

enum class Frame { Complete, Incomplete, Invalid, TooLarge };

// Takes one complete line off the front of `buffer` into `response`. A
// literal's bytes are skipped over, not copied, until all have arrived, so
// that a large script that comes in many pieces costs no more than once.
Frame take(QByteArray &buffer, const SieveLimits &limits, SieveResponse *response, QString *why);

// A string for a command: quoted where it can be, else a literal the
// client sends without waiting ("{n+}").
QByteArray string(const QByteArray &text);
QByteArray literal(const QByteArray &text);

} // namespace SieveParser
