// Stored form: three-digit groups. For n bytes (the password's UTF-8 bytes):
//   n <= 80:  k, 80 - n filler groups, the n chained codes, n  (82 groups)
//   n >  80:  k, the n chained codes, n                         (n + 2 groups)
// k is a position (1..30) in the key text; code i is byte i exclusive-or
// byte i - 1, the first byte chained to the key character at k.
#include "Scramble.h"

#include "StringHelpers.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QStringDecoder>

namespace modSecurity {

namespace {

constexpr char kKeyText[] = "x5pq8rj2wd7mz4kc1vbn6ht9fs3gy0";
constexpr int kKeyLength = 30;
constexpr int kPaddedLength = 80;
constexpr int kGroupsWhenPadded = kPaddedLength + 2;

QString group(int number)
{
    return QStringLiteral("%1").arg(number, 3, 10, QLatin1Char('0'));
}

// The number written in the group starting at `pos`; -1 unless it is three digits.
int readGroup(const QString &text, qsizetype pos)
{
    int number = 0;
    for (qsizetype i = pos; i < pos + 3; ++i) {
        const QChar c = text.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        number = number * 10 + (c.unicode() - '0');
    }
    return number;
}

unsigned char keyCharacter(int position)
{
    return static_cast<unsigned char>(kKeyText[position - 1]);
}

} // namespace

QString ScrambleText(QString &text)
{
    text = TrimSpaces(text);
    const QByteArray bytes = text.toUtf8();
    const qsizetype n = bytes.size();
    // The length group has three digits; longer texts cannot be stored, and
    // the settings dialog never lets one through.
    if (n == 0 || n > kMaxStoredBytes)
        return {};

    QRandomGenerator *random = QRandomGenerator::system();
    const int k = int(random->bounded(1, kKeyLength + 1));
    QString result;
    result.reserve((n + 2 + kPaddedLength) * 3);
    result += group(k);
    for (qsizetype i = n; i < kPaddedLength; ++i)
        result += group(int(random->bounded(1, 902)));
    unsigned char previous = keyCharacter(k);
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        result += group(previous ^ c);
        previous = c;
    }
    result += group(int(n));
    return result;
}

QString UnscrambleText(const QString &stored)
{
    const qsizetype length = stored.size();
    if (length < 9 || length % 3 != 0)
        return {};
    const int k = readGroup(stored, 0);
    const int n = readGroup(stored, length - 3);
    if (k < 1 || k > kKeyLength || n < 1)
        return {};
    const qsizetype groups = length / 3;
    if (groups != (n <= kPaddedLength ? kGroupsWhenPadded : n + 2))
        return {};
    // Filler is never read back, but a stored form holds digits only.
    for (qsizetype pos = 3; pos < length - 3; pos += 3) {
        if (readGroup(stored, pos) < 0)
            return {};
    }

    QByteArray bytes;
    bytes.reserve(n);
    unsigned char previous = keyCharacter(k);
    for (qsizetype pos = length - 3 - 3 * qsizetype(n); pos < length - 3; pos += 3) {
        const int code = readGroup(stored, pos);
        if (code > 255)
            return {};
        previous = static_cast<unsigned char>(code ^ previous);
        bytes.append(static_cast<char>(previous));
    }

    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return {};
    return text;
}

} // namespace modSecurity
