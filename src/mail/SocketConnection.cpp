#include "SocketConnection.h"

#include "CancelFlag.h"
#include "CertificateSummary.h"

#include <QEventLoop>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

namespace {

// Checks the certificate against the system's trust store and the host
// name; a failed check stops the handshake until we have decided.
void prepareVerification(QSslSocket &socket, const QString &host)
{
    QSslConfiguration config = socket.sslConfiguration();
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    config.setProtocol(QSsl::SecureProtocols);
    socket.setSslConfiguration(config);
    socket.setPeerVerifyName(host);
    socket.setPauseMode(QAbstractSocket::PauseOnSslErrors);
}

QString normalisedFingerprint(QString text)
{
    text.remove(QLatin1Char(':'));
    text.remove(QLatin1Char(' '));
    return text.toLower();
}

// Whether every error concerns this certificate, so that trusting it
// overrules them all.
bool errorsConcern(const QList<QSslError> &errors, const QSslCertificate &certificate)
{
    for (const QSslError &e : errors) {
        if (!e.certificate().isNull() && e.certificate() != certificate)
            return false;
    }
    return true;
}

QString reasons(const QList<QSslError> &errors)
{
    QStringList texts;
    for (const QSslError &e : errors) {
        const QString text = e.errorString();
        if (!texts.contains(text))
            texts << text;
    }
    return texts.join(QStringLiteral("\r\n"));
}

// One stretch of a handshake: until it is encrypted, pauses on certificate
// errors, fails, is cancelled, or goes silent for the limit.
enum class Stretch { Encrypted, Errors, Cancelled, Silent, Dropped };

Stretch awaitStretch(QSslSocket &socket, CancelFlag *cancel, int limitMs, QList<QSslError> &errors)
{
    if (cancel && cancel->isSet())
        return Stretch::Cancelled;
    if (socket.state() == QAbstractSocket::UnconnectedState)
        return Stretch::Dropped;
    std::optional<Stretch> end;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    auto finish = [&](Stretch how) {
        if (!end) {
            end = how;
            loop.quit();
        }
    };
    QObject::connect(&socket, &QSslSocket::encrypted, &loop, [&] { finish(Stretch::Encrypted); });
    QObject::connect(&socket, &QSslSocket::sslErrors, &loop, [&](const QList<QSslError> &list) {
        errors = list;
        finish(Stretch::Errors);
    });
    QObject::connect(&socket, &QAbstractSocket::errorOccurred, &loop, [&] { finish(Stretch::Dropped); });
    QObject::connect(&socket, &QAbstractSocket::disconnected, &loop, [&] { finish(Stretch::Dropped); });
    if (cancel)
        QObject::connect(cancel, &CancelFlag::raised, &loop, [&] { finish(Stretch::Cancelled); });
    QObject::connect(&limit, &QTimer::timeout, &loop, [&] { finish(Stretch::Silent); });
    limit.start(limitMs);
    loop.exec();
    return *end;
}

// A certificate that failed verification: accepted only when it is the
// pinned one (and only for its own errors) or the prompt trusts it.
bool trustDespite(QSslSocket &socket, const TlsTrust &trust, const QList<QSslError> &errors, HandshakeResult &result)
{
    const QSslCertificate leaf = socket.peerCertificate();
    const QString fingerprint = certificateFingerprint(leaf);
    const QString pinned = normalisedFingerprint(trust.pinned);
    if (!leaf.isNull() && !pinned.isEmpty() && fingerprint == pinned && errorsConcern(errors, leaf)) {
        result.trust = CertificateTrust::Pinned;
    } else if (!leaf.isNull() && trust.prompt
               && trust.prompt(trust.host, socket.peerCertificateChain(), errors) == CertificateDecision::TrustAlways) {
        result.trust = CertificateTrust::TrustedNow;
        result.newFingerprint = fingerprint;
    } else {
        return false;
    }
    // Exactly these errors of exactly this certificate, nothing more.
    socket.ignoreSslErrors(errors);
    socket.resume();
    return true;
}

HandshakeResult handshakeFailed(QSslSocket &socket, HandshakeResult result)
{
    result.kind = HandshakeResult::Kind::Failed;
    // TLS libraries report a first record that is no TLS record (a plain-text
    // "+OK" greeting, for one) as a wrong version number.
    result.plainTextPeer = socket.error() == QAbstractSocket::SslHandshakeFailedError
        && socket.errorString().contains(QLatin1String("wrong version number"), Qt::CaseInsensitive);
    result.reason = socket.error() == QAbstractSocket::RemoteHostClosedError
            || socket.error() == QAbstractSocket::UnknownSocketError
        ? QStringLiteral("The server closed the connection.")
        : socket.errorString();
    socket.abort();
    return result;
}

// Waits until the socket's handshake (already started) has finished.
HandshakeResult awaitHandshake(QSslSocket &socket, const TlsTrust &trust, CancelFlag *cancel, int limitMs)
{
    HandshakeResult result;
    result.trust = CertificateTrust::Verified;
    result.tcpConnected = socket.state() == QAbstractSocket::ConnectedState;
    QObject scope; // ends the connection below with this function
    QObject::connect(&socket, &QAbstractSocket::connected, &scope, [&result] { result.tcpConnected = true; });

    while (!socket.isEncrypted()) {
        QList<QSslError> errors;
        const Stretch end = awaitStretch(socket, cancel, limitMs, errors);
        if (socket.isEncrypted() || end == Stretch::Encrypted)
            continue;
        switch (end) {
        case Stretch::Errors:
            if (trustDespite(socket, trust, errors, result))
                continue;
            socket.abort();
            result.kind = HandshakeResult::Kind::Untrusted;
            result.reason = reasons(errors);
            return result;
        case Stretch::Cancelled:
            socket.abort();
            result.kind = HandshakeResult::Kind::Cancelled;
            return result;
        case Stretch::Silent:
            socket.abort();
            result.kind = HandshakeResult::Kind::Failed;
            result.reason = QStringLiteral("The server did not complete the secure connection in %1 seconds.")
                                .arg(limitMs / 1000.0);
            return result;
        default:
            return handshakeFailed(socket, result);
        }
    }
    result.kind = HandshakeResult::Kind::Secured;
    return result;
}

} // namespace

SocketConnection::SocketConnection(QObject *parent)
    : MailConnection(parent)
{
}

SocketConnection::~SocketConnection()
{
    closeTransport();
}

void SocketConnection::openTransport(const QString &host, quint16 port, bool tls)
{
    m_reached = false;
    m_tlsFromStart = tls;
    m_socket = new QSslSocket(this);
    connect(m_socket, &QSslSocket::readyRead, this, &SocketConnection::readArrived);
    connect(m_socket, &QSslSocket::connected, this, [this] {
        m_reached = true;
        // Each command is written whole when it is due (a window of them in
        // one write): held back waiting for the server's acknowledgement, it
        // would only cost a round trip.
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    });
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &MailConnection::dropped);
    connect(m_socket, &QAbstractSocket::disconnected, this, &MailConnection::dropped);
    if (tls) {
        prepareVerification(*m_socket, host);
        m_socket->connectToHostEncrypted(host, port);
    } else {
        m_socket->connectToHost(host, port);
    }
}

void SocketConnection::closeTransport()
{
    if (!m_socket)
        return;
    disconnect(m_socket, nullptr, this, nullptr);
    m_socket->abort();
    delete m_socket;
    m_socket = nullptr;
}

void SocketConnection::abortLater()
{
    if (m_socket)
        QMetaObject::invokeMethod(
            m_socket, [socket = m_socket] { socket->abort(); }, Qt::QueuedConnection);
}

bool SocketConnection::canSecure() const
{
    return QSslSocket::supportsSsl();
}

HandshakeResult SocketConnection::secure(const TlsTrust &trust)
{
    if (!m_socket)
        return {};
    // TLS from the first byte starts by itself once connected (Qt would
    // warn on stderr at a handshake asked for before); an upgrade starts it
    // here, on a connection that is still there.
    if (!m_tlsFromStart && m_socket->mode() == QSslSocket::UnencryptedMode
        && m_socket->state() == QAbstractSocket::ConnectedState) {
        // Whatever came after the server's consent arrived in the clear; none
        // of it may pass for something the server said inside TLS.
        received().clear();
        m_socket->readAll();
        prepareVerification(*m_socket, trust.host);
        m_socket->startClientEncryption();
    }
    const HandshakeResult result = awaitHandshake(*m_socket, trust, cancelFlag(), inactivityLimitMs());
    if (result.kind == HandshakeResult::Kind::Secured && !result.newFingerprint.isEmpty() && trust.trusted)
        trust.trusted(result.newFingerprint);
    return result;
}

bool SocketConnection::write(const QByteArray &bytes)
{
    return isOpen() && m_socket->write(bytes) == bytes.size();
}

void SocketConnection::flush()
{
    if (m_socket)
        m_socket->flush();
}

bool SocketConnection::isOpen() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

bool SocketConnection::isEncrypted() const
{
    return m_socket && m_socket->isEncrypted();
}

QString SocketConnection::protocolName() const
{
    return isEncrypted() ? tlsProtocolName(m_socket->sessionProtocol()) : QString();
}

QAbstractSocket::SocketError SocketConnection::error() const
{
    return m_socket ? m_socket->error() : QAbstractSocket::UnknownSocketError;
}

QString SocketConnection::errorString() const
{
    return m_socket ? m_socket->errorString() : QString();
}

void SocketConnection::readArrived()
{
    if (!m_socket)
        return;
    if (isBroken()) {
        m_socket->skip(m_socket->bytesAvailable()); // nothing more is read from a broken conversation
        return;
    }
    // Straight onto the end of the buffer: a stream that is thrown away
    // costs one copy, not a fresh array per arrival.
    const qint64 available = m_socket->bytesAvailable();
    if (available <= 0)
        return;
    QByteArray &buffer = received();
    const qsizetype before = buffer.size();
    buffer.resize(before + qsizetype(available));
    const qint64 got = m_socket->read(buffer.data() + before, available);
    buffer.resize(before + qsizetype(qMax<qint64>(0, got)));
    arrived(got);
}
