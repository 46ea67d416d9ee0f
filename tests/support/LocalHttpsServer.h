#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QSslCertificate>
#include <QSslKey>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>

// An HTTPS server on 127.0.0.1 serving fixed replies by host and path, with
// a certificate authority of its own made by openssl when it starts, for
// tests and benchmarks of clients that take their trusted authorities from
// a seam. In plain mode it speaks HTTP without TLS.
class LocalHttpsServer : public QTcpServer {
    Q_OBJECT
public:
    struct Reply {
        QByteArray body;
        int status = 200;
        QByteArray location; // sent as Location: for a redirect
        int delayMs = 0; // before the reply is sent
    };

    explicit LocalHttpsServer(QObject *parent = nullptr);

    // Makes the authority and a server certificate for `names`, then listens
    // on a free port of 127.0.0.1. False (with *error) when openssl fails.
    bool start(const QStringList &names, QString *error);
    // Listens without TLS.
    bool startPlain();

    // `hostAndPath`: "autoconfig.example.test/mail/config-v1.1.xml" (no
    // query). A request nothing is set for gets 404.
    void setReply(const QString &hostAndPath, const Reply &reply) { m_replies.insert(hostAndPath, reply); }
    // That place's body never ends: no length is announced and filler
    // follows as fast as the client reads, until it hangs up (or 32 MiB).
    void setEndless(const QString &hostAndPath) { m_endless.insert(hostAndPath); }
    QList<QSslCertificate> authorities() const { return {m_authority}; }
    // "host/path?query" of every request, in order.
    const QStringList &requests() const { return m_requests; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    bool makeCertificates(const QStringList &names, QString *error);
    void serve(QTcpSocket *socket);
    void serveEndless(QTcpSocket *socket, const QByteArray &head);

    QTemporaryDir m_dir;
    bool m_tls = true;
    QSslCertificate m_authority;
    QSslCertificate m_certificate;
    QSslKey m_key;
    QHash<QString, Reply> m_replies;
    QSet<QString> m_endless;
    QStringList m_requests;
};
