#pragma once

#include "MailConnection.h"

#include <QQueue>
#include <QTimer>

// A MailConnection in memory, for tests of a protocol's framing and results
// without a socket: the test queues what the server sends, piece by piece,
// and reads what the client wrote. Each piece arrives on a turn of its own
// of the event loop, as a socket's reads would.
class MemoryConnection : public MailConnection {
    Q_OBJECT
public:
    explicit MemoryConnection(QObject *parent = nullptr);

    // Queues bytes the server sends, as one arrival.
    void serve(const QByteArray &piece);
    // Queues bytes in arrivals of `size` bytes (the last may be shorter).
    void serveInPieces(const QByteArray &bytes, qsizetype size);
    // The server closes the connection once everything queued has arrived.
    void hangUpWhenServed();
    // Everything the client wrote, in order.
    const QByteArray &written() const { return m_written; }
    // Pieces queued that have not arrived.
    qsizetype piecesLeft() const { return m_pieces.size(); }
    // What secure() answers; Secured (certificate verified) unless set.
    HandshakeResult handshake;

    bool canSecure() const override { return true; }
    HandshakeResult secure(const TlsTrust &trust) override;
    bool write(const QByteArray &bytes) override;
    void flush() override { }
    bool isOpen() const override { return m_open; }
    bool wasReached() const override { return m_reached; }
    bool isEncrypted() const override { return m_open && m_encrypted; }
    QString protocolName() const override;
    QAbstractSocket::SocketError error() const override { return m_error; }
    QString errorString() const override { return {}; }
    void readArrived() override { }

protected:
    void openTransport(const QString &host, quint16 port, bool tls) override;
    void closeTransport() override;
    void abortLater() override;

private:
    void deliverNext();
    void end(QAbstractSocket::SocketError error);

    QQueue<QByteArray> m_pieces;
    QTimer m_feed;
    QByteArray m_written;
    bool m_open = false;
    bool m_reached = false;
    bool m_encrypted = false;
    bool m_hangUp = false;
    QAbstractSocket::SocketError m_error = QAbstractSocket::UnknownSocketError;
};
