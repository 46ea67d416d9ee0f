#include "StringHelpers.h"

#include "SenderAddress.h"

#include <stdexcept>

QString GetField(const QString &delimiter, const QString &text, int fieldNumber)
{
    if (delimiter.isEmpty() || text.isEmpty() || fieldNumber < 0)
        return {};
    // The delimiter is one character; a longer one is matched by its first.
    const QChar d = delimiter.at(0);
    qsizetype begin = 0;
    for (int field = 0; field < fieldNumber; ++field) {
        const qsizetype next = text.indexOf(d, begin);
        if (next < 0)
            return {};
        begin = next + 1;
    }
    qsizetype end = text.indexOf(d, begin);
    if (end < 0)
        end = text.size();
    return text.mid(begin, end - begin);
}

QString TrimSpaces(QStringView text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first).toString();
}

QString ReplaceText(const QString &text, const QString &search, const QString &replacement, int start, int count,
                    int compareMode)
{
    if (start < 1)
        throw std::invalid_argument("ReplaceText: start position below 1");
    if (search.isEmpty() || search == replacement || count == 0)
        return text;
    const Qt::CaseSensitivity cs = compareMode == 1 ? Qt::CaseInsensitive : Qt::CaseSensitive;
    QString result = text.left(start - 1);
    qsizetype pos = start - 1;
    int made = 0;
    while (pos <= text.size()) {
        if (count != -1 && made >= count)
            break;
        const qsizetype found = text.indexOf(search, pos, cs);
        if (found < 0)
            break;
        result += QStringView(text).mid(pos, found - pos);
        result += replacement;
        pos = found + search.size();
        ++made;
    }
    if (pos < text.size())
        result += QStringView(text).mid(pos);
    return result;
}

QString DomainRule(const QString &sender)
{
    // The address's domain, never a piece of the display name: a name such
    // as "support@bank.example" would otherwise make the rule.
    const QString address = SenderAddress(sender);
    return QStringLiteral("*@") + address.mid(address.lastIndexOf(u'@') + 1);
}

QString HeaderBytesText(const QString &bytes)
{
    // Most header text is ASCII: it is shared, not copied.
    qsizetype firstHigh = -1;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char16_t c = bytes.at(i).unicode();
        if (c > 0xFF)
            return bytes;
        if (c >= 0x80 && firstHigh < 0)
            firstHigh = i;
    }
    if (firstHigh < 0)
        return bytes;
    const QByteArray raw = bytes.toLatin1();
    if (!QByteArrayView(raw).isValidUtf8())
        return bytes;
    return QString::fromUtf8(raw);
}

QString Utf8Text(QByteArrayView utf8)
{
    if (!utf8.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(utf8);
    return QChar(0xFEFF) + QString::fromUtf8(utf8.sliced(3));
}
