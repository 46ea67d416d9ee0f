#include "TokenText.h"

#include "HeaderDisplay.h"
#include "HeaderTokens.h"

#include <QStringDecoder>
#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

// A month's or a day's name is part of a date: it tells when a message was
// written or passed by, not who sent it, and would teach the season.
bool TokenText::Detail::isDateName(QByteArrayView word)
{
    static constexpr std::string_view kNames[] = {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct",
                                                  "nov", "dec", "mon", "tue", "wed", "thu", "fri", "sat", "sun"};
    char lower[3];
    for (int i = 0; i < 3; ++i)
        lower[i] = TokenList::lowered(word[i]);
    return std::find(std::begin(kNames), std::end(kNames), std::string_view(lower, 3)) != std::end(kNames);
}

// Queue ids, stamps and hashes: long, and mixing letters with digits often.
bool TokenText::Detail::isLongOneOff(QByteArrayView word)
{
    int digits = 0;
    int switches = 0;
    bool lastDigit = word[0] >= '0' && word[0] <= '9';
    for (const char c : word) {
        const bool digit = c >= '0' && c <= '9';
        digits += digit;
        if (digit != lastDigit && ++switches >= 4)
            return true; // a hash: the rest cannot undo it
        lastDigit = digit;
    }
    return digits == word.size() || digits * 3 >= word.size();
}

namespace {

bool isUnspacedScript(QChar::Script script)
{
    switch (script) {
    case QChar::Script_Han:
    case QChar::Script_Hiragana:
    case QChar::Script_Katakana:
    case QChar::Script_Thai:
    case QChar::Script_Lao:
    case QChar::Script_Khmer:
    case QChar::Script_Myanmar:
        return true;
    default:
        return false;
    }
}

} // namespace

namespace {

// A character as UTF-8, as QString::toUtf8() writes it; never a surrogate
// (humanWords() skips those), so at most three bytes.
qsizetype putUtf8(char16_t u, char *out)
{
    if (u < 0x80) {
        out[0] = char(u);
        return 1;
    }
    if (u < 0x800) {
        out[0] = char(0xc0 | (u >> 6));
        out[1] = char(0x80 | (u & 0x3f));
        return 2;
    }
    out[0] = char(0xe0 | (u >> 12));
    out[1] = char(0x80 | ((u >> 6) & 0x3f));
    out[2] = char(0x80 | (u & 0x3f));
    return 3;
}

} // namespace

void TokenText::humanWords(const QString &text, const Emit &emit)
{
    const QString folded = text.toCaseFolded();
    // The word's first 24 characters, as UTF-8 on the stack, and its length.
    constexpr qsizetype kKept = 24;
    char word[kKept * 3];
    qsizetype bytes = 0;
    qsizetype length = 0;
    char16_t first = 0;
    QChar previousUnspaced;
    auto flush = [&] {
        if (length >= 2 || (length == 1 && first > 0x2e7f))
            emit(QByteArrayView(word, bytes));
        bytes = length = 0;
    };
    char one[6];
    for (const QChar c : folded) {
        if (c.isSurrogate())
            continue; // rare in subjects; a lone half would make invalid UTF-8
        if (isUnspacedScript(c.script())) {
            flush();
            qsizetype size = 0;
            if (!previousUnspaced.isNull())
                size = putUtf8(previousUnspaced.unicode(), one);
            size += putUtf8(c.unicode(), one + size);
            emit(QByteArrayView(one, size));
            previousUnspaced = c;
            continue;
        }
        previousUnspaced = QChar();
        if (c.isLetterOrNumber() || c == u'$' || c == u'\'') {
            if (length == 0)
                first = c.unicode();
            if (length < kKept)
                bytes += putUtf8(c.unicode(), word + bytes);
            ++length;
        } else {
            flush();
            if (c == u'!' || c == u'$' || c == u'%')
                emit(QByteArrayView(one, putUtf8(c.unicode(), one)));
        }
    }
    flush();
}

bool TokenText::asciiHumanWords(QByteArrayView raw, const Emit &emit)
{
    for (const char c : raw) {
        if (quint8(c) >= 0x80)
            return false;
    }
    if (raw.contains("=?"))
        return false;
    // As humanWords() reads ASCII: letters and digits (with "$" and "'")
    // make words, folded to lower case; "!" and "%" stand alone.
    char word[24];
    qsizetype size = 0;
    qsizetype length = 0; // of the whole word; only its first 24 bytes are kept
    auto flush = [&] {
        if (length >= 2)
            emit(QByteArrayView(word, size));
        size = length = 0;
    };
    for (const char c : raw) {
        const bool lower = c >= 'a' && c <= 'z';
        const bool upper = c >= 'A' && c <= 'Z';
        if (lower || upper || (c >= '0' && c <= '9') || c == '$' || c == '\'') {
            if (size < qsizetype(sizeof word))
                word[size++] = upper ? char(c + ('a' - 'A')) : c;
            ++length;
            continue;
        }
        flush();
        if (c == '!' || c == '%')
            emit(QByteArrayView(&c, 1));
    }
    flush();
    return true;
}

QString TokenText::decoded(QByteArrayView raw)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(raw);
    if (utf8.hasError())
        text = QString::fromLatin1(raw);
    if (raw.contains("=?"))
        text = HeaderDisplay::decodedText(text);
    return text;
}

namespace {

// Where the next "=?" starts at or after `from`, or -1: found by its "?",
// as signatures are full of "=" and "?" is rare in a header.
qsizetype encodedWordAt(QByteArrayView raw, qsizetype from)
{
    qsizetype at = from + 1;
    while (at < raw.size()) {
        const void *mark = std::memchr(raw.data() + at, '?', size_t(raw.size() - at));
        if (!mark)
            return -1;
        at = static_cast<const char *>(mark) - raw.data();
        if (raw[at - 1] == '=')
            return at - 1;
        ++at;
    }
    return -1;
}

} // namespace

void TokenText::encodedCharsets(QByteArrayView raw, const Emit &emit)
{
    // A charset is a name ("utf-8", "koi8-r"), with an optional language
    // after "*" that says nothing of the charset; "=?" in plain text ("What
    // =? Price?") starts no encoded word, and a later one is still read.
    const auto charsetByte = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_'
            || c == '.' || c == ':' || c == '+';
    };
    qsizetype at = encodedWordAt(raw, 0);
    while (at >= 0) {
        qsizetype end = at + 2;
        while (end < raw.size() && end - at - 2 < 40 && charsetByte(raw[end]))
            ++end;
        const qsizetype name = end - at - 2;
        if (end < raw.size() && raw[end] == '*') {
            const qsizetype mark = raw.indexOf('?', end);
            end = mark < 0 || mark - at > 64 ? raw.size() : mark;
        }
        if (name > 0 && end < raw.size() && raw[end] == '?') {
            emit(raw.sliced(at + 2, name).toByteArray().toLower());
            at = encodedWordAt(raw, end + 1);
        } else {
            at = encodedWordAt(raw, at + 2);
        }
    }
}

namespace {

// The shape of each byte: "9", "a" or "A" for a class of runs, "~" for any
// byte of another script (shapes stay ASCII), "^" for a control, else itself.
constexpr std::array<char, 256> kShapeOf = [] {
    std::array<char, 256> table{};
    for (int c = 0; c < 256; ++c) {
        char s = char(c);
        if (c >= '0' && c <= '9')
            s = '9';
        else if (c >= 'a' && c <= 'z')
            s = 'a';
        else if (c >= 'A' && c <= 'Z')
            s = 'A';
        else if (c >= 0x80)
            s = '~';
        else if (c < 0x20)
            s = '^';
        table[c] = s;
    }
    return table;
}();

} // namespace

TokenText::Shape::Shape(QByteArrayView value, qsizetype maxBytes)
{
    maxBytes = std::min<qsizetype>(maxBytes, sizeof m_bytes);
    qsizetype size = 0;
    char last = 0;
    int run = 0;
    for (const char c : value) {
        const char s = kShapeOf[quint8(c)];
        run = s == last ? run + 1 : 1;
        last = s;
        if ((s == '9' || s == 'a' || s == 'A') && run > 2)
            continue;
        m_bytes[size++] = s;
        if (size >= maxBytes)
            break;
    }
    m_size = size;
}

QByteArray TokenText::domainOf(QByteArrayView address)
{
    return domainIn(address).toByteArray().toLower();
}

QByteArrayView TokenText::domainIn(QByteArrayView address)
{
    const qsizetype at = lastIndexOf(address, '@');
    if (at < 0)
        return {};
    qsizetype end = at + 1;
    while (end < address.size() && address[end] != '>' && address[end] != ' ' && address[end] != ')'
           && address[end] != ',' && address[end] != ';' && address[end] != '"')
        ++end;
    return address.sliced(at + 1, end - at - 1);
}

QByteArray TokenText::mailboxOf(QByteArrayView value)
{
    const qsizetype at = value.indexOf('@');
    if (at < 0)
        return {};
    auto isEdge = [](char c) { return c == '<' || c == '>' || c == ' ' || c == ',' || c == '"' || c == '\t'; };
    qsizetype start = at;
    while (start > 0 && !isEdge(value[start - 1]))
        --start;
    qsizetype end = at + 1;
    while (end < value.size() && !isEdge(value[end]))
        ++end;
    return value.sliced(start, end - start).toByteArray().toLower();
}

QByteArrayView TokenText::dateZone(QByteArrayView value)
{
    QByteArrayView rest = value.trimmed();
    if (rest.endsWith(')')) {
        const qsizetype open = rest.lastIndexOf('(');
        rest = open < 0 ? rest : rest.first(open).trimmed();
    }
    const QByteArrayView zone = rest.sliced(rest.lastIndexOf(' ') + 1);
    return zone.size() <= 5 && !zone.contains(':') ? zone : QByteArrayView();
}

QByteArrayView TokenText::baseDomain(QByteArrayView domain)
{
    const qsizetype last = domain.lastIndexOf('.');
    if (last <= 0)
        return domain;
    qsizetype before = domain.first(last).lastIndexOf('.');
    // Under a country's own second level ("bank.co.uk", "shop.com.au") the
    // owner's name is one label further in: else every co.uk sender would
    // be one.
    static constexpr std::string_view kSecondLevels[] = {"ac",  "co", "com", "edu", "gov", "gv", "ne",
                                                         "net", "or", "org", "ltd", "plc", "nom"};
    const QByteArrayView second = domain.sliced(before + 1, last - before - 1);
    const bool countryCode = domain.size() - last - 1 == 2;
    if (before > 0 && countryCode
        && std::any_of(std::begin(kSecondLevels), std::end(kSecondLevels), [&](std::string_view s) {
               return QByteArrayView(s.data(), qsizetype(s.size())).compare(second, Qt::CaseInsensitive) == 0;
           }))
        before = domain.first(before).lastIndexOf('.');
    return before < 0 ? domain : domain.sliced(before + 1);
}

bool TokenText::isPrivateAddress(QByteArrayView ip)
{
    if (ip.size() > 5 && (ip[0] | 0x20) == 'i' && ip.first(5).compare("IPv6:", Qt::CaseInsensitive) == 0)
        ip = ip.sliced(5);
    if (hasPrefix(ip, "127.") || hasPrefix(ip, "10.") || hasPrefix(ip, "192.168.") || hasPrefix(ip, "169.254."))
        return true;
    const auto secondOctetIn = [ip](std::string_view first, int low, int high) {
        if (!hasPrefix(ip, first))
            return false;
        int octet = 0;
        const qsizetype start = qsizetype(first.size());
        qsizetype i = start;
        while (i < ip.size() && i < start + 3 && ip[i] >= '0' && ip[i] <= '9')
            octet = octet * 10 + (ip[i++] - '0');
        return i > start && i < ip.size() && ip[i] == '.' && octet >= low && octet <= high;
    };
    if (secondOctetIn("172.", 16, 31) || secondOctetIn("100.", 64, 127))
        return true;
    if (ip == "::1")
        return true;
    if (ip.indexOf(':') != 4)
        return false;
    const QByteArray group = ip.first(3).toByteArray().toLower();
    return group.startsWith("fc") || group.startsWith("fd") || group == "fe8" || group == "fe9" || group == "fea"
        || group == "feb";
}

qsizetype TokenText::find(QByteArrayView text, std::string_view needle, qsizetype key)
{
    const qsizetype size = qsizetype(needle.size());
    const char *data = text.data();
    const qsizetype lastKey = text.size() - size + key; // where the key byte of the last possible match is
    for (qsizetype at = key; at <= lastKey;) {
        const void *hit = std::memchr(data + at, needle[size_t(key)], size_t(lastKey - at + 1));
        if (!hit)
            return -1;
        const qsizetype start = static_cast<const char *>(hit) - data - key;
        if (std::memcmp(data + start, needle.data(), needle.size()) == 0)
            return start;
        at = start + key + 1;
    }
    return -1;
}
