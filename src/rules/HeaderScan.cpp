#include "HeaderScan.h"

#include <QByteArray>
#include <QRegularExpression>
#include <cstring>

namespace HeaderScan {

namespace {

// The length of the field name and colon when `line` is the field `name`:
// the name in any case, blanks allowed before the colon; -1 otherwise.
// "From-Address:" is another field.
qsizetype fieldPrefix(QByteArrayView line, QByteArrayView name)
{
    if (line.size() <= name.size() || qstrnicmp(line.data(), name.data(), size_t(name.size())) != 0)
        return -1;
    qsizetype pos = name.size();
    while (pos < line.size() && (line.at(pos) == ' ' || line.at(pos) == '\t'))
        ++pos;
    return pos < line.size() && line.at(pos) == ':' ? pos + 1 : -1;
}

// Whether a field was met, and how: a line with blanks before its colon
// ("From : ...", the obsolete syntax, and what some servers make of a
// mailbox's "From " line) counts only when no line of that field is
// written without them.
enum class Found { None, Spaced, Plain };

QByteArrayView trimSpaces(QByteArrayView value)
{
    while (!value.isEmpty() && value.front() == ' ')
        value = value.sliced(1);
    while (!value.isEmpty() && value.back() == ' ')
        value.chop(1);
    return value;
}

// A field's value: the rest of its first line, then its continuation lines
// from `next` on. Only a folded value is copied.
QString unfoldedValue(QByteArrayView reply, QByteArrayView first, qsizetype next)
{
    QByteArray joined;
    bool folded = false;
    while (next < reply.size()) {
        const qsizetype end = lineEnd(reply, next);
        if (end == next || (reply.at(next) != ' ' && reply.at(next) != '\t'))
            break;
        if (!folded)
            joined = first.toByteArray();
        folded = true;
        joined.append(reply.sliced(next, end - next));
        next = end + 2;
    }
    return text(trimSpaces(folded ? QByteArrayView(joined) : first));
}

} // namespace

qsizetype lineEnd(QByteArrayView bytes, qsizetype pos)
{
    // A CR is searched for, not the pair: memchr is the fastest look at
    // every byte there is.
    const char *const begin = bytes.data();
    const char *const end = begin + bytes.size();
    const char *p = begin + pos;
    while (p < end) {
        const auto *cr = static_cast<const char *>(std::memchr(p, '\r', size_t(end - p)));
        if (!cr)
            break;
        if (cr + 1 < end && cr[1] == '\n')
            return cr - begin;
        p = cr + 1;
    }
    return bytes.size();
}

QString text(QByteArrayView raw)
{
    for (const char c : raw) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return raw.isValidUtf8() ? QString::fromUtf8(raw) : QString::fromLatin1(raw);
    }
    return QString::fromLatin1(raw);
}

bool isMboxEnvelope(QStringView value)
{
    // The sender's word, then the date as asctime() writes it.
    static const QRegularExpression envelope(QStringLiteral(
        R"(^:?[ \t]*\S+[ \t]+(Mon|Tue|Wed|Thu|Fri|Sat|Sun)[ \t]+(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec))"
        R"([ \t]+\d{1,2}[ \t]+\d{1,2}:\d\d)"));
    return envelope.match(value).hasMatch();
}

ShownFields shownFields(QByteArrayView reply)
{
    ShownFields out;
    QString *const values[] = {&out.from, &out.subject, &out.date, &out.priority};
    Found found[] = {Found::None, Found::None, Found::None, Found::None};
    int left = 4;
    qsizetype pos = 0;
    const QByteArrayView status = reply.first(lineEnd(reply, 0));
    if (status.startsWith("+OK") || status.startsWith("-ERR"))
        pos = status.size() + 2;
    while (pos < reply.size() && left > 0) {
        const qsizetype eol = lineEnd(reply, pos);
        const QByteArrayView line = reply.sliced(pos, eol - pos);
        pos = eol + 2;
        if (line.isEmpty())
            break; // the blank line ends the header block
        int field = -1;
        qsizetype name = 0;
        qsizetype prefix = -1;
        // Each line is compared with the one name its first letter allows.
        switch (line.front() | 0x20) {
        case 'f':
            field = 0;
            name = 4;
            prefix = fieldPrefix(line, "From");
            break;
        case 's':
            field = 1;
            name = 7;
            prefix = fieldPrefix(line, "Subject");
            break;
        case 'd':
            field = 2;
            name = 4;
            prefix = fieldPrefix(line, "Date");
            break;
        case 'p':
            field = 3;
            name = 8;
            prefix = fieldPrefix(line, "Priority");
            break;
        case 'x':
            // Mail writes the priority as "X-Priority:"; an "X-From:" is not
            // the sender.
            if (line.size() > 2 && line.at(1) == '-') {
                field = 3;
                name = 10;
                const qsizetype rest = fieldPrefix(line.sliced(2), "Priority");
                prefix = rest < 0 ? -1 : 2 + rest;
            }
            break;
        default:
            break;
        }
        if (prefix < 0 || found[field] == Found::Plain)
            continue;
        const bool spaced = prefix > name + 1;
        if (spaced && found[field] == Found::Spaced)
            continue;
        QString value = unfoldedValue(reply, line.sliced(prefix), pos);
        if (spaced && field == 0 && isMboxEnvelope(value))
            continue; // a mailbox's "From " line, mangled by its server
        *values[field] = std::move(value);
        found[field] = spaced ? Found::Spaced : Found::Plain;
        if (!spaced)
            --left;
    }
    return out;
}

} // namespace HeaderScan
