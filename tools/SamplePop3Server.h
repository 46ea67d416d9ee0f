#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;

// A small POP3 server for trying Trelvik without a mail account and for
// benchmarks: serves a list of messages on a loopback address, accepts the
// one user and password it was given, and honours DELE at QUIT. Not a mail
// server for real use: no TLS, no locking, everything in memory.
class SamplePop3Server : public QObject {
    Q_OBJECT
public:
    struct Message {
        QByteArray data; // the whole message, lines ended by CR LF
        QString uid; // unique id: printable ASCII, no spaces
        QString path; // the file it came from, removed when deleted
    };

    SamplePop3Server(QList<Message> messages, QByteArray user, QByteArray password, QObject *parent = nullptr);

    // Every message file (regular file, not hidden) of a folder, by name.
    static QList<Message> loadFolder(const QString &folder, QString *error = nullptr);
    // Lines ended by LF only become CR LF.
    static QByteArray toCrLf(const QByteArray &text);

    // Each reply waits this long before it is sent (to imitate a slow link).
    void setReplyDelay(int ms) { m_replyDelayMs = ms; }
    // Whether CAPA lists PIPELINING (on by default). Commands that arrive
    // together are answered in order either way.
    void setOfferPipelining(bool offer) { m_offerPipelining = offer; }
    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    quint16 port() const;
    int messageCount() const { return int(m_messages.size()); }

private:
    struct Session;
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    QByteArray handle(Session &session, const QByteArray &line, bool *close);
    void reply(QTcpSocket *socket, const QByteArray &text, bool close);
    // Message by the number given in a command, or nullptr (with the reason).
    const Message *messageFor(const Session &session, const QByteArray &arg, int *index, QByteArray *error) const;

    QTcpServer *m_server;
    QList<Message> m_messages;
    QByteArray m_user;
    QByteArray m_password;
    int m_replyDelayMs = 0;
    bool m_offerPipelining = true;
};
