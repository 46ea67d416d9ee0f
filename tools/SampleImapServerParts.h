#pragma once

// What the files of SampleImapServer share: a session's state, the answer
// being written, and the reading of command words.
#include "SampleImapServer.h"

#include <QTcpSocket>
#include <utility>

namespace SampleImap {

inline constexpr qsizetype kWriteChunk = 256 * 1024;

// The command's arguments as words: atoms, quoted strings (unquoted) and
// parenthesised lists (kept whole, parentheses included).
QList<QByteArray> wordsOf(const QByteArray &text);
QByteArray quotedString(const QByteArray &text);

} // namespace SampleImap

struct SampleImapServer::Session {
    QTcpSocket *socket = nullptr;
    QByteArray input;
    bool authenticated = false;
    QString selected; // empty: no folder selected
    bool readOnly = false;
    QByteArray idleTag; // while idling
    QByteArray authTag; // while AUTHENTICATE awaits the client's response
    qsizetype known = 0; // messages of the selected folder the client was told of
    quint32 seenUpTo = 0; // a silent server's session sees UIDs below this
    qsizetype prompted = -1; // where a literal was last asked for
};

// What goes back to the client, written out in pieces as it grows.
struct SampleImapServer::Reply {
    QTcpSocket *socket;
    QByteArray bytes;
    bool close = false;

    void add(const QByteArray &text)
    {
        bytes += text;
        if (bytes.size() >= SampleImap::kWriteChunk)
            flush();
    }
    void flush()
    {
        if (bytes.isEmpty())
            return;
        socket->write(std::exchange(bytes, {}));
        socket->flush();
    }
};
