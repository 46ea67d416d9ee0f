#include "HeaderFields.h"

#include "HeaderScan.h"
#include "StringHelpers.h"

#include <QStringView>
#include <QVarLengthArray>
#include <limits>

namespace {
const QLatin1String kCrLf("\r\n");

bool isFoldContinuation(QStringView line)
{
    return !line.isEmpty() && (line.front() == QLatin1Char(' ') || line.front() == QLatin1Char('\t'));
}

// The length of the field name and colon when `line` is the field `name`
// ("From:"): the name exactly, in any case, blanks allowed before the colon
// as the obsolete syntax has them ("Subject :"); -1 otherwise. "X-From:" is
// another field, so is "From-Address:".
qsizetype fieldPrefixLength(QStringView line, QStringView name)
{
    const QStringView bare = name.endsWith(u':') ? name.chopped(1) : name;
    if (!line.startsWith(bare, Qt::CaseInsensitive))
        return -1;
    qsizetype pos = bare.size();
    while (pos < line.size() && (line.at(pos) == u' ' || line.at(pos) == u'\t'))
        ++pos;
    return pos < line.size() && line.at(pos) == u':' ? pos + 1 : -1;
}
} // namespace

QString GetHeaderValue(const QString &headers, const QString &name)
{
    return GetHeaderValues(headers, {name}).value(0);
}

QStringList GetHeaderValues(const QString &headers, const QStringList &names)
{
    QStringList values(names.size());
    // 0: not met; 1: met with blanks before the colon, which counts only
    // when no line has the colon right after the name; 2: met.
    QVarLengthArray<int, 8> found(names.size());
    qsizetype left = 0;
    for (qsizetype j = 0; j < names.size(); ++j) {
        found[j] = names.at(j).isEmpty() ? 2 : 0;
        if (found[j] == 0)
            ++left;
    }
    const QStringView text(headers);
    qsizetype pos = 0;
    bool first = true;
    while (pos < text.size() && left > 0) {
        qsizetype eol = text.indexOf(kCrLf, pos);
        if (eol < 0)
            eol = text.size();
        const QStringView line = text.mid(pos, eol - pos);
        const qsizetype next = eol + 2;
        if (first && (line.startsWith(QLatin1String("+OK")) || line.startsWith(QLatin1String("-ERR")))) {
            first = false;
            pos = next;
            continue;
        }
        first = false;
        if (line.isEmpty())
            break; // the blank line ends the header block
        for (qsizetype j = 0; j < names.size(); ++j) {
            if (found.at(j) == 2)
                continue;
            qsizetype nameLength = fieldPrefixLength(line, names.at(j));
            qsizetype plainLength = names.at(j).endsWith(u':') ? names.at(j).size() : names.at(j).size() + 1;
            // Mail writes the priority as "X-Priority:"; no other field is
            // stood in for by its "X-" form (an "X-From:" is not the sender).
            if (nameLength < 0 && names.at(j).compare(QLatin1String("Priority:"), Qt::CaseInsensitive) == 0
                && line.startsWith(QLatin1String("X-"), Qt::CaseInsensitive)) {
                const qsizetype rest = fieldPrefixLength(line.mid(2), names.at(j));
                nameLength = rest < 0 ? -1 : 2 + rest;
                plainLength += 2;
            }
            const bool spaced = nameLength > plainLength;
            if (nameLength < 0 || (spaced && found.at(j) == 1))
                continue;
            QString value = line.mid(nameLength).toString();
            // Unfold: continuation lines join the value without their CR LF.
            qsizetype cont = next;
            while (cont < text.size()) {
                qsizetype contEnd = text.indexOf(kCrLf, cont);
                if (contEnd < 0)
                    contEnd = text.size();
                const QStringView contLine = text.mid(cont, contEnd - cont);
                if (!isFoldContinuation(contLine))
                    break;
                value += contLine;
                cont = contEnd + 2;
            }
            // Raw UTF-8 values (RFC 6532) are read as UTF-8.
            value = HeaderBytesText(TrimSpaces(value));
            // A mailbox's "From " line, mangled by its server, is no sender.
            if (spaced && names.at(j).compare(QLatin1String("From:"), Qt::CaseInsensitive) == 0
                && HeaderScan::isMboxEnvelope(value))
                continue;
            values[j] = value;
            found[j] = spaced ? 1 : 2;
            if (!spaced)
                --left;
        }
        pos = next;
    }
    return values;
}

qint64 LeadingNumber(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i) == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    constexpr qint64 kMax = std::numeric_limits<qint64>::max();
    qint64 value = 0;
    for (; i < text.size() && text.at(i).isDigit() && text.at(i).unicode() < 128; ++i) {
        const int digit = text.at(i).unicode() - '0';
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
    return negative ? -value : value;
}

QString SizeText(qint64 bytes)
{
    qint64 thousands = bytes / 1000;
    if (thousands < 1)
        thousands = 1;
    return (QString::number(thousands) + QLatin1Char('K')).rightJustified(6, QLatin1Char(' '));
}
