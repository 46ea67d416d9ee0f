#include "HeaderDigest.h"

#include <QCryptographicHash>

namespace {

// Fields mbox-based servers write into the message as it is read.
bool changedByServer(QByteArrayView name)
{
    static constexpr QByteArrayView kFields[] = {"status", "x-status",       "x-keywords", "x-uid",
                                                 "x-uidl", "content-length", "lines"};
    for (const QByteArrayView field : kFields)
        if (name.compare(field, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace

namespace HeaderDigest {

QByteArray of(QByteArrayView headerBlock)
{
    if (headerBlock.isEmpty())
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    bool skipping = false;
    qsizetype from = 0;
    while (from < headerBlock.size()) {
        qsizetype end = headerBlock.indexOf('\n', from);
        if (end < 0)
            end = headerBlock.size();
        QByteArrayView line = headerBlock.sliced(from, end - from);
        from = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        const bool continuation = !line.isEmpty() && (line.front() == ' ' || line.front() == '\t');
        if (!continuation) {
            const qsizetype colon = line.indexOf(':');
            skipping = colon > 0 && changedByServer(line.first(colon).trimmed());
        }
        if (skipping)
            continue;
        hash.addData(line);
        hash.addData("\n");
    }
    return hash.result();
}

QByteArray blockOfReply(QStringView reply)
{
    // An IMAP header comes as the block alone, without a status or dot line
    // (a field name never begins with a status indicator).
    if (!reply.startsWith(u'+') && !reply.startsWith(u'-'))
        return reply.toLatin1();
    const qsizetype statusEnd = reply.indexOf(u"\r\n");
    if (statusEnd < 0)
        return {};
    reply = reply.mid(statusEnd + 2);
    if (reply.endsWith(u".\r\n"))
        reply.chop(3);
    return reply.toLatin1();
}

} // namespace HeaderDigest
