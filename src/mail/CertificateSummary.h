#pragma once

#include <QList>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <QStringList>

// What the user is shown of a server certificate that could not be verified,
// before deciding whether to trust it. Every text taken from the certificate
// is the server's own and made safe for display: control and direction
// characters are replaced and long texts are cut.
struct CertificateSummary {
    QString subject; // common name and organisation of the server's certificate
    QString issuer; // the same of whoever signed it
    QString validFrom; // in the user's locale and time zone
    QString validUntil;
    QString fingerprint; // SHA-256, colon-separated upper-case hex pairs
    QStringList problems; // why it was not accepted, in words, each once
};

// SHA-256 of the certificate's DER form in lower-case hex without separators:
// what a profile stores as its trusted certificate and compares with. Empty
// for a null certificate, which nothing may ever match.
QString certificateFingerprint(const QSslCertificate &certificate);

// `chain` is the server's chain, its own certificate first; `errors` are the
// verification errors reported for it.
CertificateSummary SummarizeCertificate(const QList<QSslCertificate> &chain, const QList<QSslError> &errors);

// One verification error in words.
QString SslErrorWords(const QSslError &error);
