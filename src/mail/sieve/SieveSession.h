#pragma once

#include "LineSession.h"
#include "MailConnection.h"
#include "MailResult.h"
#include "SessionOptions.h"
#include "SieveEndpoint.h"
#include "SieveParser.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

class CancelFlag;
struct ProfileSettingsRecord;

// What a ManageSieve server says of itself (its capability lines).
struct SieveServerInfo {
    QString implementation;
    QStringList sieveExtensions; // lower case, as the SIEVE line names them
    QStringList saslMechanisms; // upper case
    bool startTls = false;
    QString version;
};

// A script on the server, as LISTSCRIPTS names it.
struct SieveScriptEntry {
    QString name;
    bool active = false;
};

// How one command ended: the server answered OK or NO (with its code and
// words), or the conversation failed (`failure` says why) or was cancelled.
struct SieveAnswer {
    enum class End { Ok, No, Failed, Cancelled };
    End end = End::Failed;
    SieveResponse status;
    QList<SieveResponse> data; // the lines before the status
    MailResult failure; // for Failed and Cancelled

    bool ok() const { return end == End::Ok; }
    bool refused() const { return end == End::No; }
};

// One ManageSieve conversation (RFC 5804) over one MailConnection, secured
// as the endpoint says: plain, STARTTLS, or TLS from the first byte; as
// with POP3 and IMAP a credential never goes out before a secured channel
// is trusted, unless the profile asks for no security. The server answers
// each command in order; one command is out at a time. Responses are framed
// as they arrive within SieveLimits; a server past a bound, or one that
// answers out of step, ends the conversation. Its progress is not shown.
class SieveSession : public LineSession {
    Q_OBJECT
public:
    SieveSession(const ProfileSettingsRecord &settings, SieveEndpoint endpoint, CancelFlag &cancel,
                 SessionOptions options = {}, QObject *parent = nullptr);
    SieveSession(std::unique_ptr<MailConnection> connection, const ProfileSettingsRecord &settings,
                 SieveEndpoint endpoint, CancelFlag &cancel, SessionOptions options = {}, QObject *parent = nullptr);
    ~SieveSession() override;

    // Connected, greeted, secured, and the capabilities known.
    MailResult connectServer();
    // AUTHENTICATE "PLAIN", or XOAUTH2 / OAUTHBEARER for an OAuth2 profile.
    MailResult login();
    // LOGOUT, its answer awaited within the cancel grace; then closes.
    void logout();

    const SieveServerInfo &server() const { return m_info; }
    const SieveEndpoint &endpoint() const { return m_endpoint; }

    SieveAnswer capability();
    SieveAnswer haveSpace(const QString &name, qint64 bytes);
    SieveAnswer checkScript(const QByteArray &script);
    SieveAnswer putScript(const QString &name, const QByteArray &script);
    SieveAnswer listScripts(QList<SieveScriptEntry> *scripts);
    // An empty name deactivates whatever script is active.
    SieveAnswer setActive(const QString &name);
    SieveAnswer getScript(const QString &name, QByteArray *script);
    SieveAnswer deleteScript(const QString &name);

    // The refusal of a command as the user reads it: "<what>" and the
    // server's words.
    MailResult refusal(const SieveAnswer &answer, const QString &what) const;
    QString serverWords(const SieveAnswer &answer) const;

private:
    enum class Wait { Status, StatusOrData };
    SieveAnswer run(const QByteArray &command, MailConnection::CancelMode mode = MailConnection::CancelMode::Ends);
    SieveAnswer await(Wait until, MailConnection::CancelMode mode);
    bool write(const QByteArray &bytes);
    void frameResponses();
    void lose(const QString &text);
    SieveAnswer failed(const QString &fallback) const;
    void learn(const QList<SieveResponse> &lines);
    Target target() const override;
    MailResult handshakeFailed(const HandshakeResult &result) override;
    void endConnect(bool cancelled) override;
    MailResult startTls();
    QString where() const;

    // SieveLogin.cpp
    MailResult loginPlain();
    MailResult loginOAuth2();
    SieveAnswer authenticate(const QByteArray &mechanism, const QByteArray &response, const QByteArray &onError);
    MailResult loginRefused(const SieveAnswer &answer, const QString &secret);

    SieveEndpoint m_endpoint;
    SieveLimits m_limits;
    QList<SieveResponse> m_arrived; // framed and not yet taken
    struct Held {
        qsizetype bytes = 0;
        qsizetype items = 0;
    };
    Held m_held; // of m_arrived since it was last empty, against m_limits
    SieveServerInfo m_info;
};
