#include "HeaderWalk.h"

#include "TokenText.h"

#include <cstring>

namespace {

// The line at `pos` without its end; *next is where the following one starts.
QByteArrayView lineAt(QByteArrayView bytes, qsizetype pos, qsizetype *next)
{
    // memchr itself: Qt's indexOf() goes through its search for byte arrays.
    const void *found = std::memchr(bytes.data() + pos, '\n', size_t(bytes.size() - pos));
    if (!found) {
        *next = bytes.size();
        return bytes.sliced(pos);
    }
    const qsizetype lf = static_cast<const char *>(found) - bytes.data();
    *next = lf + 1;
    return bytes.sliced(pos, (lf > pos && bytes[lf - 1] == '\r' ? lf - 1 : lf) - pos);
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

HeaderWalk::Fields::Fields(QByteArrayView header)
    : m_header(header)
{
    if (header.startsWith("+OK") || header.startsWith("From ")) {
        const qsizetype lf = header.indexOf('\n');
        m_pos = lf < 0 ? header.size() : lf + 1;
    }
}

bool HeaderWalk::Fields::next(QByteArrayView *name, QByteArrayView *value)
{
    while (m_pos < m_header.size()) {
        qsizetype after = 0;
        const QByteArrayView line = lineAt(m_header, m_pos, &after);
        if (line.isEmpty()) {
            m_pos = m_header.size();
            return false;
        }
        m_pos = after;
        if (isBlank(line[0]))
            continue; // a fold with no field to belong to
        const qsizetype colon = TokenText::indexOf(line, ':');
        if (colon <= 0)
            continue; // no field: a stray line is skipped, not read as a name
        const QByteArrayView rawName = TokenText::trimmed(line.first(colon));
        if (rawName.isEmpty())
            continue;
        m_name.resize(rawName.size());
        for (qsizetype i = 0; i < rawName.size(); ++i) {
            const char c = rawName[i];
            m_name[i] = c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c;
        }
        const QByteArrayView first = line.sliced(colon + 1);
        qsizetype joinedAt = -1;
        // A fold starts with a blank; the blank line or the next field is
        // left for the next call.
        while (m_pos < m_header.size() && isBlank(m_header[m_pos])) {
            const QByteArrayView fold = lineAt(m_header, m_pos, &after);
            m_pos = after;
            if (joinedAt < 0) {
                if (m_joined.isEmpty())
                    m_joined.resize(m_header.size());
                joinedAt = m_used;
                append(first);
            }
            m_joined[m_used++] = ' ';
            append(TokenText::trimmed(fold));
        }
        *name = QByteArrayView(m_name.data(), m_name.size());
        *value = TokenText::trimmed(joinedAt < 0 ? first
                                                 : QByteArrayView(m_joined.data() + joinedAt, m_used - joinedAt));
        return true;
    }
    return false;
}

void HeaderWalk::Fields::append(QByteArrayView bytes)
{
    Q_ASSERT(m_used + bytes.size() <= m_joined.size());
    std::memcpy(m_joined.data() + m_used, bytes.data(), size_t(bytes.size()));
    m_used += bytes.size();
}
