#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "ImapParser.h"
#include "LineSession.h"
#include "MailConnection.h"
#include "MailResult.h"
#include "SessionOptions.h"
#include "SaslOAuth.h"
#include "SecureChannel.h"

class RunStatus;
struct ProfileSettingsRecord;
class CancelFlag;

// One IMAP conversation over one MailConnection, secured as the profile
// says: plain, upgraded with STARTTLS, or TLS from the first byte. As with
// POP3, a credential never goes out before a secured channel is trusted,
// unless the profile asks for no security. Commands carry tags from one
// counter and may be sent ahead of the answers to earlier ones; the untagged
// data that arrives meanwhile goes to the oldest command still in progress
// (servers answer in order), and the tagged status completes the command it
// names. Responses are framed and parsed as they arrive, within the bounds
// of ImapLimits; a server past a bound, or one that answers out of step,
// breaks the conversation: every wait then fails. Each step returns its
// result; status texts go to the RunStatus.
class ImapSession : public LineSession {
    Q_OBJECT
public:
    enum class Outcome { Completed, Cancelled, Failed };
    // Gets the untagged data that arrives while its command is in progress.
    using DataHandler = std::function<void(const ImapResponse &)>;

    // Over a TCP connection of its own (SocketConnection).
    ImapSession(RunStatus &status, const ProfileSettingsRecord &settings, CancelFlag &cancel,
                SessionOptions options = {}, QObject *parent = nullptr);
    // Over the connection given (which it then owns), e.g. an in-memory one.
    ImapSession(std::unique_ptr<MailConnection> connection, RunStatus &status, const ProfileSettingsRecord &settings,
                CancelFlag &cancel, SessionOptions options = {}, QObject *parent = nullptr);
    ~ImapSession() override;

    // Done once connected, greeted, secured as the profile asks, and the
    // capabilities are known; otherwise why not, as the box shows it.
    MailResult connectServer();
    // Done once logged in (or the server greeted with PREAUTH): LOGIN where
    // the server allows it, else AUTHENTICATE PLAIN; an OAuth2 profile uses
    // XOAUTH2 or OAUTHBEARER (ImapLogin.cpp). `sendBehind`, when given, is
    // called once a password login (LOGIN, or AUTHENTICATE PLAIN) has gone
    // out, so that what it sends travels with it instead of a round trip
    // later; should the login fail, those commands are refused harmlessly.
    MailResult login(const std::function<void()> &sendBehind = {});
    // LOGOUT and its answer, awaited within the cancel grace; then closes.
    // `sent`: the LOGOUT sent ahead already (sendLogout()), 0 for none.
    Outcome logout(quint64 sent = 0);
    quint64 sendLogout();
    // Closes the connection at once.
    void closeServer();

    // Whether the server offers this capability (case ignored), as it said
    // last on the channel as it is now.
    bool hasCapability(QByteArrayView name) const;

    // Writes a command under a fresh tag, without waiting; 0 when it could
    // not be written (see failure()). A Cancel already raised stops it.
    quint64 send(const QByteArray &command, DataHandler data = {});
    // As send(), also after a Cancel: for a command that finishes what one
    // the server already carried out began (LOGOUT, the expunge after a copy).
    quint64 sendAnyway(const QByteArray &command, DataHandler data = {});
    // Waits until that command completes; completion() is then its tagged
    // status. With CancelMode::Bounded a Cancel only bounds the wait (the
    // answer is owed: the command may already have acted).
    Outcome await(quint64 id, MailConnection::CancelMode mode = MailConnection::CancelMode::Ends);
    // As await(), for a long answer: aboutToWait() is emitted again every
    // `turnMs` of waiting, so that what arrived meanwhile is shown.
    Outcome awaitInTurns(quint64 id, int turnMs, MailConnection::CancelMode mode = MailConnection::CancelMode::Ends);
    // send() and await() in one.
    Outcome run(const QByteArray &command, DataHandler data = {},
                MailConnection::CancelMode mode = MailConnection::CancelMode::Ends);
    const ImapResponse &completion() const { return m_completion; }
    // Whether command `id` completed and its status waits for await().
    bool completed(quint64 id) const { return m_done.contains(id); }
    // The session's clock (SessionOptions::clockMs), and when the completion
    // the last await() took was framed.
    qint64 completedAtMs() const { return m_completedAtMs; }
    // Untagged data of the commands in progress is dropped from now on: their
    // handlers may not outlive the caller that gave them.
    void dropHandlers();
    bool completedOk() const { return m_completion.keyword == "OK"; }
    bool cancelRaised() const;

    // Why the last wait failed (kind ConnectionFailed, title "Error" unless
    // the connection says otherwise), naming the server's BYE when it sent one.
    MailResult failure() const;
    // A refusal of the last completed command, for the user: "The server
    // refused to <what>." and its words.
    MailResult refused(const QString &what) const;

    // For IDLE (defined in ImapIdle.cpp). Waits for the server's "+" to
    // command `id`; false when it completed (or the wait ended) instead.
    bool awaitGoAhead(quint64 id);
    // Writes a line that continues the command in progress ("DONE").
    bool writeLine(const QByteArray &line);
    // Waits until `met` holds (checked after each arrival), bounding the
    // server's silence by `quietMs` instead of the inactivity limit: Quiet
    // when that much time passed without a word.
    enum class QuietEnd { Met, Quiet, Cancelled, Failed };
    QuietEnd waitQuietly(const std::function<bool()> &met, int quietMs);

Q_SIGNALS:
    // The event loop is about to run: what has been gathered should be shown.
    void aboutToWait();

private:
    struct Pending {
        quint64 id;
        QByteArray tag;
        DataHandler data;
    };

    Outcome waitFor(const std::function<bool()> &met, MailConnection::CancelMode mode);
    void frameResponses();
    void dispatch(ImapResponse response);
    void completeCommand(ImapResponse response);
    void learnCapabilities(const QByteArray &words);
    void resetConversation();
    void discard();
    void lose(const QString &text);

    MailResult greeted();
    void endConnect(bool cancelled) override;
    MailResult stepEnded(Outcome outcome) const;
    MailResult startTls();
    // Asks CAPABILITY, or awaits the one sent already as `sent`.
    Outcome askCapabilities(quint64 sent = 0);
    QString serverWords(const QByteArray &text) const;

    // ImapLogin.cpp
    MailResult loginPassword(const std::function<void()> &behind);
    Outcome sendLogin(const std::function<void()> &behind);
    Outcome authenticate(const QByteArray &mechanism, const QByteArray &response, const QByteArray &onError,
                         const std::function<void()> &behind = {});
    MailResult judgeLogin(const QString &secret);
    MailResult loginOAuth2();
    MailResult oauthRefused(const QString &text, const QString &serverWords = {});
    std::optional<QByteArray> awaitContinuation(quint64 id);

    ImapFramer m_framer;

    quint64 m_nextId = 1;
    QList<Pending> m_pending; // commands out, in the order sent
    struct Done {
        ImapResponse response;
        qint64 atMs;
    };
    QHash<quint64, Done> m_done; // completions not yet awaited, and when they were framed
    qint64 m_completedAtMs = 0;
    ImapResponse m_completion;
    std::optional<QByteArray> m_continuation; // a "+" not yet taken
    std::optional<ImapResponse> m_greeting;
    bool m_awaitingGreeting = false;
    bool m_preauth = false;
    QByteArray m_bye; // the text of the server's BYE, when it sent one

    QList<QByteArray> m_capabilities; // upper case
    bool m_capabilitiesKnown = false;
    QString m_failureText;
    QString m_failureTitle;
};
