#pragma once

#include "MailReason.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

// The SASL mechanisms that carry an OAuth2 bearer token (XOAUTH2 as Google
// and Microsoft define it, OAUTHBEARER of RFC 7628).
enum class OAuthMechanism { None, XOAuth2, OAuthBearer };

// The mechanism to log in with among the server's CAPA lines: XOAUTH2 where
// its SASL line offers it, else OAUTHBEARER, else None.
OAuthMechanism oauthMechanism(const QStringList &capabilities);
QString mechanismName(OAuthMechanism mechanism);

// The base64 client responses: "user=U^Aauth=Bearer T^A^A" for XOAUTH2 and
// the GS2 header with host, port and "auth=Bearer T" for OAUTHBEARER.
QByteArray xoauth2Response(const QString &user, const QString &token);
QByteArray oauthBearerResponse(const QString &user, const QString &host, int port, const QString &token);

// A continuation ("+" or "+ challenge"), as opposed to "+OK" or "-ERR".
bool isContinuation(const QString &reply);

// What the login is given to prove who the user is: an access token, or why
// there is none (the user must sign in again, or the token endpoint failed).
struct AccessToken {
    enum class State { Ready, SignInNeeded, Failed };
    State state = State::Failed;
    QString token;
    QString error; // for the user's box; never holds a token
    MailReason reason = MailReason::None; // SignInAgain: the front end says how
};
// Called once before the login (renew false: a token still valid will do)
// and at most once more after the server refused the token (renew true: a
// fresh one is needed).
using AccessTokenSource = std::function<AccessToken(bool renew)>;
