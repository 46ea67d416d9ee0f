#include "FakeAuthServer.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>

namespace testsupport {

namespace {

QByteArray response(int status, const QByteArray &reason, const QByteArray &body, const QByteArray &extraHeaders = {})
{
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n" + extraHeaders
        + "Content-Type: application/json\r\nConnection: close\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\n\r\n" + body;
}

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QUrlQuery form(const QByteArray &body)
{
    QUrlQuery query;
    query.setQuery(QString::fromLatin1(QByteArray(body).replace('+', ' ')));
    return query;
}

QString value(const QUrlQuery &query, const char *name)
{
    return query.queryItemValue(QLatin1String(name), QUrl::FullyDecoded);
}

} // namespace

FakeAuthServer::FakeAuthServer(const QString &user, QObject *parent)
    : QObject(parent)
    , m_user(user)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &FakeAuthServer::onConnection);
}

FakeAuthServer::~FakeAuthServer() = default;

bool FakeAuthServer::listen()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

QUrl FakeAuthServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server->serverPort()).arg(path));
}

void FakeAuthServer::onConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onData(socket); });
    }
}

void FakeAuthServer::onData(QTcpSocket *socket)
{
    const QByteArray data = socket->property("data").toByteArray() + socket->readAll();
    socket->setProperty("data", data);
    const qsizetype headerEnd = data.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;
    const QByteArray head = data.left(headerEnd);
    qsizetype length = 0;
    for (const QByteArray &line : head.split('\n')) {
        if (line.toLower().startsWith("content-length:"))
            length = line.mid(15).trimmed().toLongLong();
    }
    const QByteArray body = data.mid(headerEnd + 4);
    if (body.size() < length)
        return;
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    const QUrl target(QString::fromLatin1(requestLine.value(1)));
    socket->write(handle(requestLine.value(0), target, body.left(length)));
    socket->disconnectFromHost();
}

QByteArray FakeAuthServer::tokens(bool withRefresh, bool withIdToken)
{
    ++m_serial;
    const QString access = QStringLiteral("fake-access-%1").arg(m_serial);
    m_active.insert(access);
    QJsonObject answer{{QStringLiteral("access_token"), access},
                       {QStringLiteral("token_type"), QStringLiteral("Bearer")},
                       {QStringLiteral("expires_in"), 3600}};
    if (withRefresh) {
        const QString refresh = QStringLiteral("fake-refresh-%1").arg(m_serial);
        m_refresh.insert(refresh);
        answer.insert(QStringLiteral("refresh_token"), refresh);
    }
    if (withIdToken) {
        // Unsigned: the program only shows who signed in.
        const auto part = [](const QJsonObject &object) {
            return QJsonDocument(object)
                .toJson(QJsonDocument::Compact)
                .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
        };
        const QByteArray idToken = part({{QStringLiteral("alg"), QStringLiteral("none")}}) + '.'
            + part({{QStringLiteral("sub"), QStringLiteral("12345")}, {QStringLiteral("email"), m_user}}) + ".sig";
        answer.insert(QStringLiteral("id_token"), QString::fromLatin1(idToken));
    }
    return response(200, "OK", json(answer));
}

QByteArray FakeAuthServer::handle(const QByteArray &method, const QUrl &target, const QByteArray &body)
{
    const QString path = target.path();
    if (method == "GET" && path == QLatin1String("/authorize")) {
        const QUrlQuery query(target);
        const QString redirect = value(query, "redirect_uri");
        if (value(query, "client_id") != clientId() || value(query, "response_type") != QLatin1String("code")
            || value(query, "code_challenge_method") != QLatin1String("S256")
            || !redirect.startsWith(QLatin1String("http://127.0.0.1:"))) {
            m_problems << QStringLiteral("bad authorization request: ") + target.toString();
            return response(400, "Bad Request", "{}");
        }
        const QString code = QStringLiteral("code-%1").arg(++m_serial);
        m_codes.insert(code,
                       {value(query, "code_challenge"), redirect,
                        value(query, "scope").split(QLatin1Char(' ')).contains(QLatin1String("openid"))});
        QUrl back(redirect);
        QUrlQuery answer;
        answer.addQueryItem(QStringLiteral("code"), code);
        answer.addQueryItem(QStringLiteral("state"), value(query, "state"));
        back.setQuery(answer);
        return response(302, "Found", "{}", "Location: " + back.toEncoded() + "\r\n");
    }
    const QUrlQuery request = form(body);
    if (method == "POST" && path == QLatin1String("/token")) {
        if (value(request, "client_id") != clientId())
            return response(401, "Unauthorized", R"({"error":"invalid_client"})");
        const QString grant = value(request, "grant_type");
        if (grant == QLatin1String("authorization_code")) {
            const Code code = m_codes.take(value(request, "code"));
            const QString verifier = value(request, "code_verifier");
            const QString expected =
                QString::fromLatin1(QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256)
                                        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
            if (code.challenge.isEmpty() || expected != code.challenge
                || value(request, "redirect_uri") != code.redirect) {
                m_problems << QStringLiteral("code exchange refused (code, PKCE verifier or redirect)");
                return response(400, "Bad Request", R"({"error":"invalid_grant"})");
            }
            ++m_codeGrants;
            return tokens(true, code.openId);
        }
        if (grant == QLatin1String("refresh_token")) {
            if (!m_refresh.contains(value(request, "refresh_token"))) {
                ++m_refusedRefreshes;
                return response(400, "Bad Request",
                                R"({"error":"invalid_grant","error_description":"Token has been revoked."})");
            }
            ++m_refreshGrants;
            if (m_rotate)
                m_refresh.remove(value(request, "refresh_token"));
            return tokens(m_rotate);
        }
        return response(400, "Bad Request", R"({"error":"unsupported_grant_type"})");
    }
    if (method == "POST" && path == QLatin1String("/introspect")) {
        ++m_introspections;
        const bool active = m_active.contains(value(request, "token"));
        QJsonObject answer{{QStringLiteral("active"), active}};
        if (active)
            answer.insert(QStringLiteral("username"), m_user);
        return response(200, "OK", json(answer));
    }
    return response(404, "Not Found", "{}");
}

} // namespace testsupport
