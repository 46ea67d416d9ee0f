#include "RespondingConnection.h"

RespondingConnection::RespondingConnection(const QByteArray &greeting, Responder responder, qsizetype pieceSize,
                                           QObject *parent)
    : MemoryConnection(parent)
    , m_responder(std::move(responder))
    , m_pieceSize(pieceSize)
{
    serveInPieces(greeting, m_pieceSize);
}

bool RespondingConnection::write(const QByteArray &bytes)
{
    if (!MemoryConnection::write(bytes))
        return false;
    m_pending += bytes;
    for (qsizetype end = m_pending.indexOf("\r\n"); end >= 0; end = m_pending.indexOf("\r\n")) {
        const QByteArray line = m_pending.left(end);
        m_pending.remove(0, end + 2);
        const QByteArray answer = m_responder(line);
        if (!answer.isEmpty())
            serveInPieces(answer, m_pieceSize);
    }
    return true;
}
