#include "OAuthClient.h"

#include "ProfileRecord.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QTimer>

OAuthEndpoints endpointsOf(const ProfileSettingsRecord &settings)
{
    return {QUrl(settings.OAuthAuthorizeUrl.trimmed()), QUrl(settings.OAuthTokenUrl.trimmed()),
            settings.OAuthClientId.trimmed(), settings.OAuthClientSecret.trimmed(), settings.OAuthScope.simplified()};
}

namespace OAuthClient {

namespace {

constexpr auto kBase64Url = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

QByteArray randomText(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->generate(raw.begin(), raw.end());
    return raw.toBase64(kBase64Url);
}

// The email (or else the name) in an OpenID id token's payload; it is only
// shown to the user, so its signature is not checked.
QString accountOf(const QString &idToken)
{
    const QStringList parts = idToken.split(QLatin1Char('.'));
    if (parts.size() < 2)
        return {};
    const QJsonObject claims =
        QJsonDocument::fromJson(QByteArray::fromBase64(parts.at(1).toLatin1(), kBase64Url)).object();
    for (const char *claim : {"email", "preferred_username", "upn", "name"}) {
        const QString value = claims.value(QLatin1String(claim)).toString();
        if (!value.isEmpty())
            return value;
    }
    return {};
}

// Printable characters only, and short: a provider's words go into a box.
QString plain(const QString &text)
{
    QString out;
    for (const QChar c : text.left(300))
        out += c.isPrint() ? c : QLatin1Char(' ');
    return out.trimmed();
}

using Form = QList<QPair<QString, QString>>;

// application/x-www-form-urlencoded, every value fully percent-encoded.
QByteArray encoded(const Form &form)
{
    QByteArray out;
    for (const auto &[name, value] : form) {
        if (!out.isEmpty())
            out += '&';
        out += QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value);
    }
    return out;
}

TokenResponse post(const OAuthEndpoints &endpoints, Form form, int timeoutMs)
{
    form.append({QStringLiteral("client_id"), endpoints.clientId});
    if (!endpoints.clientSecret.isEmpty())
        form.append({QStringLiteral("client_secret"), endpoints.clientSecret});
    QNetworkAccessManager network;
    QNetworkRequest request(endpoints.tokenUrl);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader("Accept", "application/json");
    request.setTransferTimeout(timeoutMs);
    QNetworkReply *reply = network.post(request, encoded(form));
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(timeoutMs);
    if (!reply->isFinished())
        loop.exec();
    TokenResponse response;
    if (!reply->isFinished()) {
        reply->abort();
        response.error = QStringLiteral("The sign-in server %1 did not answer.").arg(endpoints.tokenUrl.host());
    } else {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status == 0)
            response.error = QStringLiteral("The sign-in server %1 could not be reached: %2")
                                 .arg(endpoints.tokenUrl.host(), reply->errorString());
        else
            response = parseTokenReply(status, reply->readAll(), QDateTime::currentSecsSinceEpoch());
    }
    delete reply;
    return response;
}

} // namespace

QByteArray newVerifier()
{
    return randomText(48); // 64 characters of base64url, all unreserved
}

QByteArray challengeFor(const QByteArray &verifier)
{
    return QCryptographicHash::hash(verifier, QCryptographicHash::Sha256).toBase64(kBase64Url);
}

QByteArray newState()
{
    return randomText(24);
}

QUrl authorizationUrl(const OAuthEndpoints &endpoints, const QString &redirectUri, const QByteArray &state,
                      const QByteArray &challenge, const QString &loginHint)
{
    Form form{{QStringLiteral("response_type"), QStringLiteral("code")},
              {QStringLiteral("client_id"), endpoints.clientId},
              {QStringLiteral("redirect_uri"), redirectUri},
              {QStringLiteral("scope"), endpoints.scope},
              {QStringLiteral("state"), QString::fromLatin1(state)},
              {QStringLiteral("code_challenge"), QString::fromLatin1(challenge)},
              {QStringLiteral("code_challenge_method"), QStringLiteral("S256")},
              // A refresh token comes only with offline access and, at
              // Google, when consent is asked again.
              {QStringLiteral("access_type"), QStringLiteral("offline")},
              {QStringLiteral("prompt"), QStringLiteral("consent")}};
    if (!loginHint.isEmpty())
        form.append({QStringLiteral("login_hint"), loginHint});
    QUrl url = endpoints.authorizeUrl;
    const QByteArray own = url.query(QUrl::FullyEncoded).toLatin1();
    url.setQuery(QString::fromLatin1(own.isEmpty() ? encoded(form) : own + '&' + encoded(form)));
    return url;
}

TokenResponse exchangeCode(const OAuthEndpoints &endpoints, const QString &code, const QByteArray &verifier,
                           const QString &redirectUri, int timeoutMs)
{
    return post(endpoints,
                {{QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
                 {QStringLiteral("code"), code},
                 {QStringLiteral("redirect_uri"), redirectUri},
                 {QStringLiteral("code_verifier"), QString::fromLatin1(verifier)}},
                timeoutMs);
}

TokenResponse refresh(const OAuthEndpoints &endpoints, const QString &refreshToken, int timeoutMs)
{
    return post(endpoints,
                {{QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
                 {QStringLiteral("refresh_token"), refreshToken}},
                timeoutMs);
}

TokenResponse parseTokenReply(int httpStatus, const QByteArray &body, qint64 now)
{
    TokenResponse response;
    const QJsonObject json = QJsonDocument::fromJson(body).object();
    const QString error = json.value(QLatin1String("error")).toString();
    if (httpStatus == 200 && error.isEmpty()) {
        response.accessToken = json.value(QLatin1String("access_token")).toString();
        if (response.accessToken.isEmpty()) {
            response.error = QStringLiteral("The sign-in server's answer holds no access token.");
            return response;
        }
        response.status = TokenResponse::Status::Ok;
        response.refreshToken = json.value(QLatin1String("refresh_token")).toString();
        const qint64 lifetime = json.value(QLatin1String("expires_in")).toVariant().toLongLong();
        response.expiresAt = lifetime > 0 ? now + lifetime : 0;
        response.account = accountOf(json.value(QLatin1String("id_token")).toString());
        return response;
    }
    const QString description = plain(json.value(QLatin1String("error_description")).toString());
    if (error == QLatin1String("invalid_grant")) {
        response.status = TokenResponse::Status::Refused;
        response.error = QStringLiteral("The sign-in is no longer accepted (it was withdrawn, has expired, or the "
                                        "password was changed).");
    } else {
        response.error = error.isEmpty()
            ? QStringLiteral("The sign-in server answered with HTTP status %1.").arg(httpStatus)
            : QStringLiteral("The sign-in server refused the request: %1").arg(plain(error));
    }
    if (!description.isEmpty())
        response.error += QStringLiteral("\r\nIt said: ") + description;
    return response;
}

} // namespace OAuthClient
