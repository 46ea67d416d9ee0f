#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <array>
#include <cstring>
#include <functional>
#include <string_view>

// Word splitting for header values, shared by the tokenizer's fields.
namespace TokenText {

using Emit = std::function<void(QByteArrayView word)>;

// ASCII words of a machine-written value (hosts, mailer names, versions):
// runs of letters, digits and ".-_/$!", lower-cased, 2 to 40 bytes. Pure
// numbers and long mixed letter-digit runs (queue ids, stamps) are left out:
// they name one message and teach nothing; so are the names of months and
// days (a date's, which tells the season), and runs of base64 (signatures,
// encoded blobs), whose pieces are noise. A template: it runs over most of a
// header's bytes, a word at a time.
template <typename Emit>
void machineWords(QByteArrayView value, Emit &&emit);

// Words of a value people read (Subject, display names): decoded from
// encoded words, UTF-8 or Latin-1, case folded. Scripts written without
// spaces (Han, Hiragana, Katakana, Thai, ...) give pairs of adjacent
// characters; other scripts give their letter runs.
void humanWords(const QString &text, const Emit &emit);

// The same words of a value that is plain ASCII without encoded words, read
// straight from its bytes; false (nothing emitted) for any other value.
bool asciiHumanWords(QByteArrayView raw, const Emit &emit);

// The value as text: encoded words decoded, raw bytes read as UTF-8 when
// they are valid UTF-8, else a character a byte.
QString decoded(QByteArrayView raw);

// The charsets of the value's encoded words ("=?koi8-r?B?...?="), lower case.
void encodedCharsets(QByteArrayView raw, const Emit &emit);

// A value's shape: digits as "9", letters as "a" (upper "A"), runs of one
// class kept at most twice, other characters as they are; at most 64 bytes.
// Made on the stack: a header has a dozen shapes, each only read once.
class Shape {
public:
    Shape(QByteArrayView value, qsizetype maxBytes);
    operator QByteArrayView() const { return {m_bytes, m_size}; }

private:
    char m_bytes[64];
    qsizetype m_size = 0;
};
inline Shape shape(QByteArrayView value, qsizetype maxBytes = 40)
{
    return Shape(value, maxBytes);
}

// The domain of an address ("user@host.example" or "<user@host>"), lower case;
// empty when there is no "@".
QByteArray domainOf(QByteArrayView address);
// The same domain as written, not copied: for a token, lower-cased as added.
QByteArrayView domainIn(QByteArrayView address);
// The first address of a field's value ("Name <a@b>, c@d" -> "a@b"), lower
// case; empty when there is none.
QByteArray mailboxOf(QByteArrayView value);
// The time zone a Date is written in ("-0700", "EST"; a comment after it
// aside): where, or how oddly, the writer's clock was set. Empty when the
// last word is none.
QByteArrayView dateZone(QByteArrayView value);
// The last two labels of a domain ("mail.example.co" -> "example.co"), three
// under a country's own second level ("mail.bank.co.uk" -> "bank.co.uk").
QByteArrayView baseDomain(QByteArrayView domain);
// Whether an address ("10.1.2.3", "IPv6:fd00::1") is one no message enters
// the public mail from: loopback, the private and shared networks,
// link-local, and IPv6's loopback, unique local and link-local ones.
bool isPrivateAddress(QByteArrayView ip);

// Whether `text` starts with `prefix`: inline, so that a literal's bytes are
// compared in place rather than by a call into Qt and memcmp.
inline bool hasPrefix(QByteArrayView text, std::string_view prefix)
{
    return std::string_view(text.data(), size_t(text.size())).starts_with(prefix);
}

// Where `needle` first is in `text`, or -1. Found by memchr for the needle's
// byte at `key`, chosen seldom seen in the values searched ("y" of " by "),
// each hit then compared whole: a search by the first byte, a space or a
// common letter, stops at every word of the long Received values.
qsizetype find(QByteArrayView text, std::string_view needle, qsizetype key);

// QByteArrayView's indexOf() and lastIndexOf() of a byte, by memchr and
// memrchr themselves: Qt's go through its search for byte arrays, a detour
// that costs more than the search in the short values of a header.
inline qsizetype indexOf(QByteArrayView text, char c, qsizetype from = 0)
{
    if (from >= text.size())
        return -1;
    const void *at = std::memchr(text.data() + from, c, size_t(text.size() - from));
    return at ? static_cast<const char *>(at) - text.data() : -1;
}
inline qsizetype lastIndexOf(QByteArrayView text, char c)
{
    if (text.isEmpty())
        return -1;
    const void *at = memrchr(text.data(), c, size_t(text.size()));
    return at ? static_cast<const char *>(at) - text.data() : -1;
}

// QByteArrayView::trimmed() inline: the same white space (space, \t to \r)
// cut from both ends, without a call into Qt for every value and part.
inline QByteArrayView trimmed(QByteArrayView text)
{
    const auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && isSpace(text[start]))
        ++start;
    while (end > start && isSpace(text[end - 1]))
        --end;
    return text.sliced(start, end - start);
}

namespace Detail {

// Letters, digits and ".-_/$!", by byte: a table, as every header byte is
// looked up.
inline constexpr std::array<bool, 256> kWordBytes = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c) {
        table[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-'
            || c == '_' || c == '/' || c == '$' || c == '!';
    }
    return table;
}();

inline constexpr std::array<bool, 256> kBase64Bytes = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '/'
            || c == '=';
    return table;
}();

// A run of base64 this long (a folded line of a signature is 64 to 76) is a
// blob, not words; names and addresses break it with ".", "-" or "@".
constexpr qsizetype kBlobBytes = 40;

// A month's or a day's name ("Jan", "tue"); `word` is three bytes.
bool isDateName(QByteArrayView word);
bool isLongOneOff(QByteArrayView word);
// Whether a word names one message or one moment: a pure number, a date's
// name, a queue id, stamp or hash. Inline for the short words most are:
// only a number or a date's name is one then.
inline bool isOneOff(QByteArrayView word)
{
    if (word.size() >= 10)
        return isLongOneOff(word);
    if (word.size() == 3 && isDateName(word))
        return true;
    for (const char c : word) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}
// Where the base64 run at `start` ends, when it is a blob; else `start`.
// Inline: it is asked at the start of every word.
inline qsizetype blobEnd(QByteArrayView value, qsizetype start)
{
    const char *data = value.data();
    const qsizetype size = value.size();
    qsizetype end = start;
    bool plain = true; // letters and digits alone: one long word, dropped for its length anyway
    while (end < size && kBase64Bytes[quint8(data[end])]) {
        plain = plain && data[end] != '+' && data[end] != '=';
        ++end;
    }
    return end - start >= kBlobBytes && !plain ? end : start;
}

} // namespace Detail

template <typename Emit>
void machineWords(QByteArrayView value, Emit &&emit)
{
    const char *data = value.data();
    const qsizetype size = value.size();
    qsizetype i = 0;
    while (i < size) {
        const quint8 c = quint8(data[i]);
        // A blob is skipped whole, checked where its run starts.
        if (Detail::kBase64Bytes[c] && (i == 0 || !Detail::kBase64Bytes[quint8(data[i - 1])])) {
            const qsizetype blob = Detail::blobEnd(value, i);
            if (blob > i) {
                i = blob;
                continue;
            }
        }
        if (!Detail::kWordBytes[c]) {
            ++i;
            continue;
        }
        const qsizetype start = i;
        while (i < size && Detail::kWordBytes[quint8(data[i])])
            ++i;
        qsizetype end = i;
        while (end > start && (data[end - 1] == '.' || data[end - 1] == '-' || data[end - 1] == '/'))
            --end;
        const qsizetype length = end - start;
        if (length >= 2 && length <= 40 && !Detail::isOneOff(QByteArrayView(data + start, length)))
            emit(QByteArrayView(data + start, length));
    }
}

} // namespace TokenText
