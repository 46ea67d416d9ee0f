#include "SaslOAuth.h"

OAuthMechanism oauthMechanism(const QStringList &capabilities)
{
    bool bearer = false;
    for (const QString &line : capabilities) {
        const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.isEmpty() || words.first().compare(QLatin1String("SASL"), Qt::CaseInsensitive) != 0)
            continue;
        for (qsizetype i = 1; i < words.size(); ++i) {
            if (words.at(i).compare(QLatin1String("XOAUTH2"), Qt::CaseInsensitive) == 0)
                return OAuthMechanism::XOAuth2;
            if (words.at(i).compare(QLatin1String("OAUTHBEARER"), Qt::CaseInsensitive) == 0)
                bearer = true;
        }
    }
    return bearer ? OAuthMechanism::OAuthBearer : OAuthMechanism::None;
}

QString mechanismName(OAuthMechanism mechanism)
{
    switch (mechanism) {
    case OAuthMechanism::XOAuth2:
        return QStringLiteral("XOAUTH2");
    case OAuthMechanism::OAuthBearer:
        return QStringLiteral("OAUTHBEARER");
    case OAuthMechanism::None:
        break;
    }
    return {};
}

QByteArray xoauth2Response(const QString &user, const QString &token)
{
    return (QByteArray("user=") + user.toUtf8() + "\x01" + "auth=Bearer " + token.toUtf8() + "\x01\x01").toBase64();
}

QByteArray oauthBearerResponse(const QString &user, const QString &host, int port, const QString &token)
{
    // RFC 5801 saslname: "," and "=" in the authorisation identity are escaped.
    QByteArray name = user.toUtf8();
    name.replace("=", "=3D").replace(",", "=2C");
    return (QByteArray("n,a=") + name + ",\x01host=" + host.toUtf8() + "\x01port=" + QByteArray::number(port)
            + "\x01"
              "auth=Bearer "
            + token.toUtf8() + "\x01\x01")
        .toBase64();
}

bool isContinuation(const QString &reply)
{
    return reply.startsWith(QLatin1Char('+')) && !reply.startsWith(QLatin1String("+OK"), Qt::CaseInsensitive);
}
