#pragma once

#include <QByteArrayView>
#include <QString>

// GetField: field `fieldNumber` (from 0) of `text` cut at a one-character
// delimiter; the empty text for a number out of range, an empty text or an
// empty delimiter. Never fails.
QString GetField(const QString &delimiter, const QString &text, int fieldNumber);

// ReplaceText: replaces occurrences of `search` from position `start` (from 1),
// at most `count` times (-1: no limit), comparing exactly (mode 0) or ignoring
// case (mode 1). A replacement is never searched again. A start below 1 throws
// std::invalid_argument.
QString ReplaceText(const QString &text, const QString &search, const QString &replacement, int start, int count,
                    int compareMode);

// The text without leading and trailing spaces. Only the space character is
// removed: a tab or other white space typed into a password or a rule is kept.
QString TrimSpaces(QStringView text);

// The rule value "*@" + the domain of the Sender text's address
// (SenderAddress); "*@" alone when the text holds no address.
QString DomainRule(const QString &sender);

// Header text as it came off the wire, one character per byte (as the POP3
// session reads it): read as UTF-8 when the bytes are valid UTF-8 (raw UTF-8
// headers, RFC 6532), else as Latin-1, as they are. A text holding a
// character above U+00FF is already text and comes back unchanged.
QString HeaderBytesText(const QString &bytes);

// UTF-8 bytes as text, every character kept: a leading U+FEFF is a
// character of the value, where QString::fromUtf8 takes it for a byte-order
// mark and drops it.
QString Utf8Text(QByteArrayView utf8);
