#include "ImapCommands.h"

#include <algorithm>
#include <limits>

namespace ImapCommands {

std::optional<QByteArray> quoted(const QByteArray &text)
{
    QByteArray out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char c : text) {
        if (c == '\r' || c == '\n' || c == '\0' || (c & 0x80))
            return std::nullopt;
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

namespace {

// Modified base64 of UTF-16 (RFC 3501 5.1.3): ',' for '/', no padding.
QByteArray shifted(const QString &run)
{
    QByteArray utf16;
    for (const QChar c : run) {
        utf16 += char(c.unicode() >> 8);
        utf16 += char(c.unicode() & 0xff);
    }
    QByteArray encoded = utf16.toBase64(QByteArray::OmitTrailingEquals);
    encoded.replace('/', ',');
    return '&' + encoded + '-';
}

} // namespace

QByteArray mailbox(const QString &name)
{
    QByteArray out;
    QString run;
    for (const QChar c : name) {
        const bool printable = c.unicode() >= 0x20 && c.unicode() <= 0x7e;
        if (printable) {
            if (!run.isEmpty())
                out += shifted(std::exchange(run, {}));
            out += c == QLatin1Char('&') ? QByteArray("&-") : QByteArray(1, char(c.unicode()));
        } else {
            run += c;
        }
    }
    if (!run.isEmpty())
        out += shifted(run);
    return quoted(out).value_or(QByteArray("\"\""));
}

QString mailboxName(const QByteArray &name)
{
    QString out;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char c = name.at(i);
        if (c != '&') {
            out += QLatin1Char(c);
            continue;
        }
        const qsizetype end = name.indexOf('-', i + 1);
        if (end < 0)
            return QString::fromUtf8(name);
        if (end == i + 1) {
            out += QLatin1Char('&');
        } else {
            QByteArray run = name.mid(i + 1, end - i - 1);
            run.replace(',', '/');
            const auto result = QByteArray::fromBase64Encoding(run, QByteArray::AbortOnBase64DecodingErrors);
            const QByteArray &utf16 = result.decoded;
            if (!result || utf16.size() % 2 != 0)
                return QString::fromUtf8(name);
            for (qsizetype k = 0; k < utf16.size(); k += 2)
                out += QChar(char16_t((uchar(utf16.at(k)) << 8) | uchar(utf16.at(k + 1))));
        }
        i = end;
    }
    return out;
}

bool UidRuns::contains(quint32 uid) const
{
    return std::any_of(runs.cbegin(), runs.cend(),
                       [uid](const std::pair<quint32, quint32> &r) { return uid >= r.first && uid <= r.second; });
}

UidRuns parseUidSet(QByteArrayView text)
{
    UidRuns set;
    const auto number = [](QByteArrayView digits, quint32 &out) {
        bool ok = false;
        const qulonglong n = digits.toULongLong(&ok);
        out = quint32(n);
        return ok && n > 0 && n <= 0xffffffffULL && !digits.startsWith('+') && !digits.startsWith('-');
    };
    for (qsizetype from = 0; from <= text.size();) {
        qsizetype comma = text.indexOf(',', from);
        if (comma < 0)
            comma = text.size();
        const QByteArrayView part = text.sliced(from, comma - from);
        from = comma + 1;
        // "n" is the run n:n.
        const qsizetype colon = part.indexOf(':');
        const QByteArrayView low = colon < 0 ? part : part.first(colon);
        const QByteArrayView high = colon < 0 ? part : part.sliced(colon + 1);
        quint32 first = 0, last = 0;
        if (!number(low, first) || !number(high, last))
            return {};
        set.runs.append({qMin(first, last), qMax(first, last)});
    }
    return set;
}

QList<UidSetPart> uidSets(QList<quint32> uids, qsizetype maxBytes)
{
    std::sort(uids.begin(), uids.end());
    uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
    QList<UidSetPart> parts;
    for (qsizetype i = 0; i < uids.size();) {
        qsizetype j = i;
        while (j + 1 < uids.size() && uids.at(j + 1) == uids.at(j) + 1)
            ++j;
        QByteArray run = QByteArray::number(uids.at(i));
        if (j > i)
            run += ':' + QByteArray::number(uids.at(j));
        if (parts.isEmpty() || parts.constLast().set.size() + 1 + run.size() > maxBytes)
            parts.append(UidSetPart{});
        UidSetPart &part = parts.last();
        part.set += (part.set.isEmpty() ? QByteArray() : QByteArray(",")) + run;
        part.uids.append(uids.mid(i, j - i + 1));
        i = j + 1;
    }
    return parts;
}

QByteArray uidSet(QList<quint32> uids)
{
    const QList<UidSetPart> parts = uidSets(std::move(uids), std::numeric_limits<qsizetype>::max());
    return parts.isEmpty() ? QByteArray() : parts.constFirst().set;
}

QString identity(quint32 uidValidity, quint32 uid)
{
    return QStringLiteral("%1/%2").arg(uidValidity).arg(uid);
}

std::optional<Identity> parseIdentity(const QString &text)
{
    const qsizetype slash = text.indexOf(QLatin1Char('/'));
    if (slash <= 0)
        return std::nullopt;
    bool okValidity = false, okUid = false;
    const Identity id{text.left(slash).toUInt(&okValidity), text.mid(slash + 1).toUInt(&okUid)};
    if (!okValidity || !okUid || id.uid == 0)
        return std::nullopt;
    return id;
}

} // namespace ImapCommands
