#pragma once

#include "MailConnection.h"

class QSslSocket;

// A MailConnection over TCP (QSslSocket). The socket exists from open() to
// close(), never longer. Certificates are checked against the system's trust
// store and the host name; a failed check pauses the handshake until the
// pinned fingerprint or the prompt has decided, and is never ignored anywhere
// else.
class SocketConnection : public MailConnection {
    Q_OBJECT
public:
    explicit SocketConnection(QObject *parent = nullptr);
    ~SocketConnection() override;

    bool canSecure() const override;
    HandshakeResult secure(const TlsTrust &trust) override;
    bool write(const QByteArray &bytes) override;
    void flush() override;
    bool isOpen() const override;
    bool wasReached() const override { return m_reached; }
    bool isEncrypted() const override;
    QString protocolName() const override;
    QAbstractSocket::SocketError error() const override;
    QString errorString() const override;
    void readArrived() override;

protected:
    void openTransport(const QString &host, quint16 port, bool tls) override;
    void closeTransport() override;
    void abortLater() override;

private:
    QSslSocket *m_socket = nullptr;
    bool m_reached = false;
    bool m_tlsFromStart = false; // opened with TLS from the first byte
};
