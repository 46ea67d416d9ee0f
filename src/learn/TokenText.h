#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <functional>

// Word splitting for header values, shared by the tokenizer's fields.
namespace TokenText {

using Emit = std::function<void(QByteArrayView word)>;

// ASCII words of a machine-written value (hosts, mailer names, versions):
// runs of letters, digits and ".-_/$!", lower-cased, 2 to 40 bytes. Pure
// numbers and long mixed letter-digit runs (queue ids, stamps) are left out:
// they name one message and teach nothing.
void machineWords(QByteArrayView value, const Emit &emit);

// Words of a value people read (Subject, display names): decoded from
// encoded words, UTF-8 or Latin-1, case folded. Scripts written without
// spaces (Han, Hiragana, Katakana, Thai, ...) give pairs of adjacent
// characters; other scripts give their letter runs.
void humanWords(const QString &text, const Emit &emit);

// The value as text: encoded words decoded, raw bytes read as UTF-8 when
// they are valid UTF-8, else a character a byte.
QString decoded(QByteArrayView raw);

// The charsets of the value's encoded words ("=?koi8-r?B?...?="), lower case.
void encodedCharsets(QByteArrayView raw, const Emit &emit);

// A value's shape: digits as "9", letters as "a" (upper "A"), runs of one
// class kept at most twice, other characters as they are.
QByteArray shape(QByteArrayView value, qsizetype maxBytes = 40);

// The domain of an address ("user@host.example" or "<user@host>"), lower case;
// empty when there is no "@".
QByteArray domainOf(QByteArrayView address);
// The last two labels of a domain ("mail.example.co" -> "example.co").
QByteArrayView baseDomain(QByteArrayView domain);

} // namespace TokenText
