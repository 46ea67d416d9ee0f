#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

struct ProfileSettingsRecord;

// The OAuth2 client of a profile: a registered desktop ("installed") client
// and the provider's two endpoints.
struct OAuthEndpoints {
    QUrl authorizeUrl;
    QUrl tokenUrl;
    QString clientId;
    QString clientSecret; // empty where the provider issues none
    QString scope;
};

// The client a profile's settings describe.
OAuthEndpoints endpointsOf(const ProfileSettingsRecord &settings);

// What the token endpoint answered.
struct TokenResponse {
    enum class Status {
        Ok,
        Refused, // the grant is no good (invalid_grant): the user must sign in again
        Failed, // no answer, a broken one, or a client the provider does not accept
    };
    Status status = Status::Failed;
    QString accessToken;
    QString refreshToken; // empty when the provider kept the old one
    qint64 expiresAt = 0; // seconds since the epoch; 0 when not said
    QString account; // who signed in, when the provider said (an id token's email or name)
    QString error; // for the user; never holds a token
};

// Requests to the token endpoint (RFC 6749 with PKCE, RFC 7636). Each waits
// for its answer in a local event loop, at most timeoutMs.
namespace OAuthClient {

constexpr int kTimeoutMs = 30000;

// PKCE: a fresh verifier (64 unreserved characters) and its S256 challenge.
QByteArray newVerifier();
QByteArray challengeFor(const QByteArray &verifier);
// A random opaque text for the "state" parameter.
QByteArray newState();

// The consent page's address for this client.
QUrl authorizationUrl(const OAuthEndpoints &endpoints, const QString &redirectUri, const QByteArray &state,
                      const QByteArray &challenge, const QString &loginHint = {});

TokenResponse exchangeCode(const OAuthEndpoints &endpoints, const QString &code, const QByteArray &verifier,
                           const QString &redirectUri, int timeoutMs = kTimeoutMs);
TokenResponse refresh(const OAuthEndpoints &endpoints, const QString &refreshToken, int timeoutMs = kTimeoutMs);

// Reads a token endpoint's JSON answer with its HTTP status.
TokenResponse parseTokenReply(int httpStatus, const QByteArray &body, qint64 now);

} // namespace OAuthClient
