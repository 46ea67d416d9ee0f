#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

// Reading header fields and numbers out of text, the same for every protocol.

// The value of the first header line whose field name, at the start of the
// line, is `name` (colon included, blanks allowed before it when no line has
// the colon right after the name), compared without regard to case;
// "Priority:" is also met by "X-Priority:". An "X-From:" is never "From:".
// Continuation lines of a folded header belong to the value (the CR LF
// before their leading white space is dropped).
// Leading and trailing spaces are trimmed; raw bytes are read as UTF-8 when
// they are valid UTF-8 (HeaderBytesText); encoded words are not decoded. A
// leading "+OK" / "-ERR" status line is never a header line. The empty text
// when there is no such line. A "From :" line that is a mailbox's "From "
// envelope line (HeaderScan::isMboxEnvelope) is no sender.
QString GetHeaderValue(const QString &headers, const QString &name);
// GetHeaderValue for each of `names`, in one pass over the header.
QStringList GetHeaderValues(const QString &headers, const QStringList &names);

// The leading number of a text (optional sign, then digits), 0 when there is
// none; clamped to the 64-bit range.
qint64 LeadingNumber(QStringView text);

// A size in bytes as thousands of bytes + "K" (at least 1K), padded on the
// left with spaces to 6 characters.
QString SizeText(qint64 bytes);
