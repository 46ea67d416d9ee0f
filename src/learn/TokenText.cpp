#include "TokenText.h"

#include "HeaderDisplay.h"

#include <QStringDecoder>
#include <algorithm>
#include <array>
#include <cstring>

namespace {

// Queue ids, stamps and hashes: long, and mixing letters with digits often.
} // namespace

bool TokenText::Detail::isOneOff(QByteArrayView word)
{
    // Most words are short: only a pure number is one then, and the first
    // letter says it is not.
    if (word.size() < 10)
        return std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
    int digits = 0;
    int switches = 0;
    bool lastDigit = false;
    for (qsizetype i = 0; i < word.size(); ++i) {
        const bool digit = word[i] >= '0' && word[i] <= '9';
        digits += digit;
        if (i > 0 && digit != lastDigit)
            ++switches;
        lastDigit = digit;
    }
    if (digits == word.size())
        return true;
    return word.size() >= 10 && (switches >= 4 || digits * 3 >= word.size());
}

qsizetype TokenText::Detail::blobEnd(QByteArrayView value, qsizetype start)
{
    qsizetype end = start;
    bool plain = true; // letters and digits alone: one long word, dropped for its length anyway
    while (end < value.size() && kBase64Bytes[quint8(value[end])]) {
        plain = plain && value[end] != '+' && value[end] != '=';
        ++end;
    }
    return end - start >= kBlobBytes && !plain ? end : start;
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

void TokenText::humanWords(const QString &text, const Emit &emit)
{
    const QString folded = text.toCaseFolded();
    QString word;
    QChar previousUnspaced;
    auto flush = [&] {
        if (word.size() >= 2 || (word.size() == 1 && word[0].unicode() > 0x2e7f))
            emit(word.left(24).toUtf8());
        word.clear();
    };
    for (const QChar c : folded) {
        if (c.isSurrogate())
            continue; // rare in subjects; a lone half would make invalid UTF-8
        if (isUnspacedScript(c.script())) {
            flush();
            if (!previousUnspaced.isNull())
                emit((QString(previousUnspaced) + c).toUtf8());
            else
                emit(QString(c).toUtf8());
            previousUnspaced = c;
            continue;
        }
        previousUnspaced = QChar();
        if (c.isLetterOrNumber() || c == u'$' || c == u'\'')
            word += c;
        else {
            flush();
            if (c == u'!' || c == u'$' || c == u'%')
                emit(QString(c).toUtf8());
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
    qsizetype at = encodedWordAt(raw, 0);
    while (at >= 0) {
        const qsizetype end = raw.indexOf('?', at + 2);
        if (end < 0 || end - at > 42)
            return;
        emit(raw.sliced(at + 2, end - at - 2).toByteArray().toLower());
        at = encodedWordAt(raw, end + 1);
    }
}

QByteArray TokenText::shape(QByteArrayView value, qsizetype maxBytes)
{
    // Made on the stack and copied once: a header has a dozen shapes.
    char bytes[64];
    maxBytes = std::min<qsizetype>(maxBytes, sizeof bytes);
    qsizetype size = 0;
    char last = 0;
    int run = 0;
    for (const char c : value) {
        char s = c;
        if (c >= '0' && c <= '9')
            s = '9';
        else if (c >= 'a' && c <= 'z')
            s = 'a';
        else if (c >= 'A' && c <= 'Z')
            s = 'A';
        else if (quint8(c) >= 0x80)
            s = '~'; // any byte of another script: shapes stay ASCII
        else if (quint8(c) < 0x20)
            s = '^';
        run = s == last ? run + 1 : 1;
        last = s;
        if ((s == '9' || s == 'a' || s == 'A') && run > 2)
            continue;
        bytes[size++] = s;
        if (size >= maxBytes)
            break;
    }
    return QByteArray(bytes, size);
}

QByteArray TokenText::domainOf(QByteArrayView address)
{
    const qsizetype at = address.lastIndexOf('@');
    if (at < 0)
        return {};
    qsizetype end = at + 1;
    while (end < address.size() && address[end] != '>' && address[end] != ' ' && address[end] != ')'
           && address[end] != ',' && address[end] != ';' && address[end] != '"')
        ++end;
    return address.sliced(at + 1, end - at - 1).toByteArray().toLower();
}

QByteArrayView TokenText::baseDomain(QByteArrayView domain)
{
    const qsizetype last = domain.lastIndexOf('.');
    if (last <= 0)
        return domain;
    const qsizetype before = domain.first(last).lastIndexOf('.');
    return before < 0 ? domain : domain.sliced(before + 1);
}
