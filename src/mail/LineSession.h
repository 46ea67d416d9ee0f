#pragma once

#include "MailConnection.h"
#include "MailResult.h"
#include "SecureChannel.h"
#include "SessionOptions.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class CancelFlag;
class RunStatus;
struct ProfileSettingsRecord;

// What a session of a line protocol over one MailConnection shares with
// the others: the connection, watched by the run's Cancel and deadlines and
// owned by the session; the profile; the clock; and the way in: the port
// and the security checked, the connection opened and, where the profile
// asks, secured, with the same failure texts for every protocol. A protocol
// adds its own commands and replies.
class LineSession : public QObject {
    Q_OBJECT
public:
    // The session's clock (SessionOptions::clockMs, else its own).
    qint64 clockMs() const { return m_options.clockMs ? m_options.clockMs() : m_clock.elapsed(); }
    bool isEncrypted() const { return m_connection->isEncrypted(); }
    // "TLS 1.3" and the like while encrypted; empty otherwise.
    QString protocolName() const { return m_connection->protocolName(); }
    CertificateTrust certificateTrust() const { return m_trust; }
    const ProfileSettingsRecord &settings() const { return m_settings; }

protected:
    // How the protocol's texts name it.
    struct Words {
        QString name; // "POP3"
        QString usualPorts; // "110, or 995 for SSL/TLS"
        QString tlsPort; // "995"
    };
    LineSession(std::unique_ptr<MailConnection> connection, RunStatus &status, const ProfileSettingsRecord &settings,
                CancelFlag &cancel, SessionOptions options, Words words, QObject *parent);

    // Checks the profile's port and security, runs `opening` and opens the
    // connection; with TLS from the first byte, secures it too. Done, or
    // how it failed (the conversation then dropped).
    MailResult openChannel(const std::function<void()> &opening = {});
    // The TLS handshake, on a connection that is open.
    MailResult secureChannel();
    MailResult handshakeFailed(const HandshakeResult &result);
    // The server was never reached: the text says why, from the
    // connection's error.
    QString unreachableText() const;
    // The way in failed: the conversation dropped, "Connect Error" told.
    MailResult connectFailed(const QString &text, const QString &title = QStringLiteral("Connection Failed"),
                             const QString &serverWords = {});
    // Drops the conversation once its way in ended, by a Cancel or a failure.
    virtual void endConnect(bool cancelled) = 0;

    RunStatus &m_status;
    const ProfileSettingsRecord &m_settings;
    CancelFlag &m_cancel;
    SessionOptions m_options;
    MailConnection *m_connection; // a child of this session
    ConnectionSecurity m_security = ConnectionSecurity::None;
    CertificateTrust m_trust = CertificateTrust::NotEncrypted;
    QElapsedTimer m_clock;

private:
    Words m_words;
};
