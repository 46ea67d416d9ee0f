#include "SecureChannel.h"

#include "CertificateSummary.h"
#include "Global.h"

#include <QEventLoop>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

ConnectionSecurity connectionSecurity(const ProfileSettingsRecord &settings)
{
    const QString value = settings.EmailSecurity.trimmed();
    if (value.isEmpty())
        return settings.EmailPort.trimmed() == QLatin1String("995") ? ConnectionSecurity::Implicit
                                                                    : ConnectionSecurity::None;
    if (value.compare(QLatin1String("None"), Qt::CaseInsensitive) == 0)
        return ConnectionSecurity::None;
    if (value.compare(QLatin1String("STARTTLS"), Qt::CaseInsensitive) == 0)
        return ConnectionSecurity::StartTls;
    if (value.compare(QLatin1String("SSL/TLS"), Qt::CaseInsensitive) == 0)
        return ConnectionSecurity::Implicit;
    return ConnectionSecurity::Unknown;
}

QString unknownSecurityText(const QString &value)
{
    return QStringLiteral("The connection security \"%1\" is not known, so nothing was sent.\r\n"
                          "Choose None, STARTTLS or SSL/TLS in the settings.")
        .arg(value);
}

QString tlsProtocolName(QSsl::SslProtocol protocol)
{
    switch (protocol) {
    case QSsl::TlsV1_2:
        return QStringLiteral("TLS 1.2");
    case QSsl::TlsV1_3:
        return QStringLiteral("TLS 1.3");
    default:
        return QStringLiteral("TLS");
    }
}

void prepareVerification(QSslSocket &socket, const QString &host)
{
    QSslConfiguration config = socket.sslConfiguration();
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    config.setProtocol(QSsl::SecureProtocols);
    socket.setSslConfiguration(config);
    socket.setPeerVerifyName(host);
    // A failed verification stops the handshake until we have decided.
    socket.setPauseMode(QAbstractSocket::PauseOnSslErrors);
}

namespace {

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

} // namespace

HandshakeResult awaitHandshake(QSslSocket &socket, const HandshakeOptions &options, CancelFlag &cancel)
{
    HandshakeResult result;
    result.trust = CertificateTrust::Verified;
    result.tcpConnected = socket.state() == QAbstractSocket::ConnectedState;
    QObject scope; // ends the connection below with this function
    QObject::connect(&socket, &QAbstractSocket::connected, &scope, [&result] { result.tcpConnected = true; });

    while (!socket.isEncrypted()) {
        enum class End { Waiting, Encrypted, Errors, Cancelled, Silent, Dropped };
        End end = End::Waiting;
        QList<QSslError> errors;
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        auto finish = [&](End how) {
            if (end == End::Waiting) {
                end = how;
                loop.quit();
            }
        };
        QObject::connect(&socket, &QSslSocket::encrypted, &loop, [&] { finish(End::Encrypted); });
        QObject::connect(&socket, &QSslSocket::sslErrors, &loop, [&](const QList<QSslError> &list) {
            errors = list;
            finish(End::Errors);
        });
        QObject::connect(&socket, &QAbstractSocket::errorOccurred, &loop, [&] { finish(End::Dropped); });
        QObject::connect(&socket, &QAbstractSocket::disconnected, &loop, [&] { finish(End::Dropped); });
        QObject::connect(&cancel, &CancelFlag::raised, &loop, [&] { finish(End::Cancelled); });
        QObject::connect(&limit, &QTimer::timeout, &loop, [&] { finish(End::Silent); });
        if (cancel.isSet())
            end = End::Cancelled;
        else if (socket.state() == QAbstractSocket::UnconnectedState)
            end = End::Dropped;
        if (end == End::Waiting) {
            limit.start(options.inactivityLimitMs);
            loop.exec();
        }
        if (socket.isEncrypted())
            break;

        switch (end) {
        case End::Errors: {
            const QSslCertificate leaf = socket.peerCertificate();
            const QString fingerprint = certificateFingerprint(leaf);
            const QString pinned = normalisedFingerprint(options.pinned);
            if (!leaf.isNull() && !pinned.isEmpty() && fingerprint == pinned && errorsConcern(errors, leaf)) {
                result.trust = CertificateTrust::Pinned;
            } else if (!leaf.isNull() && options.prompt
                       && options.prompt(options.host, socket.peerCertificateChain(), errors)
                           == CertificateDecision::TrustAlways) {
                result.trust = CertificateTrust::TrustedNow;
                result.newFingerprint = fingerprint;
            } else {
                socket.abort();
                result.kind = HandshakeResult::Kind::Untrusted;
                result.reason = reasons(errors);
                return result;
            }
            // Exactly these errors of exactly this certificate, nothing more.
            socket.ignoreSslErrors(errors);
            socket.resume();
            continue;
        }
        case End::Encrypted:
            continue;
        case End::Cancelled:
            socket.abort();
            result.kind = HandshakeResult::Kind::Cancelled;
            return result;
        case End::Silent:
            socket.abort();
            result.kind = HandshakeResult::Kind::Failed;
            result.reason = QStringLiteral("The server did not complete the secure connection in %1 seconds.")
                                .arg(options.inactivityLimitMs / 1000.0);
            return result;
        default:
            result.kind = HandshakeResult::Kind::Failed;
            // TLS libraries report a first record that is no TLS record (a
            // plain-text "+OK" greeting, for one) as a wrong version number.
            result.plainTextPeer = socket.error() == QAbstractSocket::SslHandshakeFailedError
                && socket.errorString().contains(QLatin1String("wrong version number"), Qt::CaseInsensitive);
            result.reason = socket.error() == QAbstractSocket::RemoteHostClosedError
                    || socket.error() == QAbstractSocket::UnknownSocketError
                ? QStringLiteral("The server closed the connection.")
                : socket.errorString();
            socket.abort();
            return result;
        }
    }
    result.kind = HandshakeResult::Kind::Secured;
    return result;
}
