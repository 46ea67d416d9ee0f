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
                         const std::function<void(QByteArrayView name, QByteArrayView value)> &visit)
{
    qsizetype pos = 0;
    if (header.startsWith("+OK") || header.startsWith("From ")) {
        const qsizetype lf = header.indexOf('\n');
        pos = lf < 0 ? header.size() : lf + 1;
    }
    // Reused from field to field: a folded value is joined here, a name
    // lower-cased here.
    QByteArray name;
    QByteArray joined;
    QByteArrayView value;
    bool folded = false;
    bool inField = false;
    auto flush = [&] {
        if (inField)
            visit(name, (folded ? QByteArrayView(joined) : value).trimmed());
        inField = false;
    };
    while (pos < header.size()) {
        qsizetype next = 0;
        const qsizetype end = lineEnd(header, pos, &next);
        const QByteArrayView line = header.sliced(pos, end - pos);
        pos = next;
        if (line.isEmpty())
            break;
        if (isBlank(line[0])) {
            if (inField) {
                if (!folded) {
                    joined.resize(0); // keeps its room
                    joined.append(value.data(), value.size());
                    folded = true;
                }
                joined += ' ';
                joined += line.trimmed();
            }
            continue;
        }
        flush();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue; // no field: a stray line is skipped, not read as a name
        const QByteArrayView rawName = line.first(colon).trimmed();
        if (rawName.isEmpty())
            continue;
        name.resize(rawName.size());
        for (qsizetype i = 0; i < rawName.size(); ++i) {
            const char c = rawName[i];
            name[i] = c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c;
        }
        value = line.sliced(colon + 1);
        folded = false;
        inField = true;
    }
    flush();
}
