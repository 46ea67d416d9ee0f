#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

// Small parsers for POP3 replies and header listings.

// The n-th word (from 1) of a reply, words being separated by single spaces.
// A word ends at the next space; the last word ends at the next CR LF or at
// the end of the text. The empty text when the reply has fewer than n words.
QString GetReplyWord(const QString &reply, int n);

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

// A message size as a scan listing gives it ("n size", the size's word):
// decimal digits only, within 64 bits. -1, not known, for anything else: no
// word, a sign, letters, a number past 64 bits.
qint64 ListedSize(QStringView word);
// The size a "LIST n" reply gives; -1 when the server refused it or listed
// no size there.
qint64 ListReplySize(const QString &reply);

// A size in bytes as thousands of bytes + "K" (at least 1K), padded on the
// left with spaces to 6 characters.
QString SizeText(qint64 bytes);

// The lines of a positive multi-line reply between its status line and the
// terminating ".", with the dot-stuffing removed; nullopt for a reply that
// is not "+OK".
std::optional<QStringList> MultiLineBody(const QString &reply);

// The (message number, unique id) pairs of a UIDL listing, lines that are
// not "n uid" with n a positive 32-bit number left out; nullopt when the
// server refused the listing.
std::optional<QList<QPair<qint32, QString>>> ParseUidl(const QString &reply);
