#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include "SaslOAuth.h"
#include "SecureChannel.h"

class QSslSocket;
class RunStatus;
struct ProfileSettingsRecord;
class CancelFlag;

struct SessionOptions {
    // A wait gives up after this long without any data from the server.
    int inactivityLimitMs = 60000;
    // After Cancel, the replies still owed (and QUIT's) are awaited at most
    // this long in all and this many bytes; then the socket is closed.
    int cancelGraceMs = 3000;
    qint64 cancelGraceBytes = 16 * 1024 * 1024;
    // A listing (UIDL, LIST) larger than this ends the session: no mailbox
    // this program can show needs more, and memory must stay bounded.
    qint64 listingLimitBytes = 64 * 1024 * 1024;
    // Any other multi-line reply (TOP, CAPA) is read at most this far: its
    // first part is kept, the rest dropped while it lasts, and one that goes
    // on past this ends the session, so an endless reply cannot keep a run
    // reading for ever.
    qint64 replyLimitBytes = 64 * 1024 * 1024;
    // Whether a fetched row keeps its header block: the window sorts rows
    // again by it when rules change, a one-off check needs only its digest.
    bool keepHeaderBlocks = true;
    // Asked when the server's certificate fails verification and is not the
    // profile's trusted one; without it such a certificate is refused.
    CertificatePrompt certificatePrompt = {};
    // Told the fingerprint of a certificate the prompt trusted, to keep it.
    CertificateTrusted certificateTrusted = {};
    // The bearer token of a profile that signs in with OAuth2.
    AccessTokenSource accessToken = {};
};

// One POP3 conversation over one TCP connection, secured as the profile says:
// plain, upgraded with STLS, or TLS from the first byte. The password never
// goes out before a secured channel is trusted, and a channel that cannot be
// secured is never used in the clear. Commands go out one at a time (or, to
// a server offering PIPELINING, ahead of their replies through
// CommandPipeline) as UTF-8 text ended by CR LF; each reply is awaited in
// a local event loop that ends when the reply is framed, Cancel is raised, the socket fails
// or the server has sent nothing for the inactivity limit; a reply longer
// than its bound (a status line, a listing, any other) ends the session, so
// a reply without end cannot keep the program reading. A reply that does
// not begin with a status indicator means the conversation is out of step:
// nothing more is sent and every wait fails. The socket exists from
// ConnectServer to CloseServer (or the session's end), never longer.
class Pop3Session : public QObject {
    Q_OBJECT
public:
    enum class Outcome { Reply, Cancelled, Failed };
    static constexpr qint16 kConnected = 7;
    static constexpr qint16 kError = 9;
    static constexpr qint16 kSingleReply = 1;
    static constexpr qint16 kMultiLineReply = 9;
    // A multi-line listing (UIDL, LIST): read whole, up to the listing limit.
    static constexpr qint16 kListingReply = 10;
    // A multi-line reply (TOP, CAPA) longer than this keeps its first part only.
    static constexpr qsizetype kReplyCap = 256 * 1024;
    // A status line longer than this is no POP3 reply (the protocol allows 512).
    static constexpr qsizetype kStatusLineCap = 64 * 1024;

    Pop3Session(RunStatus &status, const ProfileSettingsRecord &settings,
                CancelFlag &cancel, SessionOptions options = {}, QObject *parent = nullptr);
    ~Pop3Session() override;

    // 7 once connected, greeted and (as the profile asks) secured; 9 when the
    // connection failed or could not be secured (the box has been shown, or
    // for a failed command it is in failureText()); 0 when Cancel ended the
    // connect. Throws std::runtime_error for a port that is not a number.
    qint16 ConnectServer();
    // 1 = logged in. 0 = refused (box shown), cancelled, or failed (see
    // lastOutcome(); the caller shows the failure). Uses AUTH PLAIN when the
    // server refuses USER but offers SASL PLAIN; an OAuth2 profile logs in
    // with XOAUTH2 or OAUTHBEARER instead (Pop3OAuthLogin.cpp).
    qint16 LoginServer();
    // Asks the server what it offers (CAPA) and forgets what was learnt
    // before. A server that refuses CAPA offers nothing we rely on.
    Outcome QueryCapabilities();
    // Whether CAPA listed this capability (its first word, case ignored).
    bool hasCapability(const QString &name) const;
    const QStringList &capabilities() const { return m_capabilities; }
    // Sends QUIT and waits for its reply; only a fresh Cancel ends that wait.
    Outcome QuitServer();
    // Status "Disconnected"; closes and discards the socket.
    void CloseServer();

    // Sends one command (mode 1 single-line, 9 multi-line, 10 listing) and
    // waits for its reply, which is then in ServerReply. A Cancel already
    // raised stops the command before it is sent. With cancelEnds false the
    // reply is owed once the command is out (a DELE the server acts on at
    // QUIT): a Cancel does not end the wait, the cancel grace bounds it.
    Outcome command(const QString &text, qint16 mode, bool cancelEnds = true);

    // Pipelined sending (RFC 2449 PIPELINING), used through CommandPipeline.
    // sendAhead writes a command without waiting and keeps its reply, in
    // order, until awaitAhead takes it; 0 when the connection is gone (see
    // failureText()). awaitAhead waits for that reply (a Cancel raised before
    // the wait ends it only when cancelEnds is true; a fresh one always does)
    // and puts it into ServerReply.
    quint64 sendAhead(const QString &text, qint16 mode);
    Outcome awaitAhead(quint64 sequence, bool cancelEnds);
    // Whether the reply to a command sent ahead has been framed already.
    bool replyArrived(quint64 sequence) const { return m_lastFramed >= sequence; }
    // The session's clock, and when the reply awaitAhead last took was framed.
    qint64 clockMs() const { return m_clock.elapsed(); }
    qint64 lastFramedAtMs() const { return m_lastFramedAtMs; }
    // Lets the event loop run once: a long run of replies that are already
    // here must not keep the window from repainting or Cancel from working.
    void yieldToEventLoop();
    bool cancelRaised() const;

    Outcome lastOutcome() const { return m_lastOutcome; }
    // Why the last wait failed, for the caller's message box.
    QString failureText() const { return m_failureText; }
    QString failureTitle() const { return m_failureTitle; }
    // Shows the failure's box, with an optional further line; nothing when
    // the failure has had its box already (a failed connect).
    void showFailure(const QString &extraLine = {}) const;

    bool hasSocket() const { return m_socket != nullptr; }
    // The server's replies no longer match the commands sent.
    bool outOfStep() const { return m_outOfStep; }
    ConnectionSecurity security() const { return m_security; }
    bool isEncrypted() const;
    // "TLS 1.3" and the like while encrypted; empty otherwise.
    QString protocolName() const;
    CertificateTrust certificateTrust() const { return m_trust; }
    const QString &serverReply() const { return ServerReply; }

    // The last complete reply of the awaited command; empty while awaited.
    QString ServerReply;
    qint16 ReplyMode = kSingleReply;
    // Data received and not yet handed over as a reply.
    QByteArray ReceiveBuffer;

Q_SIGNALS:
    // The event loop is about to run (a wait, or a turn between replies):
    // what has been gathered for the window should be shown now.
    void aboutToWait();
    void replyFramed(quint64 sequence);
    void dataArrived();
    // The session cannot go on (out of step, a listing too large, the
    // server kept sending after Cancel): every wait ends as failed.
    void broken();

private:
    // Flag: a Cancel ends the wait. Owed: the reply is owed (the command is
    // out); a Cancel only bounds the wait by the cancel grace.
    enum class CancelCheck { Flag, Owed };
    struct Pending {
        quint64 sequence;
        qint16 mode;
        bool keep = false; // sent ahead: the reply waits in m_ahead
        QByteArray command = {}; // its first word, to name it when it fails
    };

    Outcome sendAndWait(const QString &text, qint16 mode, CancelCheck check);
    Outcome wait(quint64 sequence, CancelCheck check);
    quint64 expectReply(qint16 mode, bool keep = false, const QString &command = {});
    static QString replyTooLarge(const Pending &pending, qint64 limit);
    void Winsock_DataArrival();
    void frameReplies();
    void handOver(const Pending &pending, QByteArray reply);
    void setFailure(const QString &text, const QString &title);
    void breakSession(const QString &text);
    static bool isStatusReply(const QByteArray &reply);
    void breakOutOfStep();
    qint16 greetingFailed();
    int cancelGraceLeftMs();
    void discardSocket();
    qint16 connectFailed(const QString &text, const QString &title);
    qint16 commandStopped();
    bool secureChannel();
    qint16 startTls();
    bool offersSaslPlain() const;
    qint16 judgeLogin(); // 1 when the last reply accepted the login, else the box
    Outcome authPlain();
    qint16 loginOAuth2();
    Outcome authOAuth(OAuthMechanism mechanism, const QString &token);
    qint16 oauthRefused(const QString &text);

    RunStatus &m_status;
    const ProfileSettingsRecord &m_settings;
    CancelFlag &m_cancel;
    SessionOptions m_options;
    QSslSocket *m_socket = nullptr;
    ConnectionSecurity m_security = ConnectionSecurity::None;
    CertificateTrust m_trust = CertificateTrust::NotEncrypted;

    QList<Pending> m_pending;        // replies still to come, oldest first
    struct Ahead {
        QByteArray reply;
        qint64 framedAtMs;
    };
    QHash<quint64, Ahead> m_ahead;   // framed replies of commands sent ahead
    QElapsedTimer m_clock;
    qint64 m_lastFramedAtMs = 0;
    quint64 m_nextSequence = 1;
    quint64 m_awaited = 0;           // the reply that goes into ServerReply
    quint64 m_lastFramed = 0;
    // The reply in progress, which starts at the front of ReceiveBuffer:
    qsizetype m_scanned = 0;         // its bytes searched for its end already
    qsizetype m_lineEnd = -1;        // where its status line's CR LF is; -1 not yet
    qint64 m_replyBytes = 0;         // its bytes so far, dropped ones included
    bool m_overflow = false;         // it passed the cap
    QByteArray m_kept;               // its first part, while overflowing

    bool m_tcpConnected = false;
    bool m_outOfStep = false;
    bool m_broken = false;
    QElapsedTimer m_sinceCancel;      // running once a Cancel has been seen
    qint64 m_bytesSinceCancel = 0;

    QStringList m_capabilities;
    bool m_capabilitiesKnown = false; // asked on the channel as it is now
    Outcome m_lastOutcome = Outcome::Reply;
    QString m_failureText;
    QString m_failureTitle;
};
