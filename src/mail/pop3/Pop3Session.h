#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>
#include <utility>

#include "LineSession.h"
#include "MailConnection.h"
#include "MailResult.h"
#include "Pop3Framer.h"
#include "SaslOAuth.h"
#include "SecureChannel.h"
#include "SessionOptions.h"

class RunStatus;
struct ProfileSettingsRecord;
class CancelFlag;

// One POP3 conversation over one MailConnection, secured as the profile
// says: plain, upgraded with STLS, or TLS from the first byte. The password
// never goes out before a secured channel is trusted, and a channel that
// cannot be secured is never used in the clear. Commands go out one at a time
// (or, to a server offering PIPELINING, ahead of their replies through
// CommandPipeline) as UTF-8 text ended by CR LF; each reply is framed by
// Pop3Framer and awaited with the connection's bounded wait, which ends when
// the reply is framed, Cancel is raised, the connection fails or the server
// has sent nothing for the inactivity limit. A reply longer than its bound,
// or one that does not begin with a status indicator, breaks the
// conversation: nothing more is sent and every wait fails. Nothing here
// shows anything: each step returns its result (MailResult) for the caller
// to show, and status texts go to the RunStatus.
class Pop3Session : public LineSession {
    Q_OBJECT
public:
    enum class Outcome { Reply, Cancelled, Failed };
    static constexpr qint16 kSingleReply = Pop3Framer::kSingleReply;
    static constexpr qint16 kMultiLineReply = Pop3Framer::kMultiLineReply;
    // A multi-line listing (UIDL, LIST): read whole, up to the listing limit.
    static constexpr qint16 kListingReply = Pop3Framer::kListingReply;
    // A multi-line reply (TOP, CAPA) longer than this keeps its first part only.
    static constexpr qsizetype kReplyCap = Pop3Framer::kReplyCap;
    // A status line longer than this is no POP3 reply (the protocol allows 512).
    static constexpr qsizetype kStatusLineCap = Pop3Framer::kStatusLineCap;

    // Over a TCP connection of its own (SocketConnection).
    Pop3Session(RunStatus &status, const ProfileSettingsRecord &settings, CancelFlag &cancel,
                SessionOptions options = {}, QObject *parent = nullptr);
    // Over the connection given (which it then owns), e.g. an in-memory one.
    Pop3Session(std::unique_ptr<MailConnection> connection, RunStatus &status, const ProfileSettingsRecord &settings,
                CancelFlag &cancel, SessionOptions options = {}, QObject *parent = nullptr);
    ~Pop3Session() override;

    // Done once connected, greeted and (as the profile asks) secured;
    // cancelled() when Cancel ended it; otherwise why not, as the box shows
    // it (Failed, titled "Error", for a port that is not a number).
    MailResult ConnectServer();
    // Done once logged in; a refusal with its box's title and text; cancelled()
    // when Cancel ended it; failure() when a wait failed. Uses AUTH PLAIN when
    // the server refuses USER but offers SASL PLAIN; an OAuth2 profile logs in
    // with XOAUTH2 or OAUTHBEARER instead (Pop3OAuthLogin.cpp).
    MailResult LoginServer();
    // Asks the server what it offers (CAPA) and forgets what was learnt
    // before. A server that refuses CAPA offers nothing we rely on.
    Outcome QueryCapabilities();
    // Whether CAPA listed this capability (its first word, case ignored).
    bool hasCapability(const QString &name) const;
    // Sends QUIT and waits for its reply; only a fresh Cancel ends that wait.
    Outcome QuitServer();
    // Status "Disconnected"; closes the connection.
    void CloseServer();

    // Sends one command (mode 1 single-line, 9 multi-line, 10 listing) and
    // waits for its reply, which is then in reply(). A Cancel already
    // raised stops the command before it is sent. With cancelEnds false the
    // reply is owed once the command is out (a DELE the server acts on at
    // QUIT): a Cancel does not end the wait, the cancel grace bounds it.
    Outcome command(const QString &text, qint16 mode, bool cancelEnds = true);

    // Pipelined sending (RFC 2449 PIPELINING), used through CommandPipeline.
    // sendAhead writes a command without waiting and keeps its reply, in
    // order, until awaitAhead takes it; 0 when the connection is gone (see
    // failure()). awaitAhead waits for that reply (a Cancel raised before
    // the wait ends it only when cancelEnds is true; a fresh one always does)
    // and puts it into reply().
    quint64 sendAhead(const QString &text, qint16 mode);
    Outcome awaitAhead(quint64 sequence, bool cancelEnds);
    // Whether the reply to a command sent ahead has been framed already.
    bool replyArrived(quint64 sequence) const { return m_lastFramed >= sequence; }
    // The session's clock (SessionOptions::clockMs), and when the reply
    // awaitAhead last took was framed.
    qint64 lastFramedAtMs() const { return m_lastFramedAtMs; }
    bool cancelRaised() const;

    // Commands (text, reply mode) a server offering PIPELINING is sent right
    // behind PASS, so that what follows the login costs no round trip of its
    // own. After LoginServer, sentBehindLogin() has their sequences to await
    // with awaitAhead, in order; it is empty when they were not sent (an
    // OAuth2 or SASL login, no PIPELINING): sending them is then the caller's.
    void sendBehindLogin(QList<QPair<QString, qint16>> commands) { m_behindLogin = std::move(commands); }
    QList<quint64> takeSentBehindLogin() { return std::exchange(m_sentBehindLogin, {}); }

    Outcome lastOutcome() const { return m_lastOutcome; }
    // Why the last wait failed (kind ConnectionFailed), with `extraLine`
    // after a CR LF when given; no text when there is nothing to tell (a
    // failed connect has said it in its own result).
    MailResult failure(const QString &extraLine = {}) const;

    // The last complete reply of the awaited command, as the bytes came;
    // empty while awaited.
    const QByteArray &reply() const { return m_reply; }
    // The same reply as text, a character a byte, for judging and quoting it.
    QString serverReply() const { return QString::fromLatin1(m_reply); }

Q_SIGNALS:
    // The event loop is about to run (a wait, or a turn between replies):
    // what has been gathered for the window should be shown now.
    void aboutToWait();
    // The session cannot go on (out of step, a reply too large, the server
    // kept sending after Cancel): every wait ends as failed.
    void broken();

private:
    Outcome sendAndWait(const QString &text, qint16 mode, MailConnection::CancelMode cancel);
    Outcome wait(quint64 sequence, MailConnection::CancelMode cancel);
    quint64 expectReply(qint16 mode, bool keep = false, const QString &command = {});
    void frameReplies();
    void handOver(const Pop3Framer::Expected &expected, QByteArray reply);
    void connectionBroken();
    void setFailure(const QString &text, const QString &title);
    Outcome lost(const QString &text);
    void resetConversation();
    void discard();
    void endConnect(bool cancelled) override;
    MailResult greeted();
    MailResult commandStopped();
    MailResult stepEnded() const;
    MailResult startTls();
    MailResult loginPipelined(const QString &user, const QString &pass);
    Outcome sendPass(const QString &pass);
    void sendFollowingLogin();
    bool offersSaslPlain() const;
    MailResult judgeLogin(); // Done when the last reply accepted the login
    Outcome authPlain();
    MailResult loginOAuth2();
    MailResult oauthRefusedByServer(const QString &token);
    Outcome authOAuth(OAuthMechanism mechanism, const QString &token);
    MailResult oauthRefused(const QString &text, const QString &serverWords = {});

    Pop3Framer m_framer;

    struct Ahead {
        QByteArray reply;
        qint64 framedAtMs;
    };
    // Framed replies of commands sent ahead, in the order they came: they
    // are mostly taken oldest first.
    std::deque<std::pair<quint64, Ahead>> m_ahead;
    qint64 m_lastFramedAtMs = 0;
    quint64 m_nextSequence = 1;
    quint64 m_awaited = 0; // the reply that goes into m_reply
    quint64 m_lastFramed = 0;
    bool m_outOfStep = false; // the replies no longer match the commands

    QList<QPair<QString, qint16>> m_behindLogin;
    QList<quint64> m_sentBehindLogin;
    QStringList m_capabilities;
    bool m_capabilitiesKnown = false; // asked on the channel as it is now
    Outcome m_lastOutcome = Outcome::Reply;
    QByteArray m_reply;
    QString m_failureText;
    QString m_failureTitle;
};
