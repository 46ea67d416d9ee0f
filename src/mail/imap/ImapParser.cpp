#include "ImapParser.h"

#include <utility>

namespace {

bool isDigits(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 18)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// Digits only, checked by isDigits().
qint64 digitsValue(QByteArrayView text)
{
    qint64 n = 0;
    for (char c : text)
        n = n * 10 + (c - '0');
    return n;
}

// The count of a literal announced at the end of `line` ("{12}", "{12+}",
// "~{12}"), CR LF already cut off; -1 when the line announces none.
qint64 announcedLiteral(QByteArrayView line)
{
    if (!line.endsWith('}'))
        return -1;
    const qsizetype open = line.lastIndexOf('{');
    if (open < 0 || line.size() - open > 22)
        return -1;
    QByteArrayView count = line.sliced(open + 1, line.size() - open - 2);
    if (count.endsWith('+') || count.endsWith('-'))
        count.chop(1);
    return isDigits(count) ? digitsValue(count) : -1;
}

// `n` bytes of `owner` from `pos` on, sharing its storage instead of copying
// them: the storage lives as long as the slice does, and a change to either
// copies it first. Like raw data, the slice has no terminating NUL.
QByteArray sharedSlice(const QByteArray &owner, qsizetype pos, qsizetype n)
{
    QByteArray::DataPointer d = const_cast<QByteArray &>(owner).data_ptr(); // one more reference
    if (!d.isMutable() || n == 0)
        return QByteArray(owner.constData() + pos, n);
    d.setBegin(d.data() + pos);
    d.size = n;
    return QByteArray(std::move(d));
}

// A cursor over one framed response.
class Reader {
public:
    Reader(const ImapFramed &framed, const ImapLimits &limits)
        : m_framed(framed)
        , m_bytes(framed.bytes())
        , m_limits(limits)
    {
    }

    bool atEnd() const { return m_pos >= m_bytes.size(); }
    char peek() const { return atEnd() ? '\0' : m_bytes.at(m_pos); }
    bool atLineEnd() const { return peek() == '\r' || peek() == '\n'; }
    void skipSpaces()
    {
        while (peek() == ' ')
            ++m_pos;
    }
    // The word up to the next space or line end.
    QByteArrayView word()
    {
        const qsizetype start = m_pos;
        while (!atEnd() && peek() != ' ' && !atLineEnd())
            ++m_pos;
        return m_bytes.sliced(start, m_pos - start);
    }
    // The rest of the line, its end consumed.
    QByteArrayView restOfLine()
    {
        const qsizetype start = m_pos;
        while (!atEnd() && !atLineEnd())
            ++m_pos;
        const QByteArrayView rest = m_bytes.sliced(start, m_pos - start);
        endLine();
        return rest;
    }
    bool endLine()
    {
        if (peek() == '\r')
            ++m_pos;
        if (peek() != '\n')
            return false;
        ++m_pos;
        return true;
    }
    bool values(QList<ImapValue> &out, int depth);
    QString error;

private:
    bool value(ImapValue &out, int depth);
    bool quoted(ImapValue &out);
    bool literal(ImapValue &out);
    bool atom(ImapValue &out);
    qsizetype keptOf(qint64 announced) const;
    bool fail(const char *why)
    {
        if (error.isEmpty())
            error = QString::fromLatin1(why);
        return false;
    }

    const ImapFramed &m_framed;
    QByteArrayView m_bytes;
    const ImapLimits &m_limits;
    qsizetype m_pos = 0;
};

bool Reader::values(QList<ImapValue> &out, int depth)
{
    for (;;) {
        skipSpaces();
        if (atEnd() || atLineEnd() || peek() == ')')
            return true;
        ImapValue &v = out.emplace_back();
        if (!value(v, depth))
            return false;
    }
}

bool Reader::value(ImapValue &out, int depth)
{
    switch (peek()) {
    case '(': {
        if (depth >= m_limits.depth)
            return fail("lists nested too deep");
        ++m_pos;
        out.kind = ImapValue::Kind::List;
        out.items.reserve(8); // a FETCH's items, mostly
        if (!values(out.items, depth + 1))
            return false;
        if (peek() != ')')
            return fail("a list without its closing parenthesis");
        ++m_pos;
        return true;
    }
    case '"':
        return quoted(out);
    case '{':
    case '~':
        return literal(out);
    default:
        return atom(out);
    }
}

bool Reader::quoted(ImapValue &out)
{
    out.kind = ImapValue::Kind::String;
    const qsizetype start = ++m_pos;
    bool escaped = false;
    for (; !atEnd(); ++m_pos) {
        const char c = peek();
        if (c == '"')
            break;
        if (c == '\r' || c == '\n')
            return fail("a quoted string without its end");
        if (c == '\\') {
            ++m_pos;
            if (peek() != '\\' && peek() != '"')
                return fail("a bad escape in a quoted string");
            escaped = true;
        }
    }
    if (atEnd())
        return fail("a quoted string without its end");
    const QByteArrayView inside = m_bytes.sliced(start, m_pos++ - start);
    if (!escaped) {
        out.text = inside.toByteArray();
        return true;
    }
    out.text.reserve(inside.size());
    for (qsizetype i = 0; i < inside.size(); ++i)
        out.text.append(inside.at(i) == '\\' ? inside.at(++i) : inside.at(i));
    return true;
}

// How many bytes of a literal of `announced` bytes starting here were kept.
qsizetype Reader::keptOf(qint64 announced) const
{
    for (const ImapFramed::Cut &cut : m_framed.cuts)
        if (cut.at == m_pos)
            return cut.kept < announced ? cut.kept : -1;
    return announced <= m_limits.literalBytes ? qsizetype(announced) : -1;
}

bool Reader::literal(ImapValue &out)
{
    if (peek() == '~')
        ++m_pos;
    const qsizetype close = m_bytes.indexOf('}', m_pos);
    if (peek() != '{' || close < 0 || close - m_pos > 22)
        return fail("a bad literal");
    QByteArrayView count = m_bytes.sliced(m_pos + 1, close - m_pos - 1);
    if (count.endsWith('+') || count.endsWith('-'))
        count.chop(1);
    if (!isDigits(count))
        return fail("a bad literal count");
    m_pos = close + 1;
    if (!endLine())
        return fail("a literal count not at the end of its line");
    const qsizetype kept = keptOf(digitsValue(count));
    if (kept < 0 || kept > m_bytes.size() - m_pos)
        return fail("a literal longer than the response");
    out.kind = ImapValue::Kind::String;
    out.text = sharedSlice(*m_framed.buffer, m_framed.start + m_pos, kept);
    m_pos += kept;
    return true;
}

// An atom's text shares the arrived bytes too: a FETCH response is mostly
// atoms, and a copy of each would cost an allocation.
bool Reader::atom(ImapValue &out)
{
    const char *const begin = m_bytes.data();
    const char *const end = begin + m_bytes.size();
    const char *p = begin + m_pos;
    int brackets = 0;
    for (; p != end; ++p) {
        const char c = *p;
        if (c == '\r' || c == '\n')
            break;
        if (c == '[')
            ++brackets;
        else if (c == ']' && brackets > 0)
            --brackets;
        else if (brackets == 0 && (c == ' ' || c == '(' || c == ')' || c == '"' || c == '{'))
            break;
    }
    const qsizetype start = m_pos;
    m_pos = p - begin;
    if (m_pos == start)
        return fail(peek() == ')' ? "a closing parenthesis without its list" : "an empty value");
    const QByteArrayView text = m_bytes.sliced(start, m_pos - start);
    if (text.size() == 3 && text.compare("NIL", Qt::CaseInsensitive) == 0) {
        out.kind = ImapValue::Kind::Nil;
        return true;
    }
    out.kind = ImapValue::Kind::Atom;
    out.text = sharedSlice(*m_framed.buffer, m_framed.start + start, text.size());
    return true;
}

bool isStatusWord(QByteArrayView word)
{
    return word == "OK" || word == "NO" || word == "BAD" || word == "BYE" || word == "PREAUTH";
}

void readStatus(Reader &reader, ImapResponse &response)
{
    reader.skipSpaces();
    QByteArrayView rest = reader.restOfLine();
    if (rest.startsWith('[')) {
        const qsizetype close = rest.indexOf(']');
        if (close > 0) {
            const QByteArrayView inside = rest.sliced(1, close - 1);
            const qsizetype space = inside.indexOf(' ');
            response.code = (space < 0 ? inside : inside.first(space)).toByteArray().toUpper();
            response.codeArguments = space < 0 ? QByteArray() : inside.sliced(space + 1).trimmed().toByteArray();
            rest = rest.sliced(close + 1).trimmed();
        }
    }
    response.text = rest.toByteArray();
}

} // namespace

bool ImapValue::isAtom(QByteArrayView name) const
{
    // Servers mostly write item names as they are asked for: the exact
    // comparison settles most at once.
    return kind == Kind::Atom && text.size() == name.size()
        && (QByteArrayView(text) == name || QByteArrayView(text).compare(name, Qt::CaseInsensitive) == 0);
}

qint64 ImapValue::number() const
{
    return kind == Kind::Atom && isDigits(text) ? digitsValue(text) : -1;
}

bool ImapResponse::isStatus() const
{
    return kind == Kind::Tagged || isStatusWord(keyword);
}

const ImapValue *ImapResponse::fetchItem(QByteArrayView name) const
{
    if (keyword != "FETCH" || values.isEmpty() || values.first().kind != ImapValue::Kind::List)
        return nullptr;
    const QList<ImapValue> &items = values.first().items;
    for (qsizetype i = 0; i + 1 < items.size(); i += 2)
        if (items.at(i).isAtom(name))
            return &items.at(i + 1);
    return nullptr;
}

// Responses are handed on from `from` on and the buffer shortened once at
// the end: removing each from the front would move the rest of a large
// batch again for every response.
ImapFramer::End ImapFramer::frame(QByteArray &buffer, const Sink &sink)
{
    qsizetype from = 0;
    for (;;) {
        qsizetype length = 0;
        const Step step = next(buffer, from, length);
        if (step == Step::TooLarge)
            return End::TooLarge;
        if (step == Step::NeedMore)
            break;
        const ImapFramed framed{&buffer, from, length, std::exchange(m_cuts, {})};
        reset();
        from += length;
        if (!sink(framed) || buffer.size() < from) // stopped, or the connection dropped what it held
            return End::Stopped;
    }
    buffer.remove(0, from);
    return End::NeedMore;
}

// The literal awaited has arrived in part or whole: what is past its kept
// part is dropped, up to its announced end.
ImapFramer::Step ImapFramer::literalArrived(QByteArray &buffer, qsizetype from)
{
    const qsizetype held = buffer.size() - from;
    if (held < m_literalEnd)
        return Step::NeedMore;
    if (m_dropping > 0) {
        const qsizetype drop = qsizetype(qMin<qint64>(held - m_literalEnd, m_dropping));
        buffer.remove(from + m_literalEnd, drop);
        m_dropping -= drop;
        m_dropped += drop;
        if (m_dropping > 0)
            return Step::NeedMore;
    }
    m_lineStart = m_scanned = m_literalEnd;
    m_literalEnd = -1;
    return Step::Framed;
}

ImapFramer::Step ImapFramer::next(QByteArray &buffer, qsizetype from, qsizetype &length)
{
    for (;;) {
        if (m_literalEnd >= 0 && literalArrived(buffer, from) == Step::NeedMore)
            return Step::NeedMore;
        const qsizetype held = buffer.size() - from;
        const qsizetype found = buffer.indexOf('\n', from + m_scanned);
        if (found < 0) {
            m_scanned = held;
            const bool tooLong = held - m_lineStart > m_limits.lineBytes || held + m_dropped > m_limits.responseBytes;
            return tooLong ? Step::TooLarge : Step::NeedMore;
        }
        const qsizetype eol = found - from;
        if (eol - m_lineStart > m_limits.lineBytes)
            return Step::TooLarge;
        QByteArrayView line(buffer.constData() + from + m_lineStart, eol - m_lineStart);
        if (line.endsWith('\r'))
            line.chop(1);
        const qint64 literal = announcedLiteral(line);
        if (literal < 0) {
            length = eol + 1;
            return length + m_dropped > m_limits.responseBytes ? Step::TooLarge : Step::Framed;
        }
        // A literal that would pass the response's bound is refused as soon
        // as it is announced, long before its bytes could fill memory.
        if (eol + 1 + m_dropped + literal > m_limits.responseBytes)
            return Step::TooLarge;
        const qint64 kept = qMin(literal, m_limits.literalBytes);
        if (kept < literal)
            m_cuts.append({eol + 1, qsizetype(kept)});
        m_dropping = literal - kept;
        m_literalEnd = m_scanned = eol + 1 + qsizetype(kept);
    }
}

void ImapFramer::reset()
{
    m_lineStart = m_scanned = 0;
    m_literalEnd = -1;
    m_dropping = m_dropped = 0;
    m_cuts.clear();
}

std::optional<ImapResponse> parseImapResponse(const ImapFramed &framed, const ImapLimits &limits, QString *why)
{
    Reader reader(framed, limits);
    ImapResponse response;
    auto failed = [&](const QString &text) -> std::optional<ImapResponse> {
        if (why)
            *why = text;
        return std::nullopt;
    };
    if (reader.peek() == '+') {
        response.kind = ImapResponse::Kind::Continuation;
        reader.word();
        reader.skipSpaces();
        response.text = reader.restOfLine().toByteArray();
        return response;
    }
    const QByteArrayView first = reader.word();
    if (first.isEmpty())
        return failed(QStringLiteral("an empty response"));
    if (first == "*") {
        response.kind = ImapResponse::Kind::Untagged;
    } else {
        response.kind = ImapResponse::Kind::Tagged;
        response.tag = first.toByteArray();
    }
    reader.skipSpaces();
    QByteArrayView keyword = reader.word();
    if (response.kind == ImapResponse::Kind::Untagged && isDigits(keyword)) {
        response.number = digitsValue(keyword);
        reader.skipSpaces();
        keyword = reader.word();
    }
    if (keyword.isEmpty())
        return failed(QStringLiteral("a response without a keyword"));
    response.keyword = keyword.toByteArray().toUpper();
    if (response.isStatus()) {
        if (!isStatusWord(response.keyword))
            return failed(QStringLiteral("a tagged response that is no status"));
        readStatus(reader, response);
        return response;
    }
    if (!reader.values(response.values, 0))
        return failed(reader.error);
    if (reader.peek() == ')')
        return failed(QStringLiteral("a closing parenthesis without its list"));
    if (!reader.endLine() || !reader.atEnd())
        return failed(QStringLiteral("bytes after the end of the response"));
    return response;
}
