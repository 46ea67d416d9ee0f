#include "ImapCommands.h"

#include <algorithm>

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

QByteArray uidSet(QList<quint32> uids)
{
    std::sort(uids.begin(), uids.end());
    uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
    QByteArray out;
    for (qsizetype i = 0; i < uids.size();) {
        qsizetype j = i;
        while (j + 1 < uids.size() && uids.at(j + 1) == uids.at(j) + 1)
            ++j;
        if (!out.isEmpty())
            out += ',';
        out += QByteArray::number(uids.at(i));
        if (j > i)
            out += ':' + QByteArray::number(uids.at(j));
        i = j + 1;
    }
    return out;
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
