#include "Pop3Parsers.h"

#include "HeaderFields.h"

#include <QStringView>
#include <limits>

namespace {
const QLatin1String kCrLf("\r\n");
} // namespace

QString GetReplyWord(const QString &reply, int n)
{
    if (n < 1)
        return {};
    qsizetype p = 0;
    int i = 1;
    while (i <= n - 1) {
        const qsizetype space = reply.indexOf(QLatin1Char(' '), p);
        if (space < 0)
            break;
        p = space + 1;
        ++i;
    }
    if (i != n)
        return {};
    qsizetype end = reply.indexOf(QLatin1Char(' '), p);
    if (end < 0)
        end = reply.indexOf(kCrLf, p);
    if (end < 0)
        end = reply.size();
    return reply.mid(p, end - p);
}

qint64 ListedSize(QStringView word)
{
    if (word.isEmpty())
        return -1;
    constexpr qint64 kMax = std::numeric_limits<qint64>::max();
    qint64 value = 0;
    for (const QChar c : word) {
        if (c < u'0' || c > u'9')
            return -1;
        const int digit = c.unicode() - '0';
        if (value > (kMax - digit) / 10)
            return -1; // a size past any file is no size
        value = value * 10 + digit;
    }
    return value;
}

qint64 ListReplySize(const QString &reply)
{
    if (!reply.startsWith(QLatin1String("+OK")))
        return -1;
    return ListedSize(GetReplyWord(reply, 3));
}

std::optional<QStringList> MultiLineBody(const QString &reply)
{
    if (!reply.startsWith(QLatin1String("+OK")))
        return std::nullopt;
    QStringList body;
    const QStringList lines = reply.split(QStringLiteral("\r\n"));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        if (line == QLatin1String("."))
            break;
        body.append(line.startsWith(QLatin1String("..")) ? line.mid(1) : line);
    }
    return body;
}

std::optional<QList<QPair<qint32, QString>>> ParseNumberedListing(const QString &reply)
{
    if (!reply.startsWith(QLatin1String("+OK")))
        return std::nullopt;
    // Read as MultiLineBody() and GetReplyWord() read it, over views of the
    // reply: a listing of many thousands of lines holds up the first TOP.
    const QStringView text(reply);
    QList<QPair<qint32, QString>> pairs;
    qsizetype pos = text.indexOf(kCrLf);
    while (pos >= 0 && pos + 2 <= text.size()) {
        pos += 2;
        qsizetype eol = text.indexOf(kCrLf, pos);
        QStringView line = text.sliced(pos, (eol < 0 ? text.size() : eol) - pos);
        pos = eol;
        if (line == QLatin1String("."))
            break;
        if (line.startsWith(QLatin1String("..")))
            line = line.sliced(1);
        const qsizetype space = line.indexOf(QLatin1Char(' '));
        if (space < 0)
            continue; // no id
        const qsizetype idEnd = line.indexOf(QLatin1Char(' '), space + 1);
        const QStringView uid = line.sliced(space + 1, (idEnd < 0 ? line.size() : idEnd) - space - 1);
        const qint64 number = LeadingNumber(line.first(space));
        if (number > 0 && number <= std::numeric_limits<qint32>::max() && !uid.isEmpty())
            pairs.append({qint32(number), uid.toString()});
    }
    return pairs;
}
