#include "CertificateSummary.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QLocale>

#include <algorithm>

namespace {

constexpr qsizetype kMaxShown = 200;

// A certificate's texts come from the server: a line break or a
// direction override could make one field pose as another on screen.
QString displayText(const QString &text)
{
    QString shown;
    shown.reserve(qMin(text.size(), kMaxShown + 1));
    for (const QChar c : text) {
        switch (c.category()) {
        case QChar::Other_Control:
        case QChar::Other_Format:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            shown += QChar::ReplacementCharacter;
            break;
        default:
            shown += c;
        }
    }
    if (shown.size() > kMaxShown) {
        shown.truncate(kMaxShown);
        // Never leave half of a surrogate pair at the cut.
        if (shown.back().isHighSurrogate())
            shown.chop(1);
        shown += QChar(0x2026);
    }
    return shown;
}

QString joinedInfo(const QStringList &parts)
{
    QStringList kept;
    for (const QString &part : parts) {
        if (!part.isEmpty() && !kept.contains(part))
            kept << part;
    }
    return kept.join(QStringLiteral(", "));
}

QString nameOf(const QSslCertificate &certificate, bool issuer)
{
    const auto info = [&](QSslCertificate::SubjectInfo field) {
        return issuer ? certificate.issuerInfo(field) : certificate.subjectInfo(field);
    };
    QString name = joinedInfo(info(QSslCertificate::CommonName) + info(QSslCertificate::Organization));
    if (name.isEmpty())
        name = issuer ? certificate.issuerDisplayName() : certificate.subjectDisplayName();
    return name.isEmpty() ? QStringLiteral("(not given)") : displayText(name);
}

QString localTime(const QDateTime &time)
{
    if (!time.isValid())
        return QStringLiteral("(unknown)");
    return QLocale().toString(time.toLocalTime(), QLocale::LongFormat);
}

// The names a certificate is good for, as it states them.
QString namesOf(const QSslCertificate &certificate)
{
    const auto alternatives = certificate.subjectAlternativeNames();
    QStringList names;
    // A multi-map lists the values of one key last inserted first: turned
    // round, they come in the certificate's order.
    for (const QSsl::AlternativeNameEntryType type : {QSsl::DnsEntry, QSsl::IpAddressEntry}) {
        QStringList ofType = alternatives.values(type);
        std::reverse(ofType.begin(), ofType.end());
        names += ofType;
    }
    if (names.isEmpty())
        names = certificate.subjectInfo(QSslCertificate::CommonName);
    return displayText(joinedInfo(names));
}

} // namespace

QString certificateFingerprint(const QSslCertificate &certificate)
{
    if (certificate.isNull())
        return QString();
    return QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex());
}

QString SslErrorWords(const QSslError &error)
{
    const QSslCertificate &certificate = error.certificate();
    switch (error.error()) {
    case QSslError::SelfSignedCertificate:
        return QStringLiteral("The certificate is self-signed: no known certificate authority vouches for it.");
    case QSslError::SelfSignedCertificateInChain:
        return QStringLiteral("The certificate chain ends in a self-signed certificate that is not trusted.");
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
        return QStringLiteral("The certificate was issued by an unknown certificate authority.");
    case QSslError::CertificateExpired:
        if (!certificate.isNull())
            return QStringLiteral("The certificate expired on ") + localTime(certificate.expiryDate())
                + QLatin1Char('.');
        return QStringLiteral("The certificate has expired.");
    case QSslError::CertificateNotYetValid:
        if (!certificate.isNull())
            return QStringLiteral("The certificate is not valid before ") + localTime(certificate.effectiveDate())
                + QLatin1Char('.');
        return QStringLiteral("The certificate is not yet valid.");
    case QSslError::HostNameMismatch: {
        const QString names = certificate.isNull() ? QString() : namesOf(certificate);
        if (!names.isEmpty())
            return QStringLiteral("The certificate was issued for another server name (it names ") + names
                + QStringLiteral(").");
        return QStringLiteral("The certificate was issued for another server name.");
    }
    case QSslError::CertificateRevoked:
        return QStringLiteral("The certificate has been revoked by its issuer.");
    case QSslError::CertificateBlacklisted:
        return QStringLiteral("The certificate is known to be compromised.");
    case QSslError::CertificateSignatureFailed:
    case QSslError::UnableToDecryptCertificateSignature:
        return QStringLiteral("The certificate's signature is not valid.");
    case QSslError::InvalidNotBeforeField:
    case QSslError::InvalidNotAfterField:
        return QStringLiteral("The certificate's validity dates are malformed.");
    case QSslError::InvalidPurpose:
        return QStringLiteral("The certificate is not meant to identify a server.");
    case QSslError::CertificateUntrusted:
    case QSslError::CertificateRejected:
        return QStringLiteral("The certificate's root authority is not trusted to identify servers.");
    case QSslError::InvalidCaCertificate:
        return QStringLiteral("A certificate in the chain is not valid as a certificate authority.");
    case QSslError::PathLengthExceeded:
        return QStringLiteral("The certificate chain is longer than its authority allows.");
    case QSslError::NoPeerCertificate:
        return QStringLiteral("The server presented no certificate.");
    default:
        break;
    }
    QString words = error.errorString();
    if (words.isEmpty())
        return QStringLiteral("The certificate could not be verified.");
    if (!words.endsWith(QLatin1Char('.')))
        words += QLatin1Char('.');
    return words;
}

CertificateSummary SummarizeCertificate(const QList<QSslCertificate> &chain, const QList<QSslError> &errors)
{
    CertificateSummary summary;
    const QSslCertificate server = chain.isEmpty() ? QSslCertificate() : chain.first();
    if (server.isNull()) {
        summary.subject = summary.issuer = QStringLiteral("(not given)");
        summary.validFrom = summary.validUntil = QStringLiteral("(unknown)");
    } else {
        summary.subject = nameOf(server, false);
        summary.issuer = nameOf(server, true);
        summary.validFrom = localTime(server.effectiveDate());
        summary.validUntil = localTime(server.expiryDate());
        summary.fingerprint = QString::fromLatin1(server.digest(QCryptographicHash::Sha256).toHex(':').toUpper());
    }
    for (const QSslError &error : errors) {
        if (error.error() == QSslError::NoError)
            continue;
        QString words = SslErrorWords(error);
        // A problem of another certificate in the chain says whose it is.
        if (!error.certificate().isNull() && error.certificate() != server)
            words += QStringLiteral(" (certificate of ") + nameOf(error.certificate(), false) + QLatin1Char(')');
        if (!summary.problems.contains(words))
            summary.problems << words;
    }
    if (summary.problems.isEmpty())
        summary.problems << QStringLiteral("The certificate could not be verified.");
    return summary;
}
