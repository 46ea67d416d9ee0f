#include "MemoryConnection.h"

MemoryConnection::MemoryConnection(QObject *parent)
    : MailConnection(parent)
{
    handshake.kind = HandshakeResult::Kind::Secured;
    handshake.tcpConnected = true;
    handshake.trust = CertificateTrust::Verified;
    m_feed.setSingleShot(true);
    m_feed.setInterval(0);
    connect(&m_feed, &QTimer::timeout, this, &MemoryConnection::deliverNext);
}

void MemoryConnection::serve(const QByteArray &piece)
{
    m_pieces.enqueue(piece);
    if (m_open)
        m_feed.start();
}

void MemoryConnection::serveInPieces(const QByteArray &bytes, qsizetype size)
{
    for (qsizetype at = 0; at < bytes.size(); at += size)
        serve(bytes.mid(at, size));
}

void MemoryConnection::hangUpWhenServed()
{
    m_hangUp = true;
    if (m_open)
        m_feed.start();
}

void MemoryConnection::deliverNext()
{
    if (!m_open)
        return;
    if (m_pieces.isEmpty()) {
        if (m_hangUp)
            end(QAbstractSocket::RemoteHostClosedError);
        return;
    }
    const QByteArray piece = m_pieces.dequeue();
    if (!m_pieces.isEmpty() || m_hangUp)
        m_feed.start();
    if (isBroken())
        return; // nothing more is read from a broken conversation
    received().append(piece);
    arrived(piece.size());
}

void MemoryConnection::end(QAbstractSocket::SocketError error)
{
    m_open = false;
    m_feed.stop();
    m_error = error;
    Q_EMIT dropped();
}

HandshakeResult MemoryConnection::secure(const TlsTrust &trust)
{
    received().clear(); // what came in the clear is not the server's word inside TLS
    if (handshake.kind != HandshakeResult::Kind::Secured) {
        m_open = false;
        return handshake;
    }
    m_encrypted = true;
    if (!handshake.newFingerprint.isEmpty() && trust.trusted)
        trust.trusted(handshake.newFingerprint);
    return handshake;
}

bool MemoryConnection::write(const QByteArray &bytes)
{
    if (!m_open)
        return false;
    m_written += bytes;
    return true;
}

QString MemoryConnection::protocolName() const
{
    return isEncrypted() ? QStringLiteral("TLS 1.3") : QString();
}

void MemoryConnection::openTransport(const QString &, quint16, bool)
{
    m_open = true;
    m_reached = true;
    m_encrypted = false;
    m_error = QAbstractSocket::UnknownSocketError;
    if (!m_pieces.isEmpty() || m_hangUp)
        m_feed.start();
}

void MemoryConnection::closeTransport()
{
    m_open = false;
    m_feed.stop();
}

void MemoryConnection::abortLater()
{
    QTimer::singleShot(0, this, [this] {
        if (m_open)
            end(QAbstractSocket::RemoteHostClosedError);
    });
}
