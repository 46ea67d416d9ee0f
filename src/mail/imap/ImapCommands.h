#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

// The text of IMAP command arguments.
namespace ImapCommands {

// A string as a quoted string, or nothing when it cannot be one (CR, LF or
// NUL in it, or bytes past 7 bits): it must then go as a literal.
std::optional<QByteArray> quoted(const QByteArray &text);
// A mailbox name: ASCII as it is, anything else in modified UTF-7, quoted.
QByteArray mailbox(const QString &name);
// A mailbox name as the server writes it (modified UTF-7), for the user to
// read; a name that is not valid modified UTF-7 is shown as it came.
QString mailboxName(const QByteArray &name);
// UIDs as a set, ascending runs joined ("3:7,9,12:13"); the order of the
// list does not matter, repeats are dropped.
QByteArray uidSet(QList<quint32> uids);
// The same runs cut into sets of at most `maxBytes` each (a set is never
// empty, so a bound below one run's length still gives one run a set), each
// with the UIDs it holds: a command line must fit what the server accepts.
struct UidSetPart {
    QByteArray set;
    QList<quint32> uids;
};
QList<UidSetPart> uidSets(QList<quint32> uids, qsizetype maxBytes);
// What a set of UIDs in a command line is kept within. Every server takes
// the short bound (RFC 7162 asks clients to stay near 8,192 octets); most
// take far longer lines, and a long line one refuses (BAD: nothing was
// done) is sent again in sets within the short bound.
inline constexpr qsizetype kUidSetBytes = 8000;
inline constexpr qsizetype kLongUidSetBytes = 60000;
// A set as the server writes it ("3:7,9", a run's ends in either order), as
// runs that can be asked whether they hold a UID, without spelling out a
// run the server may make as long as it likes. Empty for a malformed set.
struct UidRuns {
    QList<std::pair<quint32, quint32>> runs;
    bool contains(quint32 uid) const;
};
UidRuns parseUidSet(QByteArrayView text);

// A row's identity as the mailbox gives it: "UIDVALIDITY/UID".
QString identity(quint32 uidValidity, quint32 uid);
struct Identity {
    quint32 uidValidity = 0;
    quint32 uid = 0;
};
std::optional<Identity> parseIdentity(const QString &text);

} // namespace ImapCommands
