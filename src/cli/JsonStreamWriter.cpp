#include "JsonStreamWriter.h"

JsonStreamWriter::JsonStreamWriter(Sink sink, qsizetype chunkBytes)
    : m_sink(std::move(sink))
    , m_chunkBytes(chunkBytes)
{
    m_buffer.reserve(chunkBytes + 4096);
}

void JsonStreamWriter::beforeValue()
{
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (m_empty.isEmpty())
        return; // the document's own value
    m_buffer += m_empty.constLast() ? "\n" : ",\n";
    m_empty.last() = false;
    m_buffer += QByteArray(4 * m_empty.size(), ' ');
}

void JsonStreamWriter::beginObject()
{
    beforeValue();
    m_buffer += '{';
    m_empty.append(true);
}

void JsonStreamWriter::beginArray()
{
    beforeValue();
    m_buffer += '[';
    m_empty.append(true);
}

void JsonStreamWriter::close(char bracket)
{
    m_empty.removeLast();
    m_buffer += '\n';
    m_buffer += QByteArray(4 * m_empty.size(), ' ');
    m_buffer += bracket;
    flushIfFull();
}

void JsonStreamWriter::endObject()
{
    close('}');
}

void JsonStreamWriter::endArray()
{
    close(']');
}

void JsonStreamWriter::key(QStringView name)
{
    beforeValue();
    appendString(m_buffer, name);
    m_buffer += ": ";
    m_afterKey = true;
}

void JsonStreamWriter::value(QStringView text)
{
    beforeValue();
    appendString(m_buffer, text);
    flushIfFull();
}

void JsonStreamWriter::value(qint64 number)
{
    beforeValue();
    m_buffer += QByteArray::number(number);
}

void JsonStreamWriter::nullValue()
{
    beforeValue();
    m_buffer += "null";
}

void JsonStreamWriter::boolValue(bool value)
{
    beforeValue();
    m_buffer += value ? "true" : "false";
}

void JsonStreamWriter::field(QStringView name, QStringView text)
{
    key(name);
    value(text);
}

void JsonStreamWriter::field(QStringView name, qint64 number)
{
    key(name);
    value(number);
}

void JsonStreamWriter::finish()
{
    m_buffer += '\n';
    m_sink(m_buffer);
    m_buffer.clear();
}

void JsonStreamWriter::flushIfFull()
{
    if (m_buffer.size() < m_chunkBytes)
        return;
    m_sink(m_buffer);
    m_buffer.clear(); // keeps its capacity
}

void JsonStreamWriter::appendString(QByteArray &out, QStringView text)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text.at(i).unicode();
        if (u < 0x80) {
            switch (u) {
            case u'"':
                out += "\\\"";
                break;
            case u'\\':
                out += "\\\\";
                break;
            case u'\b':
                out += "\\b";
                break;
            case u'\f':
                out += "\\f";
                break;
            case u'\n':
                out += "\\n";
                break;
            case u'\r':
                out += "\\r";
                break;
            case u'\t':
                out += "\\t";
                break;
            default:
                if (u < 0x20) {
                    out += "\\u00";
                    out += hex[u >> 4];
                    out += hex[u & 0xf];
                } else {
                    out += char(u);
                }
            }
            continue;
        }
        char32_t c = u;
        if (QChar::isHighSurrogate(u) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(u, text.at(i + 1).unicode());
            ++i;
        } else if (QChar::isSurrogate(u)) {
            // Half a pair is no character: an escaped one ("\\ud800") is
            // refused by strict readers such as jq, so it becomes U+FFFD.
            c = QChar::ReplacementCharacter;
        }
        if (c < 0x800) {
            out += char(0xc0 | (c >> 6));
        } else if (c < 0x10000) {
            out += char(0xe0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3f));
        } else {
            out += char(0xf0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3f));
            out += char(0x80 | ((c >> 6) & 0x3f));
        }
        out += char(0x80 | (c & 0x3f));
    }
    out += '"';
}
