#include "AuthorizationFlow.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QTcpSocket>
#include <QUrlQuery>

namespace {

constexpr qsizetype kRequestMax = 16 * 1024;
// How long a refusal's page may take to reach the browser before the flow
// ends all the same.
constexpr int kPageDeliveryMs = 2000;

QByteArray page(int status, const QByteArray &reason, const QString &text)
{
    const QByteArray body = (QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Trelvik</title>"
                                            "</head><body><p>")
                             + text.toHtmlEscaped() + QStringLiteral("</p></body></html>\n"))
                                .toUtf8();
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason
        + "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\nConnection: close\r\n"
          "Content-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

void answer(QTcpSocket *socket, const QByteArray &reply)
{
    socket->write(reply);
    socket->disconnectFromHost();
}

} // namespace

AuthorizationFlow::AuthorizationFlow(const OAuthEndpoints &endpoints, QObject *parent)
    : QObject(parent)
    , m_endpoints(endpoints)
    , m_browser([](const QUrl &url) { return QDesktopServices::openUrl(url); })
{
    m_limit.setSingleShot(true);
    m_limit.setInterval(kTimeLimitMs);
    connect(&m_limit, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("The sign-in was not finished in the browser within %1 minutes.")
                 .arg(m_limit.interval() / 60000.0));
    });
    connect(&m_server, &QTcpServer::newConnection, this, &AuthorizationFlow::onConnection);
}

AuthorizationFlow::~AuthorizationFlow() = default;

bool AuthorizationFlow::start()
{
    m_running = true;
    m_answered = false;
    if (!m_endpoints.authorizeUrl.isValid() || !m_endpoints.tokenUrl.isValid() || m_endpoints.clientId.isEmpty()) {
        QTimer::singleShot(0, this, [this] {
            fail(QStringLiteral("The OAuth2 client is not complete: the client ID and both addresses are needed."));
        });
        return false;
    }
    if (!m_server.listen(QHostAddress::LocalHost, 0)) {
        const QString why = m_server.errorString();
        QTimer::singleShot(0, this, [this, why] {
            fail(QStringLiteral("No local port could be opened for the browser's answer: ") + why);
        });
        return false;
    }
    m_redirectUri = QStringLiteral("http://127.0.0.1:%1/").arg(m_server.serverPort());
    m_state = OAuthClient::newState();
    m_verifier = OAuthClient::newVerifier();
    const QUrl consent = OAuthClient::authorizationUrl(m_endpoints, m_redirectUri, m_state,
                                                       OAuthClient::challengeFor(m_verifier), m_loginHint);
    m_limit.start();
    if (!m_browser(consent)) {
        QTimer::singleShot(0, this, [this] { fail(QStringLiteral("The web browser could not be opened.")); });
        return false;
    }
    return true;
}

void AuthorizationFlow::cancel()
{
    if (m_running)
        fail(QStringLiteral("The sign-in was cancelled."));
}

TokenResponse AuthorizationFlow::run()
{
    TokenResponse result;
    bool done = false;
    QEventLoop loop;
    connect(this, &AuthorizationFlow::finished, &loop, [&](const TokenResponse &r) {
        result = r;
        done = true;
        loop.quit();
    });
    start();
    if (!done)
        loop.exec();
    return result;
}

void AuthorizationFlow::onConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onRequest(socket); });
    }
}

void AuthorizationFlow::onRequest(QTcpSocket *socket)
{
    QByteArray request = socket->property("request").toByteArray() + socket->readAll();
    if (request.size() > kRequestMax) {
        answer(socket, page(431, "Request Header Fields Too Large", QStringLiteral("Request too large.")));
        return;
    }
    socket->setProperty("request", request);
    if (!request.contains("\r\n\r\n"))
        return;
    const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
    const QUrl target = words.size() >= 2 ? QUrl(QString::fromLatin1(words.at(1))) : QUrl();
    if (words.value(0) != "GET" || target.path() != QLatin1String("/")) {
        answer(socket, page(404, "Not Found", QStringLiteral("Nothing here.")));
        return;
    }
    if (m_answered || !m_running) {
        answer(socket, page(410, "Gone", QStringLiteral("This sign-in has already ended. You may close this page.")));
        return;
    }
    // The redirect's query is form-encoded (RFC 6749, 4.1.2): "+" is a space.
    const QUrlQuery query(target.query(QUrl::FullyEncoded).replace(QLatin1Char('+'), QLatin1String("%20")));
    if (query.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded) != QString::fromLatin1(m_state)) {
        // Not the answer to this sign-in's request: it is ignored.
        answer(socket,
               page(400, "Bad Request", QStringLiteral("This answer does not belong to the sign-in Trelvik started.")));
        return;
    }
    m_answered = true;
    m_server.close(); // one shot
    const QString error = query.queryItemValue(QStringLiteral("error"), QUrl::FullyDecoded);
    const QString code = query.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded);
    if (!error.isEmpty() || code.isEmpty()) {
        QString text = QStringLiteral("The sign-in was refused in the browser (%1).")
                           .arg(error.isEmpty() ? QStringLiteral("no code was given") : error.left(100));
        const QString description =
            query.queryItemValue(QStringLiteral("error_description"), QUrl::FullyDecoded).simplified().left(500);
        if (!description.isEmpty())
            text += QStringLiteral(" The provider said: ") + description;
        // The flow ends once the page is on its way: ending it at once would
        // take the socket down before the browser has it.
        connect(socket, &QTcpSocket::disconnected, this, [this, text] { fail(text); });
        QTimer::singleShot(kPageDeliveryMs, this, [this, text] { fail(text); });
        answer(socket,
               page(200, "OK",
                    QStringLiteral("The sign-in was not completed. You may close this page "
                                   "and return to Trelvik.")));
        return;
    }
    answer(socket, page(200, "OK", QStringLiteral("Trelvik received the sign-in. You may close this page.")));
    // Out of the socket's handler: the token request waits in its own loop.
    QTimer::singleShot(0, this, [this, code] { exchange(code); });
}

void AuthorizationFlow::exchange(const QString &code)
{
    if (!m_running)
        return;
    finish(OAuthClient::exchangeCode(m_endpoints, code, m_verifier, m_redirectUri));
}

void AuthorizationFlow::fail(const QString &text)
{
    TokenResponse result;
    result.error = text;
    finish(result);
}

void AuthorizationFlow::finish(const TokenResponse &result)
{
    if (!m_running)
        return;
    m_running = false;
    m_limit.stop();
    m_server.close();
    m_verifier.clear();
    Q_EMIT finished(result);
}
