#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <functional>

#include "MailResult.h"
#include "SecureChannel.h"

class CancelFlag;

// What bounds every wait on a connection.
struct WaitLimits {
    // A wait gives up after this long without any data from the server.
    int inactivityLimitMs = 60000;
    // After Cancel, what is still owed is awaited at most this long in all
    // and this many bytes; then the connection is closed.
    int cancelGraceMs = 3000;
    qint64 cancelGraceBytes = 16 * 1024 * 1024;
};

// How the server's certificate is judged when it fails verification.
struct TlsTrust {
    QString host; // the name the certificate must carry
    QString pinned; // the profile's trusted fingerprint
    CertificatePrompt prompt; // asked when it is not the pinned one
    CertificateTrusted trusted; // told a fingerprint the prompt trusted
};

// One connection to a mail server, shared by the protocols: it connects,
// secures (TLS from the first byte, or an upgrade in place), writes, gathers
// what arrives into one buffer the protocol frames its replies from, and
// waits, bounded, for what the protocol awaits. A wait is a local event loop
// that ends when its condition is met (checked after each arrival), Cancel
// is raised, the connection fails, or nothing arrived for the inactivity
// limit; a reply owed after a Cancel is awaited only within the cancel grace
// (time and bytes). Nothing may be deleted or re-entered under a wait.
class MailConnection : public QObject {
    Q_OBJECT
public:
    // Ends: a Cancel ends the wait. Bounded: what is awaited is owed (the
    // command is out), so a Cancel only bounds the wait by the grace.
    enum class CancelMode { Ends, Bounded };
    enum class WaitEnd { Met, Cancelled, Failed };

    explicit MailConnection(QObject *parent = nullptr);
    ~MailConnection() override;

    // The flag and the bounds every wait heeds; given by the session that
    // uses this connection, before it opens it.
    void watch(CancelFlag &cancel, const WaitLimits &limits);

    // Starts connecting, with TLS from the first byte when `tls` (secure()
    // completes it). Whatever was left of an earlier connection is dropped.
    void open(const QString &host, quint16 port, bool tls);
    // Whether this system can secure a connection at all.
    virtual bool canSecure() const = 0;
    // Completes the TLS begun by open(), or upgrades this plain connection in
    // place (STARTTLS, STLS), dropping what arrived in the clear and was not
    // taken. A certificate that fails verification is accepted only when it
    // is the pinned one or the prompt trusts it (then `trusted` is told).
    virtual HandshakeResult secure(const TlsTrust &trust) = 0;
    // False when the connection is not open or the bytes could not be
    // written. Written bytes go out when the event loop next looks, or now
    // with flush().
    virtual bool write(const QByteArray &bytes) = 0;
    virtual void flush() = 0;
    // Aborts and forgets the connection.
    void close();

    virtual bool isOpen() const = 0;
    // Whether the server was reached (TCP connected) since open().
    virtual bool wasReached() const = 0;
    virtual bool isEncrypted() const = 0;
    // "TLS 1.3" and the like while encrypted; empty otherwise.
    virtual QString protocolName() const = 0;
    virtual QAbstractSocket::SocketError error() const = 0;
    virtual QString errorString() const = 0;

    // What has arrived and not yet been taken by the protocol.
    QByteArray &received() { return m_received; }
    // Takes bytes that arrived but were not announced (those that came with
    // the close, say) into received().
    virtual void readArrived() = 0;

    // Waits until `met` holds; it is checked first and after each arrival.
    // On a connection the server closed already it fails at once.
    WaitEnd wait(const std::function<bool()> &met, CancelMode mode);
    // The protocol gives up on this conversation: what arrived is dropped,
    // nothing more is read, every wait fails with this text (title "Error"),
    // and the connection closes once the handling of this arrival is over.
    void breakOff(const QString &text);
    bool isBroken() const { return m_broken; }
    // Why the last wait failed, or why the conversation was broken off.
    MailResult failure() const;

Q_SIGNALS:
    // Bytes were added to received().
    void dataArrived();
    // breakOff() was called (by the protocol, or for bytes after Cancel).
    void broken();
    // The server closed the connection, or the connection failed.
    void dropped();

protected:
    virtual void openTransport(const QString &host, quint16 port, bool tls) = 0;
    virtual void closeTransport() = 0;
    // Closes the connection once the event loop runs again.
    virtual void abortLater() = 0;
    // A subclass appended `count` bytes to received().
    void arrived(qint64 count);
    int inactivityLimitMs() const { return m_limits.inactivityLimitMs; }
    CancelFlag *cancelFlag() const { return m_cancel; }

private:
    enum class End { Waiting, Met, Cancelled, Silent, Dropped, Grace, Broken };
    End runLoop(const std::function<bool()> &met, CancelMode mode);
    WaitEnd failedWait(End end);
    int cancelGraceLeftMs();
    void setFailure(const QString &text, const QString &title);

    CancelFlag *m_cancel = nullptr;
    WaitLimits m_limits;
    QByteArray m_received;
    bool m_broken = false;
    QElapsedTimer m_sinceCancel; // running once a Cancel has been seen
    qint64 m_bytesSinceCancel = 0;
    std::function<void()> m_recheck; // the running wait's look at its condition
    QString m_failureText;
    QString m_failureTitle;
};
