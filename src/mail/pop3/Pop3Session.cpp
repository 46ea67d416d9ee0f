#include "Pop3Session.h"

#include "ConnectErrorText.h"
#include "Global.h"
#include "LoginReplies.h"
#include "MessageBox.h"
#include "Pop3Parsers.h"
#include "RunStatus.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSslSocket>
#include <QTimer>

#include <stdexcept>

namespace {
const QByteArray kCrLf = QByteArrayLiteral("\r\n");
const QByteArray kTerminator = QByteArrayLiteral("\r\n.\r\n");
const QString kOutOfStep = QStringLiteral("The server's replies no longer match the commands sent, so the connection "
                                          "was closed without letting the server act on this session.");
// Enough of a reply's tail to find a terminator split across arrivals.
constexpr qsizetype kTailKept = 4;
} // namespace

Pop3Session::Pop3Session(RunStatus &status, const ProfileSettingsRecord &settings,
                         CancelFlag &cancel, SessionOptions options, QObject *parent)
    : QObject(parent)
    , m_status(status)
    , m_settings(settings)
    , m_cancel(cancel)
    , m_options(options)
{
    m_clock.start();
    // The grace after a Cancel runs from the press, across every wait after it.
    connect(&m_cancel, &CancelFlag::raised, this, [this] {
        if (!m_sinceCancel.isValid())
            m_sinceCancel.start();
    });
}

Pop3Session::~Pop3Session()
{
    discardSocket();
}

qint16 Pop3Session::ConnectServer()
{
    discardSocket();
    ReceiveBuffer.clear();
    m_overflow = false;
    m_kept.clear();
    m_scanned = 0;
    m_lineEnd = -1;
    m_replyBytes = 0;
    m_capabilities.clear();
    m_capabilitiesKnown = false;
    m_trust = CertificateTrust::NotEncrypted;
    m_tcpConnected = false;
    m_outOfStep = false;
    m_broken = false;
    m_bytesSinceCancel = 0;
    m_status.setStatusText(QStringLiteral("Connecting To Server..."));
    ServerReply.clear();
    ReplyMode = kSingleReply;

    bool ok = false;
    const int port = m_settings.EmailPort.trimmed().toInt(&ok);
    if (!ok || port < 0 || port > 65535)
        throw std::runtime_error("The POP3 port \"" + m_settings.EmailPort.toStdString()
                                 + "\" is not a port number.");

    m_security = connectionSecurity(m_settings);
    if (m_security == ConnectionSecurity::Unknown)
        return connectFailed(unknownSecurityText(m_settings.EmailSecurity), QStringLiteral("Connection Failed"));

    if (m_security != ConnectionSecurity::None && !QSslSocket::supportsSsl())
        return connectFailed(QStringLiteral("This system offers no TLS, so the connection cannot be secured and "
                                            "nothing was sent."),
                             QStringLiteral("Connection Failed"));

    m_socket = new QSslSocket(this);
    connect(m_socket, &QSslSocket::readyRead, this, &Pop3Session::Winsock_DataArrival);
    connect(m_socket, &QSslSocket::connected, this, [this] {
        m_tcpConnected = true;
        // Each command is written whole when it is due (a window of them in
        // one write): held back waiting for the server's acknowledgement,
        // it would only cost a round trip.
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    });
    if (m_security == ConnectionSecurity::Implicit) {
        prepareVerification(*m_socket, m_settings.EmailHost);
        m_socket->connectToHostEncrypted(m_settings.EmailHost, quint16(port));
        if (!secureChannel())
            return m_lastOutcome == Outcome::Cancelled ? 0 : kError;
        m_awaited = expectReply(kSingleReply); // the greeting, inside TLS
        frameReplies();
    } else {
        m_awaited = expectReply(kSingleReply); // the greeting
        m_socket->connectToHost(m_settings.EmailHost, quint16(port));
    }

    const Outcome outcome = wait(m_awaited, CancelCheck::Flag);
    m_lastOutcome = outcome;
    if (outcome == Outcome::Cancelled)
        return 0;
    if (outcome == Outcome::Failed)
        return greetingFailed();
    if (ServerReply.startsWith(QLatin1String("-ERR"), Qt::CaseInsensitive)) {
        // A server refusing service says why; nothing of ours is sent.
        const QString said = replyText(ServerReply, m_settings.EmailPassword);
        return connectFailed(QStringLiteral("The server %1 refused the session.").arg(m_settings.EmailHost)
                                 + (said.isEmpty() ? QString() : QStringLiteral("\r\nThe server said: ") + said),
                             QStringLiteral("Connection Failed"));
    }
    if (m_security == ConnectionSecurity::StartTls)
        return startTls();
    return kConnected;
}

// The server was never reached: the box says why, from the socket's error.
static QString unreachableText(const QAbstractSocket *socket, const ProfileSettingsRecord &settings,
                               int waitedMs)
{
    return ConnectErrorText(socket ? socket->error() : QAbstractSocket::UnknownSocketError, settings.EmailHost,
                            settings.EmailPort.trimmed(), waitedMs / 1000.0, socket ? socket->errorString() : QString());
}

qint16 Pop3Session::greetingFailed()
{
    if (!m_tcpConnected && !isEncrypted())
        return connectFailed(unreachableText(m_socket, m_settings, m_options.inactivityLimitMs), m_settings.EmailHost);
    // Reached, but what answered is no POP3 server (or nothing answered):
    // the network is fine, the settings are not.
    const QString where = QStringLiteral("%1 (port %2)").arg(m_settings.EmailHost, m_settings.EmailPort.trimmed());
    QString text;
    if (m_outOfStep || !ReceiveBuffer.isEmpty())
        text = QStringLiteral("The server %1 did not answer as a POP3 server.").arg(where);
    else if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState) {
        text = QStringLiteral("The server %1 accepted the connection but sent no POP3 greeting in %2 seconds.")
                   .arg(where)
                   .arg(m_options.inactivityLimitMs / 1000.0);
        // A server that waits in silence is most often one that expects TLS
        // from the first byte.
        if (m_security != ConnectionSecurity::Implicit)
            text += QStringLiteral("\r\nIf this port expects TLS from the start (usually port 995), choose SSL/TLS "
                                   "as Connection Security.");
    }
    else
        text = QStringLiteral("The server %1 closed the connection without a POP3 greeting.").arg(where);
    return connectFailed(text + QStringLiteral("\r\nCheck the server name, the port and the connection security "
                                               "in the settings."),
                         QStringLiteral("Connection Failed"));
}

qint16 Pop3Session::connectFailed(const QString &text, const QString &title)
{
    m_lastOutcome = Outcome::Failed;
    m_failureText.clear(); // this box says it all
    m_status.setStatusText(QStringLiteral("Connect Error"));
    MessageBox::show(text, title, MessageBox::Icon::Critical);
    discardSocket();
    return kError;
}

qint16 Pop3Session::commandStopped()
{
    // A command of the upgrade failed: its failure is in failureText.
    discardSocket();
    return m_lastOutcome == Outcome::Cancelled ? 0 : kError;
}

bool Pop3Session::secureChannel()
{
    m_status.setStatusText(QStringLiteral("Securing Connection..."));
    HandshakeOptions handshake;
    handshake.host = m_settings.EmailHost;
    handshake.pinned = m_settings.TrustedCertificate;
    handshake.prompt = m_options.certificatePrompt;
    handshake.inactivityLimitMs = m_options.inactivityLimitMs;
    const HandshakeResult result = awaitHandshake(*m_socket, handshake, m_cancel);
    switch (result.kind) {
    case HandshakeResult::Kind::Secured:
        m_trust = result.trust;
        if (!result.newFingerprint.isEmpty() && m_options.certificateTrusted)
            m_options.certificateTrusted(result.newFingerprint);
        return true;
    case HandshakeResult::Kind::Cancelled:
        m_lastOutcome = Outcome::Cancelled;
        discardSocket();
        return false;
    case HandshakeResult::Kind::Untrusted:
        connectFailed(QStringLiteral("The server's certificate is not trusted, so the connection was closed "
                                     "before the password was sent.\r\n")
                          + result.reason,
                      QStringLiteral("Connection Failed"));
        return false;
    case HandshakeResult::Kind::Failed:
        break;
    }
    if (!result.tcpConnected)
        connectFailed(unreachableText(m_socket, m_settings, m_options.inactivityLimitMs), m_settings.EmailHost);
    else if (result.plainTextPeer && m_security == ConnectionSecurity::Implicit)
        connectFailed(QStringLiteral("A secure connection to the server could not be made, so the password "
                                     "was not sent.\r\nThe server %1 (port %2) answers in plain text, not SSL/TLS.\r\n"
                                     "Choose STARTTLS as Connection Security for this port, or use the server's "
                                     "SSL/TLS port (usually 995).")
                          .arg(m_settings.EmailHost, m_settings.EmailPort.trimmed()),
                      QStringLiteral("Connection Failed"));
    else
        connectFailed(QStringLiteral("A secure connection to the server could not be made, so the password "
                                     "was not sent.\r\n")
                          + result.reason,
                      QStringLiteral("Connection Failed"));
    return false;
}

qint16 Pop3Session::startTls()
{
    if (QueryCapabilities() != Outcome::Reply)
        return commandStopped();
    if (!hasCapability(QStringLiteral("STLS")))
        return connectFailed(QStringLiteral("The server does not offer STARTTLS, so the connection cannot be "
                                            "secured and the user name and password were not sent.\r\n"
                                            "Choose SSL/TLS (usually port 995) if the server offers it."),
                             QStringLiteral("Connection Failed"));
    if (sendAndWait(QStringLiteral("STLS"), kSingleReply, CancelCheck::Flag) != Outcome::Reply)
        return commandStopped();
    if (!ServerReply.startsWith(QLatin1String("+OK")))
        return connectFailed(QStringLiteral("The server refused to start TLS, so the user name and password "
                                            "were not sent.\r\nThe server said: ")
                                 + replyText(ServerReply, m_settings.EmailPassword),
                             QStringLiteral("Connection Failed"));
    // Whatever came after the answer arrived in the clear; none of it may
    // pass for something the server said inside TLS.
    ReceiveBuffer.clear();
    m_socket->readAll();
    m_pending.clear();
    m_scanned = 0;
    m_lineEnd = -1;
    prepareVerification(*m_socket, m_settings.EmailHost);
    m_socket->startClientEncryption();
    if (!secureChannel())
        return m_lastOutcome == Outcome::Cancelled ? 0 : kError;
    // What the server offered before TLS may have been tampered with.
    if (QueryCapabilities() != Outcome::Reply)
        return commandStopped();
    m_capabilitiesKnown = true;
    return kConnected;
}

qint16 Pop3Session::LoginServer()
{
    m_status.setStatusText(QStringLiteral("Verify ID/Password"));
    if (!m_capabilitiesKnown && QueryCapabilities() != Outcome::Reply)
        return 0;
    if (m_security != ConnectionSecurity::None && !isEncrypted()) {
        setFailure(QStringLiteral("The connection is not secured, so the password was not sent."),
                   QStringLiteral("Connection Failed"));
        m_lastOutcome = Outcome::Failed;
        return 0;
    }
    if (m_settings.usesOAuth2())
        return loginOAuth2();
    // The USER reply is not judged: some servers only answer PASS truthfully.
    // Inside TLS, to a server offering PIPELINING, PASS goes out with USER;
    // in the clear it waits for USER's answer, since a server may refuse USER
    // precisely to keep the password off the wire.
    const QString user = QStringLiteral("USER ") + m_settings.EmailUserid;
    const QString pass = QStringLiteral("PASS ") + m_settings.EmailPassword;
    if (isEncrypted() && hasCapability(QStringLiteral("PIPELINING"))) {
        const quint64 userReply = sendAhead(user, kSingleReply);
        const quint64 passReply = userReply ? sendAhead(pass, kSingleReply) : 0;
        if (passReply == 0 || awaitAhead(userReply, true) != Outcome::Reply)
            return 0;
        const bool userRefused = ServerReply.startsWith(QLatin1Char('-'));
        // PASS's answer is read in any case, so that the next reply is told apart.
        if (awaitAhead(passReply, true) != Outcome::Reply)
            return 0;
        if (userRefused && offersSaslPlain() && authPlain() != Outcome::Reply)
            return 0;
        return judgeLogin();
    }
    if (sendAndWait(user, kSingleReply, CancelCheck::Flag) != Outcome::Reply)
        return 0;
    if (ServerReply.startsWith(QLatin1Char('-')) && offersSaslPlain()) {
        if (authPlain() != Outcome::Reply)
            return 0;
    } else if (sendAndWait(pass, kSingleReply, CancelCheck::Flag) != Outcome::Reply) {
        return 0;
    }
    return judgeLogin();
}

qint16 Pop3Session::judgeLogin()
{
    if (ServerReply.toUpper().contains(QLatin1String("+OK")))
        return 1;
    const LoginRefusal refusal = loginRefusal(ServerReply, m_settings.EmailPassword);
    MessageBox::show(refusal.text, refusal.title, MessageBox::Icon::Critical);
    return 0;
}

bool Pop3Session::offersSaslPlain() const
{
    for (const QString &line : m_capabilities) {
        const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.isEmpty() || words.first().compare(QLatin1String("SASL"), Qt::CaseInsensitive) != 0)
            continue;
        for (qsizetype i = 1; i < words.size(); ++i)
            if (words.at(i).compare(QLatin1String("PLAIN"), Qt::CaseInsensitive) == 0)
                return true;
    }
    return false;
}

Pop3Session::Outcome Pop3Session::authPlain()
{
    const QString response = QString::fromLatin1(saslPlainResponse(m_settings.EmailUserid, m_settings.EmailPassword));
    const QString initial = QStringLiteral("AUTH PLAIN ") + response;
    // A command line may hold 255 octets with its CR LF; a longer response
    // follows the server's "+" continuation instead.
    if (initial.size() + 2 <= 255)
        return sendAndWait(initial, kSingleReply, CancelCheck::Flag);
    const Outcome outcome = sendAndWait(QStringLiteral("AUTH PLAIN"), kSingleReply, CancelCheck::Flag);
    if (outcome != Outcome::Reply || !ServerReply.startsWith(QLatin1Char('+'))
        || ServerReply.startsWith(QLatin1String("+OK")))
        return outcome;
    return sendAndWait(response, kSingleReply, CancelCheck::Flag);
}

bool Pop3Session::isEncrypted() const
{
    return m_socket && m_socket->isEncrypted();
}

QString Pop3Session::protocolName() const
{
    return isEncrypted() ? tlsProtocolName(m_socket->sessionProtocol()) : QString();
}

Pop3Session::Outcome Pop3Session::QueryCapabilities()
{
    m_capabilities.clear();
    const Outcome outcome = sendAndWait(QStringLiteral("CAPA"), kMultiLineReply, CancelCheck::Flag);
    if (outcome != Outcome::Reply)
        return outcome;
    for (const QString &line : MultiLineBody(ServerReply).value_or(QStringList{})) {
        if (!line.trimmed().isEmpty())
            m_capabilities.append(line.trimmed());
    }
    return outcome;
}

bool Pop3Session::hasCapability(const QString &name) const
{
    for (const QString &line : m_capabilities) {
        if (line.section(QLatin1Char(' '), 0, 0).compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

Pop3Session::Outcome Pop3Session::QuitServer()
{
    // After a Cancel the flag is still up; QUIT must still go out and be
    // answered, within what is left of the cancel grace.
    return sendAndWait(QStringLiteral("QUIT"), kSingleReply, CancelCheck::Owed);
}

void Pop3Session::CloseServer()
{
    m_status.setStatusText(QStringLiteral("Disconnected"));
    discardSocket();
}

Pop3Session::Outcome Pop3Session::command(const QString &text, qint16 mode, bool cancelEnds)
{
    if (!cancelEnds && m_cancel.isSet())
        return m_lastOutcome = Outcome::Cancelled; // not sent: nothing owed
    return sendAndWait(text, mode, cancelEnds ? CancelCheck::Flag : CancelCheck::Owed);
}

void Pop3Session::showFailure(const QString &extraLine) const
{
    if (m_failureText.isEmpty())
        return;
    QString text = m_failureText;
    if (!extraLine.isEmpty())
        text += QStringLiteral("\r\n") + extraLine;
    MessageBox::show(text, m_failureTitle, MessageBox::Icon::Critical);
}

Pop3Session::Outcome Pop3Session::sendAndWait(const QString &text, qint16 mode, CancelCheck check)
{
    if (check == CancelCheck::Flag && m_cancel.isSet())
        return m_lastOutcome = Outcome::Cancelled;
    if (m_broken)
        return m_lastOutcome = Outcome::Failed;
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState) {
        setFailure(QStringLiteral("The connection to the server has been lost."), QStringLiteral("Error"));
        return m_lastOutcome = Outcome::Failed;
    }
    ServerReply.clear();
    ReplyMode = mode;
    m_awaited = expectReply(mode, false, text);
    // User names and passwords go out as UTF-8, as in AUTH PLAIN.
    const QByteArray line = text.toUtf8() + kCrLf;
    if (m_socket->write(line) != line.size()) {
        setFailure(QStringLiteral("The connection to the server has been lost."), QStringLiteral("Error"));
        return m_lastOutcome = Outcome::Failed;
    }
    // Out now rather than at the event loop's next look at the socket: one
    // exchange per round trip is all an unpipelined session gets.
    m_socket->flush();
    // The reply may already be waiting in the buffer (a server that answers
    // ahead of time, or several replies that arrived together).
    frameReplies();
    return m_lastOutcome = wait(m_awaited, check);
}

quint64 Pop3Session::sendAhead(const QString &text, qint16 mode)
{
    if (m_broken) {
        m_lastOutcome = Outcome::Failed;
        return 0;
    }
    const QByteArray line = text.toUtf8() + kCrLf;
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState || m_socket->write(line) != line.size()) {
        setFailure(QStringLiteral("The connection to the server has been lost."), QStringLiteral("Error"));
        m_lastOutcome = Outcome::Failed;
        return 0;
    }
    return expectReply(mode, true, text);
}

Pop3Session::Outcome Pop3Session::awaitAhead(quint64 sequence, bool cancelEnds)
{
    if (!replyArrived(sequence) && m_socket && m_socket->state() != QAbstractSocket::ConnectedState)
        Winsock_DataArrival(); // what came before the connection closed
    if (!replyArrived(sequence) && m_broken)
        return m_lastOutcome = Outcome::Failed;
    if (!replyArrived(sequence)) {
        // A closed connection sends no further reply; waiting for one would
        // only run into the time limit.
        if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState) {
            setFailure(QStringLiteral("The server closed the connection."), QStringLiteral("Error"));
            return m_lastOutcome = Outcome::Failed;
        }
        const Outcome outcome = wait(sequence, cancelEnds ? CancelCheck::Flag : CancelCheck::Owed);
        if (outcome != Outcome::Reply)
            return m_lastOutcome = outcome;
    }
    const auto found = m_ahead.constFind(sequence);
    if (found == m_ahead.constEnd()) {
        setFailure(QStringLiteral("The reply to a command was lost."), QStringLiteral("Error"));
        return m_lastOutcome = Outcome::Failed;
    }
    ServerReply = QString::fromLatin1(found->reply);
    m_lastFramedAtMs = found->framedAtMs;
    m_ahead.erase(found);
    return m_lastOutcome = Outcome::Reply;
}

void Pop3Session::yieldToEventLoop()
{
    Q_EMIT aboutToWait();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool Pop3Session::cancelRaised() const
{
    return m_cancel.isSet();
}

Pop3Session::Outcome Pop3Session::wait(quint64 sequence, Pop3Session::CancelCheck check)
{
    if (m_lastFramed >= sequence)
        return Outcome::Reply;
    // Before the checks: what is shown now may raise Cancel.
    Q_EMIT aboutToWait();
    if (m_broken)
        return Outcome::Failed;
    if (check == CancelCheck::Flag && m_cancel.isSet())
        return Outcome::Cancelled;

    enum class End { Waiting, Framed, Cancelled, Silent, Dropped, Grace, Broken };
    End end = End::Waiting;
    QEventLoop loop;
    QTimer idle;
    idle.setSingleShot(true);
    idle.setInterval(m_options.inactivityLimitMs);
    auto finish = [&](End how) {
        if (end == End::Waiting) {
            end = how;
            loop.quit();
        }
    };
    connect(this, &Pop3Session::replyFramed, &loop, [&](quint64 framed) {
        if (framed >= sequence)
            finish(End::Framed);
    });
    connect(this, &Pop3Session::dataArrived, &idle, qOverload<>(&QTimer::start));
    connect(this, &Pop3Session::broken, &loop, [&] { finish(End::Broken); });
    // An owed reply is awaited after a Cancel only for what is left of the
    // grace, however the server trickles.
    QTimer grace;
    grace.setSingleShot(true);
    auto armGrace = [&] {
        if (!grace.isActive())
            grace.start(cancelGraceLeftMs());
    };
    connect(&m_cancel, &CancelFlag::raised, &loop, [&] {
        if (check == CancelCheck::Flag)
            finish(End::Cancelled);
        else
            armGrace();
    });
    if (check == CancelCheck::Owed && m_cancel.isSet())
        armGrace();
    connect(&grace, &QTimer::timeout, &loop, [&] { finish(End::Grace); });
    connect(&idle, &QTimer::timeout, &loop, [&] { finish(End::Silent); });
    connect(m_socket, &QAbstractSocket::errorOccurred, &loop, [&] { finish(End::Dropped); });
    connect(m_socket, &QAbstractSocket::disconnected, &loop, [&] { finish(End::Dropped); });
    idle.start();
    loop.exec();

    if (end == End::Dropped && m_socket->bytesAvailable() > 0)
        Winsock_DataArrival(); // the reply may have come with the close
    if (m_lastFramed >= sequence)
        return Outcome::Reply;
    if (m_broken)
        return Outcome::Failed;
    switch (end) {
    case End::Cancelled:
        return Outcome::Cancelled;
    case End::Grace:
        setFailure(QStringLiteral("The server did not finish answering within %1 seconds of Cancel, so the "
                                  "connection was closed.")
                       .arg(m_options.cancelGraceMs / 1000.0),
                   QStringLiteral("Error"));
        return Outcome::Failed;
    case End::Silent:
        setFailure(QStringLiteral("The server stopped answering.\r\n"
                                  "Nothing arrived from it for %1 seconds, so the connection was closed.")
                       .arg(m_options.inactivityLimitMs / 1000.0),
                   QStringLiteral("Connection Failed"));
        return Outcome::Failed;
    default:
        setFailure(m_socket->error() == QAbstractSocket::RemoteHostClosedError
                           || m_socket->error() == QAbstractSocket::UnknownSocketError
                       ? QStringLiteral("The server closed the connection.")
                       : m_socket->errorString(),
                   QStringLiteral("Error"));
        return Outcome::Failed;
    }
}

quint64 Pop3Session::expectReply(qint16 mode, bool keep, const QString &command)
{
    const quint64 sequence = m_nextSequence++;
    // Only a command's keyword is kept to name it: a SASL response line is
    // itself a credential.
    static const QList<QByteArray> keywords = {"TOP",  "CAPA", "UIDL", "LIST", "STAT", "USER", "PASS", "AUTH",
                                               "STLS", "DELE", "QUIT", "RETR", "NOOP", "RSET", "APOP"};
    const QByteArray word = command.section(QLatin1Char(' '), 0, 0).toLatin1().toUpper();
    m_pending.append({sequence, mode, keep, keywords.contains(word) ? word : QByteArray()});
    return sequence;
}

void Pop3Session::Winsock_DataArrival()
{
    if (!m_socket)
        return;
    if (m_broken) {
        m_socket->skip(m_socket->bytesAvailable()); // nothing more is read from a broken conversation
        return;
    }
    // Straight onto the end of the buffer: a stream that is thrown away
    // costs one copy, not a fresh array per arrival.
    const qint64 available = m_socket->bytesAvailable();
    if (available <= 0)
        return;
    const qsizetype before = ReceiveBuffer.size();
    ReceiveBuffer.resize(before + qsizetype(available));
    const qint64 got = m_socket->read(ReceiveBuffer.data() + before, available);
    ReceiveBuffer.resize(before + qsizetype(qMax<qint64>(0, got)));
    if (got <= 0)
        return;
    if (m_cancel.isSet()) {
        if (!m_sinceCancel.isValid())
            m_sinceCancel.start();
        m_bytesSinceCancel += got;
        if (m_bytesSinceCancel > m_options.cancelGraceBytes) {
            breakSession(QStringLiteral("The server kept sending after Cancel, so the connection was closed."));
            return;
        }
    }
    Q_EMIT dataArrived();
    frameReplies();
}

// The reply in progress always starts at the front of the buffer between
// calls, so what is known about it (how far it has been searched, where its
// status line ends) is kept relative to its start. Each byte is searched
// once: a reply arriving a byte at a time costs no more than one in a piece.
void Pop3Session::frameReplies()
{
    QByteArray &buffer = ReceiveBuffer;
    // Replies are taken from `pos` on and the buffer is shortened once at
    // the end: removing each reply from the front would move the rest of a
    // large pipelined batch again for every reply.
    qsizetype pos = 0;
    auto compact = [&] {
        if (m_broken || pos == 0)
            return;
        buffer.remove(0, pos);
        pos = 0;
    };
    auto take = [&](const Pending &pending, QByteArray reply) {
        m_scanned = 0;
        m_lineEnd = -1;
        m_replyBytes = 0;
        m_overflow = false;
        m_kept.clear();
        m_pending.removeFirst();
        handOver(pending, std::move(reply));
    };
    while (!m_pending.isEmpty() && !m_broken) {
        const Pending pending = m_pending.first();
        const qsizetype held = buffer.size() - pos;
        if (m_overflow) {
            // Only the tail carried over and the new bytes are here.
            const qsizetype at = buffer.indexOf(kTerminator, pos);
            if (at < 0) {
                m_replyBytes += held - m_scanned;
                if (m_replyBytes > m_options.replyLimitBytes) {
                    breakSession(replyTooLarge(pending, m_options.replyLimitBytes));
                    return;
                }
                // Keeps its capacity: the next arrival lands in place.
                buffer.remove(0, buffer.size() - qMin(kTailKept, held));
                m_scanned = buffer.size();
                return;
            }
            pos = at + kTerminator.size();
            take(pending, m_kept + kTerminator);
            continue;
        }
        if (m_lineEnd < 0) {
            // The search resumes one byte back: a CR may have ended the last arrival.
            const qsizetype eol = buffer.indexOf(kCrLf, pos + qMax<qsizetype>(0, m_scanned - 1));
            if (eol < 0) {
                m_scanned = held;
                if (held > kStatusLineCap)
                    breakOutOfStep();
                compact();
                return;
            }
            m_lineEnd = eol - pos;
            m_scanned = m_lineEnd;
        }
        // A single-line reply, and a multi-line one refused with "-ERR",
        // end at their first CR LF; the rest belongs to the next reply.
        if (pending.mode == kSingleReply || buffer.at(pos) == '-') {
            const qsizetype end = pos + m_lineEnd + kCrLf.size();
            QByteArray reply = buffer.mid(pos, end - pos);
            pos = end;
            take(pending, std::move(reply));
            continue;
        }
        // The terminator's CR LF may be the status line's own (an empty list).
        const qsizetype from = qMax(m_lineEnd, m_scanned - (kTerminator.size() - 1));
        const qsizetype at = buffer.indexOf(kTerminator, pos + from);
        if (at >= 0) {
            const qsizetype end = at + kTerminator.size();
            QByteArray reply = buffer.mid(pos, end - pos);
            pos = end;
            take(pending, std::move(reply));
            continue;
        }
        m_scanned = held;
        if (pending.mode == kListingReply) {
            // A listing is identity: it is read whole or not used at all.
            if (held > m_options.listingLimitBytes)
                breakSession(QStringLiteral("The server's message listing is larger than %1 MB, so the "
                                            "connection was closed.")
                                 .arg(m_options.listingLimitBytes / (1024 * 1024)));
            compact();
            return;
        }
        if (held > m_options.replyLimitBytes) {
            breakSession(replyTooLarge(pending, m_options.replyLimitBytes));
            return;
        }
        if (held <= kReplyCap) {
            compact();
            return;
        }
        // A reply without end in sight: keep its first part and drop what
        // follows until its end arrives, so memory stays bounded; past the
        // limit the server is given up on, so time does too.
        m_overflow = true;
        m_kept = buffer.mid(pos, kReplyCap);
        m_replyBytes = held;
        buffer.remove(0, buffer.size() - kTailKept);
        m_scanned = buffer.size();
        return;
    }
    compact();
}

QString Pop3Session::replyTooLarge(const Pending &pending, qint64 limit)
{
    const QString size = limit >= 1024 * 1024 ? QStringLiteral("%1 MB").arg(limit / (1024 * 1024))
                                              : QStringLiteral("%1 bytes").arg(limit);
    return QStringLiteral("The server's reply to %1 went on past %2, so the connection was closed.")
        .arg(pending.command.isEmpty() ? QStringLiteral("a command") : QString::fromLatin1(pending.command), size);
}

void Pop3Session::handOver(const Pending &pending, QByteArray reply)
{
    if (!isStatusReply(reply)) {
        // The rest of an earlier reply (a header line "." a server did not
        // stuff, say): every later reply would be taken for the wrong command.
        breakOutOfStep();
        return;
    }
    m_lastFramed = pending.sequence;
    // Replies to commands whose wait was abandoned are dropped here.
    if (pending.keep)
        m_ahead.insert(pending.sequence, {std::move(reply), m_clock.elapsed()});
    else if (pending.sequence == m_awaited)
        ServerReply = QString::fromLatin1(reply);
    Q_EMIT replyFramed(pending.sequence);
}

void Pop3Session::setFailure(const QString &text, const QString &title)
{
    m_failureText = text;
    m_failureTitle = title;
}

bool Pop3Session::isStatusReply(const QByteArray &reply)
{
    if (reply.size() >= 3 && qstrnicmp(reply.constData(), "+OK", 3) == 0)
        return true;
    if (reply.size() >= 4 && qstrnicmp(reply.constData(), "-ERR", 4) == 0)
        return true;
    // A SASL continuation: "+", then a space or the line's end.
    return reply.startsWith("+ ") || reply.startsWith("+\r\n");
}

void Pop3Session::breakOutOfStep()
{
    m_outOfStep = true;
    breakSession(kOutOfStep);
}

void Pop3Session::breakSession(const QString &text)
{
    if (m_broken)
        return;
    m_broken = true;
    setFailure(text, QStringLiteral("Error"));
    m_pending.clear();
    ReceiveBuffer.clear();
    m_scanned = 0;
    m_lineEnd = -1;
    m_replyBytes = 0;
    m_overflow = false;
    m_kept.clear();
    Q_EMIT broken();
    // Closed once the socket's own handling of this arrival is over: a
    // server streaming without end must not keep the program reading.
    if (m_socket)
        QMetaObject::invokeMethod(m_socket, [socket = m_socket] { socket->abort(); }, Qt::QueuedConnection);
}

int Pop3Session::cancelGraceLeftMs()
{
    if (!m_sinceCancel.isValid())
        m_sinceCancel.start();
    return int(qBound(qint64(0), qint64(m_options.cancelGraceMs) - m_sinceCancel.elapsed(), qint64(m_options.cancelGraceMs)));
}

void Pop3Session::discardSocket()
{
    m_pending.clear();
    m_ahead.clear();
    if (!m_socket)
        return;
    disconnect(m_socket, nullptr, this, nullptr);
    m_socket->abort();
    delete m_socket;
    m_socket = nullptr;
}
