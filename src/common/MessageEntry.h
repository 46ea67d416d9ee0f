#pragma once

#include "MessageKey.h"
#include "PackedHeader.h"
#include "SortReason.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// One fetched message as a row of the Inbox or the Recycle Bin. The number is
// the message's number on the server in the fetch session, carried unchanged
// through every move and sort; with the id and the header digest it names the
// message on the server. The key is what the fetch session removes it by.
// The texts are the header values exactly as sent (encoded words, folds and
// all): rules and lookups compare them. Only the folder model decodes them,
// for showing.
struct MessageEntry {
    QString sender; // the whole "From:" value, as sent
    QString subject;
    QString date;
    QString priority;
    QString size; // thousands of bytes + "K", padded on the left to 6
    qint64 bytes = -1; // the size the server listed; -1 when not known
    qint32 number = 0; // the row's tag
    MessageKey key; // the fetch session's; a later session finds the message again
    QString iconKey; // "inbox" or "recycle"
    QString uid; // the server's unique id (UIDL), empty when not offered
    SortReason sortReason; // what put the row in its folder
    // HeaderDigest of the header block as the fetch read it, when it was
    // taken apart from the block: before the row's message is deleted, the
    // header at its number must still give this (identityDigest()).
    QByteArray digest;

    // Column texts by 0-based column index (0 Sender ... 4 Size).
    QString text(int column) const;
    void setText(int column, const QString &value);

    // The message's header block as read (TOP n 0, without the status line
    // and the closing dot line), so that a new rule can sort the row as the
    // fetch would; empty for a header that could not be read or was not
    // kept. The bytes that came, a character each as Latin-1. A mailbox of
    // many thousands of messages keeps them all, so they are kept packed
    // (PackedHeader): reading one unpacks it.
    QByteArray headerBlock() const;
    void setHeaderBlock(QByteArrayView block);
    // The same with a packer kept for many rows (a fetch).
    void setHeaderBlock(QByteArrayView block, PackedHeader::Packer &packer);
    bool hasHeaderBlock() const { return !m_packedHeader.isEmpty(); }
    // `digest`, or else that of the kept header block: a fetch keeps the
    // block only, since few rows are ever deleted and every row is read.
    QByteArray identityDigest() const;

private:
    QByteArray m_packedHeader;
};

// Entries move in memory as they are: a list of many thousands grows
// without moving each one.
Q_DECLARE_TYPEINFO(MessageEntry, Q_RELOCATABLE_TYPE);
