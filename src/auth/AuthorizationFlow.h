#pragma once

#include "OAuthClient.h"

#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>
#include <functional>

class QTcpSocket;

// One OAuth2 sign-in in the user's browser: authorization code with PKCE
// (S256) and a state check. The consent page is opened in the browser; its
// answer comes to a one-shot listener on 127.0.0.1 on a free port (the
// loopback redirect), which shows a page saying the browser may be closed.
// The code is then exchanged for tokens. Cancel or the time limit end it;
// finished() comes exactly once. Nothing here blocks the event loop but the
// final token request, which is bounded.
class AuthorizationFlow : public QObject {
    Q_OBJECT
public:
    using Browser = std::function<bool(const QUrl &)>;
    static constexpr int kTimeLimitMs = 5 * 60 * 1000;

    explicit AuthorizationFlow(const OAuthEndpoints &endpoints, QObject *parent = nullptr);
    ~AuthorizationFlow() override;

    // How the consent page is opened; the desktop's browser by default.
    void setBrowser(Browser browser) { m_browser = std::move(browser); }
    void setTimeLimit(int ms) { m_limit.setInterval(ms); }
    void setLoginHint(const QString &hint) { m_loginHint = hint; }

    // Listens and opens the consent page. False (and finished() with the
    // reason, later) when either cannot be done.
    bool start();
    void cancel();
    bool isRunning() const { return m_running; }
    QString redirectUri() const { return m_redirectUri; }

    // Runs the flow to its end in a local event loop.
    TokenResponse run();

Q_SIGNALS:
    void finished(const TokenResponse &result);

private:
    void onConnection();
    void onRequest(QTcpSocket *socket);
    void exchange(const QString &code);
    void fail(const QString &text);
    void finish(const TokenResponse &result);

    OAuthEndpoints m_endpoints;
    Browser m_browser;
    QString m_loginHint;
    QTcpServer m_server;
    QTimer m_limit;
    QByteArray m_state;
    QByteArray m_verifier;
    QString m_redirectUri;
    bool m_running = false;
    bool m_answered = false;
};
