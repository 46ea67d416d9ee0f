#include "MessageEntry.h"

#include "HeaderDigest.h"
#include "PackedHeader.h"

QString MessageEntry::text(int column) const
{
    switch (column) {
    case 0:
        return sender;
    case 1:
        return subject;
    case 2:
        return date;
    case 3:
        return priority;
    case 4:
        return size;
    default:
        return {};
    }
}

void MessageEntry::setText(int column, const QString &value)
{
    switch (column) {
    case 0:
        sender = value;
        break;
    case 1:
        subject = value;
        break;
    case 2:
        date = value;
        break;
    case 3:
        priority = value;
        break;
    case 4:
        size = value;
        break;
    default:
        break;
    }
}

QByteArray MessageEntry::identityDigest() const
{
    return digest.isEmpty() && hasHeaderBlock() ? HeaderDigest::of(headerBlock()) : digest;
}

QByteArray MessageEntry::headerBlock() const
{
    return PackedHeader::unpack(m_packedHeader);
}

void MessageEntry::setHeaderBlock(QByteArrayView block)
{
    m_packedHeader = PackedHeader::pack(block);
}

void MessageEntry::setHeaderBlock(QByteArrayView block, PackedHeader::Packer &packer)
{
    m_packedHeader = packer.pack(block);
}
