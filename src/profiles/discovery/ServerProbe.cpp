#include "ServerProbe.h"

#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

namespace {
constexpr int kMaxReply = 16 * 1024; // a greeting and capabilities are far shorter
}

ServerProbe::ServerProbe(const DiscoverySeam &seam, QObject *parent)
    : QObject(parent)
    , m_seam(seam)
{
}

QList<ServerProbe::Candidate> ServerProbe::candidatesFor(const QString &domain)
{
    const auto imap = [&domain](const char *prefix) {
        const QString host = QLatin1String(prefix) + domain;
        return QList<Candidate>{{host, 993, QStringLiteral("IMAP"), true}, {host, 143, QStringLiteral("IMAP"), false}};
    };
    const auto pop = [&domain](const char *prefix) {
        const QString host = QLatin1String(prefix) + domain;
        return QList<Candidate>{{host, 995, QStringLiteral("POP3"), true}, {host, 110, QStringLiteral("POP3"), false}};
    };
    return imap("imap.") + pop("pop.") + pop("pop3.") + imap("mail.") + pop("mail.");
}

void ServerProbe::start(const EmailAddress &address)
{
    m_address = address;
    m_candidates = candidatesFor(address.domain);
    m_results = QList<std::optional<AccountSettings>>(m_candidates.size());
    m_settled = QList<bool>(m_candidates.size(), false);
    m_open = int(m_candidates.size());
    Q_EMIT progress(QStringLiteral("Trying the usual server names of %1").arg(address.domain));
    for (int i = 0; i < m_candidates.size(); ++i)
        probe(i);
}

void ServerProbe::cancel()
{
    m_open = 0;
    m_settled.fill(true);
    for (QSslSocket *socket : findChildren<QSslSocket *>()) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

void ServerProbe::probe(int index)
{
    const Candidate &c = m_candidates.at(index);
    const QString target = m_seam.connectTarget(c.host);
    if (target.isEmpty()) {
        QTimer::singleShot(0, this, [this, index] { settle(index, false); });
        return;
    }
    auto *socket = new QSslSocket(this);
    socket->setObjectName(QString::number(index));
    QSslConfiguration tls = socket->sslConfiguration();
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!m_seam.authorities.isEmpty())
        tls.setCaCertificates(m_seam.authorities);
    socket->setSslConfiguration(tls);
    connect(socket, &QSslSocket::readyRead, this, [this, index] { onReadable(index); });
    connect(socket, &QAbstractSocket::errorOccurred, this, [this, index] { settle(index, false); });
    QTimer::singleShot(m_seam.requestMs, socket, [this, index] { settle(index, false); });
    const quint16 port = m_seam.portFor(c.port);
    if (c.implicitTls)
        socket->connectToHostEncrypted(target, port, c.host);
    else
        socket->connectToHost(target, port);
}

void ServerProbe::onReadable(int index)
{
    auto *socket = findChild<QSslSocket *>(QString::number(index), Qt::FindDirectChildrenOnly);
    if (!socket)
        return;
    const Candidate &c = m_candidates.at(index);
    const bool imap = c.protocol == QLatin1String("IMAP");
    QByteArray seen = socket->property("seen").toByteArray() + socket->readAll();
    socket->setProperty("seen", seen);
    if (seen.size() > kMaxReply) {
        settle(index, false);
        return;
    }
    const bool asked = socket->property("asked").toBool();
    if (!asked) {
        if (!seen.contains("\r\n"))
            return;
        const QByteArray greeting = seen.left(seen.indexOf("\r\n"));
        if (!(imap ? greeting.startsWith("* OK") || greeting.startsWith("* PREAUTH") : greeting.startsWith("+OK"))) {
            settle(index, false);
            return;
        }
        socket->setProperty("asked", true);
        socket->setProperty("seen", QByteArray());
        socket->write(imap ? "p1 CAPABILITY\r\n" : "CAPA\r\n");
        return;
    }
    // A POP3 server without CAPA answers -ERR: it is still a POP3 server.
    const bool done = imap ? seen.contains("\r\np1 ") || seen.startsWith("p1 ")
                           : seen.startsWith("-ERR") || seen.endsWith("\r\n.\r\n");
    if (!done)
        return;
    // A tagged NO or BAD refuses the question: no server that can be used.
    const QByteArray upper = seen.toUpper();
    if (imap && !upper.startsWith("P1 OK") && !upper.contains("\r\nP1 OK")) {
        settle(index, false);
        return;
    }
    AccountSettings s;
    s.protocol = c.protocol;
    s.host = c.host;
    s.port = c.port;
    if (c.implicitTls)
        s.security = QStringLiteral("SSL/TLS");
    else if (imap ? upper.contains("STARTTLS") : upper.contains("\r\nSTLS\r\n"))
        s.security = QStringLiteral("STARTTLS");
    else
        s.security = QStringLiteral("None");
    s.userName = m_address.address;
    s.source = QStringLiteral("probe");
    m_results[index] = s;
    socket->write(imap ? "p2 LOGOUT\r\n" : "QUIT\r\n");
    socket->flush();
    settle(index, true);
}

void ServerProbe::settle(int index, bool answered)
{
    if (index >= m_settled.size() || m_settled.at(index))
        return;
    m_settled[index] = true;
    if (auto *socket = findChild<QSslSocket *>(QString::number(index), Qt::FindDirectChildrenOnly)) {
        socket->disconnect(this);
        socket->setObjectName(QString());
        if (answered)
            socket->disconnectFromHost();
        else
            socket->abort();
        socket->deleteLater();
    }
    if (--m_open > 0)
        return;
    QList<AccountSettings> found;
    for (const auto &result : std::as_const(m_results))
        if (result)
            found << *result;
    Q_EMIT finished(found);
}
