#pragma once

#include <QByteArrayView>
#include <QString>

// The header of a TOP reply read as the bytes the server sent, in one pass,
// without making text of the whole reply.
namespace HeaderScan {

// The fields a message's row shows.
struct ShownFields {
    QString from;
    QString subject;
    QString date;
    QString priority;
};

// From, Subject, Date and Priority of a reply, each as GetHeaderValues reads
// it: lines end at CR LF (a bare LF stays in its line); a leading "+OK" /
// "-ERR" status line is no field; the blank line ends the header; the first
// line of a field counts, its name in any case with blanks allowed before
// the colon ("Subject :") when no line of that field has the colon right
// after the name; continuation lines join its value without their CR LF;
// spaces are trimmed and the value is made text (text()). A "From :" line
// that is a mailbox's "From " envelope line (isMboxEnvelope) is no sender.
// "X-Priority:" stands in for "Priority:"; no other field has an "X-" form.
ShownFields shownFields(QByteArrayView reply);

// Whether a From value is the rest of a mailbox's "From " envelope line
// ("MAILER-DAEMON Fri Apr  6 10:00:00 2018"), as a server that mangled it
// into "From : ..." leaves it.
bool isMboxEnvelope(QStringView value);

// Header bytes as text: read as UTF-8 when they are valid UTF-8 (raw UTF-8
// headers, RFC 6532), else a character a byte, as HeaderBytesText reads
// them.
QString text(QByteArrayView raw);

// Where the line that starts at `pos` ends: at its CR LF, or at the end.
qsizetype lineEnd(QByteArrayView bytes, qsizetype pos);

} // namespace HeaderScan
