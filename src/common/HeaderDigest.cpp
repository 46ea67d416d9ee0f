#include "HeaderDigest.h"

#include <QCryptographicHash>
#include <cstring>
#include <openssl/evp.h>

// Fields mbox-based servers write into the message as it is read.
bool HeaderDigest::changedByServer(QByteArrayView name)
{
    // Most fields are none of them: their first letter says so.
    const char first = name.isEmpty() ? '\0' : char(name.front() | 0x20);
    if (first != 's' && first != 'x' && first != 'c' && first != 'l')
        return false;
    static constexpr QByteArrayView kFields[] = {"status", "x-status",       "x-keywords", "x-uid",
                                                 "x-uidl", "content-length", "lines"};
    for (const QByteArrayView field : kFields)
        if (name.size() == field.size() && name.compare(field, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

namespace HeaderDigest {

QByteArray of(QByteArrayView headerBlock)
{
    if (headerBlock.isEmpty())
        return {};
    // The lines kept, each ended by LF, are hashed in one piece by the
    // system's crypto library: it uses the processor's SHA instructions,
    // which makes the digest of a large mailbox's headers several times
    // cheaper than Qt's portable SHA-256 (the digest itself is the same).
    // Each line gives at most its bytes and an LF.
    QByteArray kept(headerBlock.size() + 1, Qt::Uninitialized);
    char *out = kept.data();
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
        std::memcpy(out, line.data(), size_t(line.size()));
        out += line.size();
        *out++ = '\n';
    }
    kept.truncate(out - kept.constData());
    static EVP_MD *const sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int length = 0;
    if (!sha256
        || !EVP_Digest(kept.constData(), size_t(kept.size()), reinterpret_cast<unsigned char *>(digest.data()), &length,
                       sha256, nullptr))
        return QCryptographicHash::hash(kept, QCryptographicHash::Sha256);
    digest.truncate(int(length));
    return digest;
}

QByteArrayView blockOfReply(QByteArrayView reply)
{
    // An IMAP header comes as the block alone, without a status or dot line
    // (a field name never begins with a status indicator).
    if (!reply.startsWith('+') && !reply.startsWith('-'))
        return reply;
    const qsizetype statusEnd = reply.indexOf("\r\n");
    if (statusEnd < 0)
        return {};
    reply = reply.sliced(statusEnd + 2);
    if (reply.endsWith(".\r\n"))
        reply.chop(3);
    return reply;
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
