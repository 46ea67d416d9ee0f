#include "SieveParser.h"

namespace SieveParser {

namespace {

struct Scan {
    const QByteArray &buffer;
    const SieveLimits &limits;
    qsizetype pos = 0;
    qsizetype plainBytes = 0; // bytes outside literals, against lineBytes
    qsizetype literalBytes = 0; // the line's literals together, against literalBytes
};

bool isAtomChar(char c)
{
    return c != ' ' && c != '\r' && c != '\n' && c != '(' && c != ')' && c != '"' && c != '{';
}

Frame quoted(Scan &s, SieveItem *item, QString *why)
{
    QByteArray text;
    for (qsizetype i = s.pos + 1; i < s.buffer.size(); ++i) {
        // Counted as it is scanned: a quote that never closes is no
        // reason to read on.
        if (s.plainBytes + i + 1 - s.pos > s.limits.lineBytes)
            return Frame::TooLarge;
        const char c = s.buffer.at(i);
        if (c == '"') {
            s.plainBytes += i + 1 - s.pos;
            s.pos = i + 1;
            *item = {SieveItem::Kind::String, text};
            return Frame::Complete;
        }
        if (c == '\r' || c == '\n') {
            *why = QStringLiteral("a line break inside a quoted string");
            return Frame::Invalid;
        }
        if (c == '\\') {
            if (++i == s.buffer.size())
                break;
            text += s.buffer.at(i);
        } else {
            text += c;
        }
    }
    return Frame::Incomplete;
}

Frame literal(Scan &s, SieveItem *item, QString *why)
{
    const qsizetype close = s.buffer.indexOf('}', s.pos);
    if (close < 0 && s.buffer.size() - s.pos <= 24)
        return Frame::Incomplete;
    QByteArray digits = close < 0 ? QByteArray() : s.buffer.mid(s.pos + 1, close - s.pos - 1);
    if (digits.endsWith('+'))
        digits.chop(1);
    bool ok = close >= 0 && !digits.isEmpty() && digits.size() <= 18;
    for (const char c : std::as_const(digits))
        ok = ok && c >= '0' && c <= '9';
    const qint64 size = ok ? digits.toLongLong(&ok) : -1;
    if (!ok) {
        *why = QStringLiteral("a literal without a length");
        return Frame::Invalid;
    }
    // Many literals on one line cost as much as one that large.
    if (size > s.limits.literalBytes - s.literalBytes)
        return Frame::TooLarge;
    qsizetype start = close + 1;
    if (s.buffer.size() < start + 2)
        return Frame::Incomplete;
    if (s.buffer.at(start) == '\r')
        ++start;
    if (s.buffer.at(start) != '\n') {
        *why = QStringLiteral("a literal's length not followed by a line break");
        return Frame::Invalid;
    }
    ++start;
    if (s.buffer.size() - start < size)
        return Frame::Incomplete;
    s.plainBytes += start - s.pos;
    s.literalBytes += size;
    *item = {SieveItem::Kind::String, s.buffer.mid(start, size)};
    s.pos = start + size;
    return Frame::Complete;
}

// The items up to the line's end; Complete with the position past it.
Frame items(Scan &s, QList<SieveItem> *out, QString *why)
{
    while (s.pos < s.buffer.size()) {
        if (s.plainBytes > s.limits.lineBytes)
            return Frame::TooLarge;
        const char c = s.buffer.at(s.pos);
        if (c == ' ') {
            ++s.pos;
            ++s.plainBytes;
        } else if (c == '\n' || (c == '\r' && s.pos + 1 < s.buffer.size() && s.buffer.at(s.pos + 1) == '\n')) {
            s.pos += c == '\n' ? 1 : 2;
            return Frame::Complete;
        } else if (c == '\r') {
            return s.pos + 1 == s.buffer.size() ? Frame::Incomplete : Frame::Invalid;
        } else if (c == '(' || c == ')') {
            out->append({c == '(' ? SieveItem::Kind::Open : SieveItem::Kind::Close, {}});
            ++s.pos;
            ++s.plainBytes;
        } else {
            SieveItem item;
            Frame f = Frame::Complete;
            if (c == '"') {
                f = quoted(s, &item, why);
            } else if (c == '{') {
                f = literal(s, &item, why);
            } else {
                qsizetype end = s.pos;
                while (end < s.buffer.size() && isAtomChar(s.buffer.at(end)))
                    ++end;
                item = {SieveItem::Kind::Atom, s.buffer.mid(s.pos, end - s.pos)};
                s.plainBytes += end - s.pos;
                s.pos = end;
            }
            if (f != Frame::Complete)
                return f;
            out->append(std::move(item));
        }
    }
    return s.plainBytes > s.limits.lineBytes ? Frame::TooLarge : Frame::Incomplete;
}

// A status line: OK, NO or BYE, then "(CODE args)" and a text, each optional.
bool readStatus(const QList<SieveItem> &items, SieveResponse *r)
{
    if (items.isEmpty() || items.first().kind != SieveItem::Kind::Atom)
        return false;
    const QByteArray word = items.first().text.toUpper();
    if (word == "OK")
        r->kind = SieveResponse::Kind::Ok;
    else if (word == "NO")
        r->kind = SieveResponse::Kind::No;
    else if (word == "BYE")
        r->kind = SieveResponse::Kind::Bye;
    else
        return false;
    qsizetype i = 1;
    if (i < items.size() && items.at(i).kind == SieveItem::Kind::Open) {
        for (++i; i < items.size() && items.at(i).kind != SieveItem::Kind::Close; ++i) {
            if (r->code.isEmpty() && items.at(i).kind == SieveItem::Kind::Atom)
                r->code = items.at(i).text.toUpper();
            else
                r->codeArguments.append(items.at(i).text);
        }
        ++i;
    }
    if (i < items.size())
        r->text = items.at(i).text;
    return true;
}

} // namespace

Frame take(QByteArray &buffer, const SieveLimits &limits, SieveResponse *response, QString *why)
{
    Scan scan{buffer, limits};
    QList<SieveItem> found;
    const Frame frame = items(scan, &found, why);
    if (frame != Frame::Complete)
        return frame;
    SieveResponse r;
    if (!readStatus(found, &r)) {
        r = {};
        r.items = std::move(found);
    }
    buffer.remove(0, scan.pos);
    *response = std::move(r);
    return Frame::Complete;
}

QByteArray literal(const QByteArray &text)
{
    return '{' + QByteArray::number(text.size()) + "+}\r\n" + text;
}

QByteArray string(const QByteArray &text)
{
    // A quoted string holds no line break, NUL, and (RFC 5804) at most 1024 octets.
    if (text.size() > 1024 || text.contains('\r') || text.contains('\n') || text.contains('\0'))
        return literal(text);
    QByteArray out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

} // namespace SieveParser
