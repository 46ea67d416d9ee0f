#include "HeaderFields.h"

namespace HeaderFields {

namespace {

// One line without its break, and where the next one starts.
QByteArrayView lineAt(QByteArrayView text, qsizetype pos, qsizetype *next)
{
    qsizetype eol = text.indexOf('\n', pos);
    if (eol < 0)
        eol = text.size();
    *next = eol + 1;
    qsizetype end = eol;
    if (end > pos && text.at(end - 1) == '\r')
        --end;
    return text.sliced(pos, end - pos);
}

bool isContinuation(QByteArrayView line)
{
    return !line.isEmpty() && (line.front() == ' ' || line.front() == '\t');
}

// White space as a character a byte has it: ASCII's, NEL and NO-BREAK SPACE.
bool isSpace(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u == ' ' || (u >= '\t' && u <= '\r') || u == 0x85 || u == 0xA0;
}

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && isSpace(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isSpace(text.back()))
        text.chop(1);
    return text;
}

} // namespace

void forEach(QByteArrayView header, const std::function<void(QByteArrayView, QByteArrayView)> &visit)
{
    qsizetype pos = 0;
    qsizetype next = 0;
    if (header.startsWith('+') || header.startsWith('-'))
        lineAt(header, 0, &pos); // the status line of the reply
    while (pos < header.size()) {
        const qsizetype start = pos;
        const QByteArrayView line = lineAt(header, pos, &next);
        pos = next;
        if (line.isEmpty() || line == ".")
            return; // the end of the header
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || isContinuation(line))
            continue; // not a field line (or a stray continuation)
        // The value runs on over continuation lines.
        qsizetype valueEnd = start + line.size();
        while (pos < header.size()) {
            const QByteArrayView more = lineAt(header, pos, &next);
            if (!isContinuation(more))
                break;
            valueEnd = pos + more.size();
            pos = next;
        }
        const qsizetype valueStart = start + colon + 1;
        visit(trimmed(line.first(colon)), header.sliced(valueStart, valueEnd - valueStart));
    }
}

} // namespace HeaderFields
