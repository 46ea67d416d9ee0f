#include "LocalHttpsServer.h"

#include <QFile>
#include <QProcess>
#include <QSslSocket>
#include <QTimer>

namespace {

bool run(const QString &folder, const QStringList &arguments, QString *error)
{
    QProcess openssl;
    openssl.setWorkingDirectory(folder);
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        *error = QStringLiteral("openssl %1 failed: %2")
                     .arg(arguments.value(0), QString::fromLocal8Bit(openssl.readAllStandardError()));
        return false;
    }
    return true;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray reasonFor(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    default:
        return "Status";
    }
}

} // namespace

LocalHttpsServer::LocalHttpsServer(QObject *parent)
    : QTcpServer(parent)
{
}

bool LocalHttpsServer::makeCertificates(const QStringList &names, QString *error)
{
    const QString dir = m_dir.path();
    QStringList altNames;
    for (const QString &name : names)
        altNames << QStringLiteral("DNS:") + name;
    QFile extensions(dir + QStringLiteral("/server.ext"));
    if (!extensions.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write %1").arg(extensions.fileName());
        return false;
    }
    extensions.write("subjectAltName=" + altNames.join(QLatin1Char(',')).toLatin1() + "\n");
    extensions.close();
    const QStringList ec{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                         QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    if (!run(dir,
             QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ec
                 + QStringList{QStringLiteral("-keyout"), QStringLiteral("ca.key"), QStringLiteral("-out"),
                               QStringLiteral("ca.pem"), QStringLiteral("-days"), QStringLiteral("2"),
                               QStringLiteral("-subj"), QStringLiteral("/CN=Trelvik Test Authority")},
             error)
        || !run(dir,
                QStringList{QStringLiteral("req")} + ec
                    + QStringList{QStringLiteral("-keyout"), QStringLiteral("server.key"), QStringLiteral("-out"),
                                  QStringLiteral("server.csr"), QStringLiteral("-subj"),
                                  QStringLiteral("/CN=") + names.value(0)},
                error)
        || !run(dir,
                {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), QStringLiteral("server.csr"),
                 QStringLiteral("-CA"), QStringLiteral("ca.pem"), QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
                 QStringLiteral("-CAcreateserial"), QStringLiteral("-days"), QStringLiteral("2"),
                 QStringLiteral("-extfile"), QStringLiteral("server.ext"), QStringLiteral("-out"),
                 QStringLiteral("server.pem")},
                error))
        return false;
    m_authority = QSslCertificate(readFile(dir + QStringLiteral("/ca.pem")));
    m_certificate = QSslCertificate(readFile(dir + QStringLiteral("/server.pem")));
    m_key = QSslKey(readFile(dir + QStringLiteral("/server.key")), QSsl::Ec);
    if (m_authority.isNull() || m_certificate.isNull() || m_key.isNull()) {
        *error = QStringLiteral("openssl made no usable certificate");
        return false;
    }
    return true;
}

bool LocalHttpsServer::start(const QStringList &names, QString *error)
{
    m_tls = true;
    if (!m_dir.isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    if (!makeCertificates(names, error))
        return false;
    if (!listen(QHostAddress::LocalHost)) {
        *error = errorString();
        return false;
    }
    return true;
}

bool LocalHttpsServer::startPlain()
{
    m_tls = false;
    return listen(QHostAddress::LocalHost);
}

void LocalHttpsServer::incomingConnection(qintptr descriptor)
{
    auto *socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        socket->deleteLater();
        return;
    }
    connect(socket, &QSslSocket::readyRead, this, [this, socket] { serve(socket); });
    connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QSslSocket::errorOccurred, socket, &QObject::deleteLater);
    if (m_tls) {
        socket->setLocalCertificate(m_certificate);
        socket->setPrivateKey(m_key);
        socket->startServerEncryption();
    }
}

void LocalHttpsServer::serve(QTcpSocket *socket)
{
    QByteArray seen = socket->property("seen").toByteArray() + socket->readAll();
    socket->setProperty("seen", seen);
    const qsizetype end = seen.indexOf("\r\n\r\n");
    if (end < 0 || socket->property("answered").toBool())
        return;
    socket->setProperty("answered", true);
    const QList<QByteArray> lines = seen.left(end).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    QByteArray host;
    for (const QByteArray &line : lines)
        if (line.toLower().startsWith("host:"))
            host = line.mid(5).trimmed().split(':').value(0);
    const QByteArray target = requestLine.value(1);
    m_requests << QString::fromLatin1(host + target);
    const QString key = QString::fromLatin1(host + target.split('?').value(0));
    const Reply reply = m_replies.value(key, Reply{"not here", 404, {}, 0});
    QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonFor(reply.status) + "\r\n";
    if (!reply.location.isEmpty())
        out += "Location: " + reply.location + "\r\n";
    if (m_endless.contains(key)) {
        serveEndless(socket, out + "Content-Type: text/xml\r\nConnection: close\r\n\r\n" + reply.body);
        return;
    }
    out += "Content-Type: text/xml\r\nContent-Length: " + QByteArray::number(reply.body.size())
        + "\r\nConnection: close\r\n\r\n" + reply.body;
    // A socket gone before the delay ends takes its timer with it.
    QTimer::singleShot(reply.delayMs, socket, [socket, out] {
        socket->write(out);
        socket->disconnectFromHost();
    });
}

void LocalHttpsServer::serveEndless(QTcpSocket *socket, const QByteArray &head)
{
    constexpr qint64 kChunk = 16 * 1024, kMost = 32 * 1024 * 1024;
    connect(socket, &QTcpSocket::bytesWritten, socket, [socket] {
        const qint64 sent = socket->property("sent").toLongLong();
        if (socket->bytesToWrite() > kChunk || sent >= kMost)
            return;
        socket->setProperty("sent", sent + kChunk);
        socket->write(QByteArray(kChunk, ' '));
    });
    socket->write(head);
}
