#include "HeaderDisplay.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>

// The word splitting lives here rather than in GMime: the GMime of Debian 12
// (3.2.13) joins the base64 text of adjacent encoded words before decoding it,
// so everything after the first padded word is lost, and it silently drops
// the bytes of a word whose charset it does not know. The byte decoding and
// the charset conversion are Qt's (QByteArray, and QStringDecoder on ICU).

namespace {

// charset, an optional RFC 2231 language, encoding, encoded text. The text may
// not hold "?" or a line break, so a match never runs past its word's end;
// spaces are let in because some senders put them into Q words unencoded.
// Charset names are held to the characters real ones use: the name goes to
// the converter library, which reads more than a plain name (paths, options).
const QRegularExpression &encodedWordPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral(R"(=\?([A-Za-z0-9][A-Za-z0-9_.:+\-]{0,39})(?:\*[A-Za-z0-9\-]*)?\?([BbQq])\?([^?\r\n]*)\?=)"));
    return pattern;
}

// Line breaks: a fold (a break before white space) disappears, leaving the
// white space; a stray break becomes a space.
QString unfolded(const QString &raw)
{
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (c != u'\r' && c != u'\n') {
            out.append(c);
            continue;
        }
        if (c == u'\r' && i + 1 < raw.size() && raw.at(i + 1) == u'\n')
            ++i;
        const bool folded = i + 1 < raw.size() && (raw.at(i + 1) == u' ' || raw.at(i + 1) == u'\t');
        if (!folded)
            out.append(u' ');
    }
    return out;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// "_" is a space, "=XX" a byte; an "=" not followed by two hex digits is kept.
QByteArray decodeQ(const QByteArray &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '_') {
            out.append(' ');
        } else if (c == '=' && i + 2 < text.size() && hexValue(text.at(i + 1)) >= 0 && hexValue(text.at(i + 2)) >= 0) {
            out.append(char(hexValue(text.at(i + 1)) * 16 + hexValue(text.at(i + 2))));
            i += 2;
        } else {
            out.append(c);
        }
    }
    return out;
}

// Labels that mail uses for a smaller set than the text really is in; the
// superset decodes every valid text the same and the rest without loss.
QByteArray converterName(const QString &charset)
{
    const QString name = charset.toLower();
    if (name == u"gb2312" || name == u"gbk" || name == u"x-gbk" || name == u"euc-cn" || name == u"cp936")
        return QByteArrayLiteral("GB18030");
    if (name == u"iso-8859-1" || name == u"us-ascii" || name == u"latin1" || name == u"ascii")
        return QByteArrayLiteral("windows-1252");
    // Without a byte-order mark UTF-16 and UTF-32 are big-endian (RFC 2781);
    // the words' bytes are put in that order first (inBigEndianOrder).
    if (name == u"utf-16" || name == u"utf16")
        return QByteArrayLiteral("UTF-16BE");
    if (name == u"utf-32" || name == u"utf32")
        return QByteArrayLiteral("UTF-32BE");
    return charset.toLatin1();
}

// The bytes of one encoded word in a charset of 2- or 4-byte units whose
// order a leading byte-order mark gives: in big-endian order, the mark
// dropped. A word with no mark is big-endian already; others are unchanged.
QByteArray inBigEndianOrder(const QByteArray &converter, QByteArray bytes)
{
    const int width = converter == "UTF-16BE" ? 2 : converter == "UTF-32BE" ? 4 : 0;
    if (width == 0)
        return bytes;
    const QByteArray big = width == 2 ? QByteArray("\xFE\xFF", 2) : QByteArray("\0\0\xFE\xFF", 4);
    const QByteArray little = width == 2 ? QByteArray("\xFF\xFE", 2) : QByteArray("\xFF\xFE\0\0", 4);
    if (bytes.startsWith(big))
        return bytes.mid(width);
    if (!bytes.startsWith(little))
        return bytes;
    bytes.remove(0, width);
    for (qsizetype i = 0; i + width <= bytes.size(); i += width)
        std::reverse(bytes.begin() + i, bytes.begin() + i + width);
    return bytes;
}

bool isWhiteSpace(QStringView text)
{
    for (QChar c : text) {
        if (c != u' ' && c != u'\t')
            return false;
    }
    return true;
}

// Control characters (and Unicode line breaks) would break a one-line list
// row or the detail pane; they are shown as spaces.
QString withoutControls(QString text)
{
    for (QChar &c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u <= 0x9f) || u == 0x2028 || u == 0x2029)
            c = u' ';
    }
    return text.trimmed();
}

// A text with nothing to unfold, decode, blank out or trim is shown as it
// is: most are, and sharing the text costs no memory.
bool shownAsIs(const QString &raw)
{
    if (raw.isEmpty())
        return true;
    if (raw.front().isSpace() || raw.back().isSpace())
        return false;
    char16_t previous = 0;
    for (QChar c : raw) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u <= 0x9f) || u == 0x2028 || u == 0x2029 || (previous == u'=' && u == u'?'))
            return false;
        previous = u;
    }
    return true;
}

// Consecutive encoded words in one charset are converted together, so that a
// character split between two words comes out whole.
class Run {
public:
    explicit Run(QString &out)
        : m_out(out)
    {
    }

    bool continues(const QByteArray &converter) const { return !m_bytes.isNull() && converter == m_converter; }

    void start(const QByteArray &converter, const QByteArray &bytes)
    {
        flush();
        m_converter = converter;
        m_bytes = bytes.isNull() ? QByteArray("") : bytes;
    }

    void add(const QByteArray &bytes) { m_bytes.append(bytes); }

    void flush()
    {
        if (m_bytes.isNull())
            return;
        QStringDecoder decoder(m_converter.constData());
        m_out.append(decoder.decode(m_bytes));
        m_bytes = QByteArray();
    }

private:
    QString &m_out;
    QByteArray m_converter;
    QByteArray m_bytes;
};

} // namespace

namespace HeaderDisplay {

QString decodedText(const QString &raw)
{
    if (shownAsIs(raw))
        return raw;
    const QString text = unfolded(raw);
    if (!text.contains(u"=?"))
        return withoutControls(text);

    QString out;
    out.reserve(text.size());
    Run run(out);
    qsizetype pos = 0;
    bool afterEncodedWord = false;
    QRegularExpressionMatchIterator it = encodedWordPattern().globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QStringView between = QStringView(text).mid(pos, m.capturedStart() - pos);
        pos = m.capturedEnd();

        const QByteArray converter = converterName(m.captured(1));
        if (!QStringDecoder(converter.constData()).isValid()) {
            run.flush();
            out.append(between);
            out.append(m.capturedView(0));
            afterEncodedWord = false;
            continue;
        }
        const QByteArray payload = m.capturedView(3).toLatin1();
        const bool base64 = m.capturedView(2).compare(u"B", Qt::CaseInsensitive) == 0;
        const QByteArray bytes = inBigEndianOrder(converter,
                                                  base64 ? QByteArray::fromBase64(payload) : decodeQ(payload));

        if (afterEncodedWord && isWhiteSpace(between)) {
            if (run.continues(converter))
                run.add(bytes);
            else
                run.start(converter, bytes);
        } else {
            run.flush();
            out.append(between);
            run.start(converter, bytes);
        }
        afterEncodedWord = true;
    }
    run.flush();
    out.append(QStringView(text).mid(pos));
    return withoutControls(out);
}

QString plainToolTip(const QString &text)
{
    return QStringLiteral("<p style='white-space:pre-wrap'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

} // namespace HeaderDisplay
