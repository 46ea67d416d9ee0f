#include "HeaderWalk.h"

namespace {

qsizetype lineEnd(QByteArrayView bytes, qsizetype pos, qsizetype *next)
{
    const qsizetype lf = bytes.indexOf('\n', pos);
    if (lf < 0) {
        *next = bytes.size();
        return bytes.size();
    }
    *next = lf + 1;
    return lf > pos && bytes[lf - 1] == '\r' ? lf - 1 : lf;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

void HeaderWalk::forEach(QByteArrayView header,
                         const std::function<void(const QByteArray &name, const QByteArray &value)> &visit)
{
    qsizetype pos = 0;
    if (header.startsWith("+OK") || header.startsWith("From ")) {
        const qsizetype lf = header.indexOf('\n');
        pos = lf < 0 ? header.size() : lf + 1;
    }
    QByteArray name;
    QByteArray value;
    auto flush = [&] {
        if (!name.isEmpty())
            visit(name, value.trimmed());
        name.clear();
        value.clear();
    };
    while (pos < header.size()) {
        qsizetype next = 0;
        const qsizetype end = lineEnd(header, pos, &next);
        const QByteArrayView line = header.sliced(pos, end - pos);
        pos = next;
        if (line.isEmpty())
            break;
        if (isBlank(line[0])) {
            if (!name.isEmpty()) {
                value += ' ';
                value += line.trimmed();
            }
            continue;
        }
        flush();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue; // no field: a stray line is skipped, not read as a name
        name = line.first(colon).trimmed().toByteArray().toLower();
        value = line.sliced(colon + 1).toByteArray();
    }
    flush();
}
