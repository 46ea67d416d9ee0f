#include "HeaderFields.h"

namespace HeaderFields {

namespace {

// One line without its break, and where the next one starts.
QStringView lineAt(QStringView text, qsizetype pos, qsizetype *next)
{
    qsizetype eol = text.indexOf(u'\n', pos);
    if (eol < 0)
        eol = text.size();
    *next = eol + 1;
    qsizetype end = eol;
    if (end > pos && text.at(end - 1) == u'\r')
        --end;
    return text.mid(pos, end - pos);
}

bool isContinuation(QStringView line)
{
    return !line.isEmpty() && (line.front() == u' ' || line.front() == u'\t');
}

} // namespace

void forEach(QStringView header, const std::function<void(QStringView, QStringView)> &visit)
{
    qsizetype pos = 0;
    qsizetype next = 0;
    if (header.startsWith(u'+') || header.startsWith(u'-'))
        lineAt(header, 0, &pos); // the status line of the reply
    while (pos < header.size()) {
        const qsizetype start = pos;
        const QStringView line = lineAt(header, pos, &next);
        pos = next;
        if (line.isEmpty() || line == u".")
            return; // the end of the header
        const qsizetype colon = line.indexOf(u':');
        if (colon <= 0 || isContinuation(line))
            continue; // not a field line (or a stray continuation)
        // The value runs on over continuation lines.
        qsizetype valueEnd = start + line.size();
        while (pos < header.size()) {
            const QStringView more = lineAt(header, pos, &next);
            if (!isContinuation(more))
                break;
            valueEnd = pos + more.size();
            pos = next;
        }
        const QStringView name = line.left(colon).trimmed();
        const qsizetype valueStart = start + colon + 1;
        visit(name, header.mid(valueStart, valueEnd - valueStart));
    }
}

} // namespace HeaderFields
