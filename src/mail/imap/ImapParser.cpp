#include "ImapParser.h"

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
    return isDigits(count) ? count.toLongLong() : -1;
}

// A cursor over one framed response.
class Reader {
public:
    Reader(QByteArrayView bytes, const ImapLimits &limits)
        : m_bytes(bytes)
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
    QByteArray word()
    {
        const qsizetype start = m_pos;
        while (!atEnd() && peek() != ' ' && !atLineEnd())
            ++m_pos;
        return m_bytes.sliced(start, m_pos - start).toByteArray();
    }
    // The rest of the line, its end consumed.
    QByteArray restOfLine()
    {
        const qsizetype start = m_pos;
        while (!atEnd() && !atLineEnd())
            ++m_pos;
        QByteArray rest = m_bytes.sliced(start, m_pos - start).toByteArray();
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
    bool fail(const char *why)
    {
        if (error.isEmpty())
            error = QString::fromLatin1(why);
        return false;
    }

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
        ImapValue v;
        if (!value(v, depth))
            return false;
        out.append(std::move(v));
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
    for (++m_pos; !atEnd(); ++m_pos) {
        char c = peek();
        if (c == '"') {
            ++m_pos;
            return true;
        }
        if (c == '\r' || c == '\n')
            break;
        if (c == '\\') {
            ++m_pos;
            c = peek();
            if (c != '\\' && c != '"')
                return fail("a bad escape in a quoted string");
        }
        out.text.append(c);
    }
    return fail("a quoted string without its end");
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
    const qint64 n = count.toLongLong();
    m_pos = close + 1;
    if (!endLine())
        return fail("a literal count not at the end of its line");
    if (n > m_limits.literalBytes || n > m_bytes.size() - m_pos)
        return fail("a literal longer than the response");
    out.kind = ImapValue::Kind::String;
    out.text = m_bytes.sliced(m_pos, n).toByteArray();
    m_pos += n;
    return true;
}

bool Reader::atom(ImapValue &out)
{
    const qsizetype start = m_pos;
    int brackets = 0;
    for (; !atEnd(); ++m_pos) {
        const char c = peek();
        if (c == '\r' || c == '\n')
            break;
        if (c == '[')
            ++brackets;
        else if (c == ']' && brackets > 0)
            --brackets;
        else if (brackets == 0 && (c == ' ' || c == '(' || c == ')' || c == '"' || c == '{'))
            break;
    }
    if (m_pos == start)
        return fail(peek() == ')' ? "a closing parenthesis without its list" : "an empty value");
    out.text = m_bytes.sliced(start, m_pos - start).toByteArray();
    out.kind = out.text.compare("NIL", Qt::CaseInsensitive) == 0 ? ImapValue::Kind::Nil : ImapValue::Kind::Atom;
    if (out.kind == ImapValue::Kind::Nil)
        out.text.clear();
    return true;
}

bool isStatusWord(QByteArrayView word)
{
    return word == "OK" || word == "NO" || word == "BAD" || word == "BYE" || word == "PREAUTH";
}

void readStatus(Reader &reader, ImapResponse &response)
{
    reader.skipSpaces();
    QByteArray rest = reader.restOfLine();
    if (rest.startsWith('[')) {
        const qsizetype close = rest.indexOf(']');
        if (close > 0) {
            const QByteArray inside = rest.mid(1, close - 1);
            const qsizetype space = inside.indexOf(' ');
            response.code = (space < 0 ? inside : inside.left(space)).toUpper();
            response.codeArguments = space < 0 ? QByteArray() : inside.mid(space + 1).trimmed();
            rest = rest.mid(close + 1).trimmed();
        }
    }
    response.text = rest;
}

} // namespace

bool ImapValue::isAtom(QByteArrayView name) const
{
    return kind == Kind::Atom && QByteArrayView(text).compare(name, Qt::CaseInsensitive) == 0;
}

qint64 ImapValue::number() const
{
    return kind == Kind::Atom && isDigits(text) ? text.toLongLong() : -1;
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

ImapFramer::Step ImapFramer::next(QByteArrayView buffer, qsizetype &length)
{
    for (;;) {
        if (m_literalEnd >= 0) {
            if (buffer.size() < m_literalEnd)
                return Step::NeedMore;
            m_lineStart = m_scanned = m_literalEnd;
            m_literalEnd = -1;
        }
        const qsizetype eol = buffer.indexOf('\n', m_scanned);
        if (eol < 0) {
            m_scanned = buffer.size();
            const bool tooLong = m_scanned - m_lineStart > m_limits.lineBytes || m_scanned > m_limits.responseBytes;
            return tooLong ? Step::TooLarge : Step::NeedMore;
        }
        if (eol - m_lineStart > m_limits.lineBytes)
            return Step::TooLarge;
        QByteArrayView line(buffer.constData() + m_lineStart, eol - m_lineStart);
        if (line.endsWith('\r'))
            line.chop(1);
        const qint64 literal = announcedLiteral(line);
        if (literal < 0) {
            length = eol + 1;
            reset();
            return length > m_limits.responseBytes ? Step::TooLarge : Step::Framed;
        }
        if (literal > m_limits.literalBytes || eol + 1 + literal > m_limits.responseBytes)
            return Step::TooLarge;
        m_literalEnd = eol + 1 + literal;
        m_scanned = m_literalEnd;
    }
}

void ImapFramer::reset()
{
    m_lineStart = m_scanned = 0;
    m_literalEnd = -1;
}

std::optional<ImapResponse> parseImapResponse(QByteArrayView bytes, const ImapLimits &limits, QString *why)
{
    Reader reader(bytes, limits);
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
        response.text = reader.restOfLine();
        return response;
    }
    const QByteArray first = reader.word();
    if (first.isEmpty())
        return failed(QStringLiteral("an empty response"));
    if (first == "*") {
        response.kind = ImapResponse::Kind::Untagged;
    } else {
        response.kind = ImapResponse::Kind::Tagged;
        response.tag = first;
    }
    reader.skipSpaces();
    response.keyword = reader.word().toUpper();
    if (response.kind == ImapResponse::Kind::Untagged && isDigits(response.keyword)) {
        response.number = response.keyword.toLongLong();
        reader.skipSpaces();
        response.keyword = reader.word().toUpper();
    }
    if (response.keyword.isEmpty())
        return failed(QStringLiteral("a response without a keyword"));
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
