#pragma once

#include "ProfileRecord.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUrl>

class QTcpServer;
class QTcpSocket;

namespace testsupport {

// A small OAuth2 authorization server for tests, on 127.0.0.1 on a free
// port: /authorize approves at once (redirecting to the loopback address
// with a code), /token gives tokens for a code (checking PKCE S256 and the
// redirect address) or a refresh token, /introspect tells a resource server
// (Dovecot) whether an access token is active and whose it is. Tokens can
// be made to expire or be revoked. One request per connection.
class FakeAuthServer : public QObject {
    Q_OBJECT
public:
    explicit FakeAuthServer(const QString &user, QObject *parent = nullptr);
    ~FakeAuthServer() override;

    bool listen();
    QUrl url(const QString &path) const;
    QString clientId() const { return QStringLiteral("trelvik-test-client"); }
    // Sets a profile's sign-in to OAuth2 against this server.
    void signInHere(ProfileSettingsRecord &settings) const
    {
        settings.SignInMethod = QStringLiteral("OAuth2");
        settings.OAuthProvider = QStringLiteral("Other");
        settings.OAuthClientId = clientId();
        settings.OAuthAuthorizeUrl = url(QStringLiteral("/authorize")).toString();
        settings.OAuthTokenUrl = url(QStringLiteral("/token")).toString();
        settings.OAuthScope = QStringLiteral("mail");
    }

    // Every access token given so far stops being active.
    void expireAccessTokens() { m_active.clear(); }
    // Refresh tokens given so far are refused from now on (invalid_grant).
    void revokeRefreshTokens() { m_refresh.clear(); }
    // Each refresh gives a new refresh token and withdraws the one used.
    void setRotateRefreshTokens(bool rotate) { m_rotate = rotate; }

    int codeGrants() const { return m_codeGrants; }
    int refreshGrants() const { return m_refreshGrants; }
    int refusedRefreshes() const { return m_refusedRefreshes; }
    int introspections() const { return m_introspections; }
    // What went wrong on the server's side (a bad PKCE verifier, ...).
    QStringList problems() const { return m_problems; }

private:
    struct Code {
        QString challenge;
        QString redirect;
        bool openId = false; // the scope asked for "openid": an id token comes too
    };
    void onConnection();
    void onData(QTcpSocket *socket);
    QByteArray handle(const QByteArray &method, const QUrl &target, const QByteArray &body);
    QByteArray tokens(bool withRefresh, bool withIdToken = false);

    QString m_user;
    QTcpServer *m_server;
    QHash<QString, Code> m_codes;
    QSet<QString> m_active;
    QSet<QString> m_refresh;
    int m_serial = 0;
    bool m_rotate = false;
    int m_codeGrants = 0;
    int m_refreshGrants = 0;
    int m_refusedRefreshes = 0;
    int m_introspections = 0;
    QStringList m_problems;
};

} // namespace testsupport
