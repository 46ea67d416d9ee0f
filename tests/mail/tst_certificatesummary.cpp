#include "CertificateSummary.h"
#include "frmCertificate.h"

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>

namespace {
const QString kSelfSignedWords =
    QStringLiteral("The certificate is self-signed: no known certificate authority vouches for it.");

QSslCertificate readPem(const QString &path)
{
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(path, QSsl::Pem);
    return certificates.isEmpty() ? QSslCertificate() : certificates.first();
}

// Runs openssl and returns its output; empty on failure, with its complaint in error.
QString runOpenssl(const QStringList &arguments, QString *error)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        *error = QString::fromLocal8Bit(openssl.readAllStandardError());
        return QString();
    }
    return QString::fromLocal8Bit(openssl.readAllStandardOutput()).trimmed();
}
} // namespace

class TestCertificateSummary : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void selfSignedSummary();
    void errorWords_data();
    void errorWords();
    void hostileNames();
    void dialogChoice_data();
    void dialogChoice();

private:
    QTemporaryDir m_dir;
    QSslCertificate m_selfSigned;
    QString m_opensslFingerprint; // as openssl prints it: AB:CD:...
    QSslCertificate m_expired;
};

void TestCertificateSummary::initTestCase()
{
    QVERIFY2(QSslSocket::supportsSsl(), "Qt has no TLS backend");
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty(), "openssl is not installed");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    qputenv("TZ", "UTC");
    ::tzset();
    // Five names longer than any display should take, as a server may send.
    QStringList names{QStringLiteral("pop.trelvik.test")};
    for (int i = 0; i < 5; ++i)
        names << QString::number(i) + QString(60, QLatin1Char('a')) + QStringLiteral(".trelvik.test");
    const QString cert = m_dir.filePath(QStringLiteral("self.pem"));
    QString error;
    runOpenssl({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                QStringLiteral("-keyout"), m_dir.filePath(QStringLiteral("self.key")), QStringLiteral("-out"), cert,
                QStringLiteral("-days"), QStringLiteral("30"), QStringLiteral("-subj"),
                QStringLiteral("/CN=pop.trelvik.test/O=Trelvik Test"), QStringLiteral("-addext"),
                QStringLiteral("subjectAltName=DNS:") + names.join(QStringLiteral(",DNS:"))},
               &error);
    m_selfSigned = readPem(cert);
    QVERIFY2(!m_selfSigned.isNull(), qPrintable(error));
    const QString printed = runOpenssl({QStringLiteral("x509"), QStringLiteral("-in"), cert, QStringLiteral("-noout"),
                                        QStringLiteral("-fingerprint"), QStringLiteral("-sha256")},
                                       &error);
    QVERIFY2(printed.contains(QLatin1Char('=')), qPrintable(error));
    m_opensslFingerprint = printed.section(QLatin1Char('='), 1);
    m_expired = readPem(QFINDTESTDATA("data/expired.pem"));
    QVERIFY(!m_expired.isNull());
}

void TestCertificateSummary::selfSignedSummary()
{
    const CertificateSummary summary =
        SummarizeCertificate({m_selfSigned}, QSslCertificate::verify({m_selfSigned}, QStringLiteral("mail.other.test")));
    QCOMPARE(summary.subject, QStringLiteral("pop.trelvik.test, Trelvik Test"));
    QCOMPARE(summary.issuer, summary.subject);
    // Shown as openssl prints it; stored as lower-case hex without colons.
    QCOMPARE(summary.fingerprint, m_opensslFingerprint);
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]{2}(:[0-9A-F]{2}){31}$")).match(summary.fingerprint).hasMatch());
    QCOMPARE(certificateFingerprint(m_selfSigned), m_opensslFingerprint.toLower().remove(QLatin1Char(':')));
    QCOMPARE(certificateFingerprint(m_expired),
             QStringLiteral("9fac0343d02d942201b5ce2f47e01ca71a95ce725e8847d98dc07667bee10896"));
    QVERIFY(summary.problems.contains(kSelfSignedWords));
    const auto mismatch = std::find_if(summary.problems.cbegin(), summary.problems.cend(), [](const QString &p) {
        return p.startsWith(
            QStringLiteral("The certificate was issued for another server name (it names pop.trelvik.test, 0aaaa"));
    });
    QVERIFY2(mismatch != summary.problems.cend(), qPrintable(summary.problems.join(QLatin1Char('\n'))));
    // The long names are cut, not shown whole.
    QVERIFY(mismatch->endsWith(QStringLiteral("\u2026).")) && mismatch->size() < 300);

    // The right name: only the self-signature is a problem.
    QCOMPARE(SummarizeCertificate({m_selfSigned}, QSslCertificate::verify({m_selfSigned}, QStringLiteral("pop.trelvik.test")))
                 .problems,
             QStringList{kSelfSignedWords});
}

void TestCertificateSummary::errorWords_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("withCertificate");
    QTest::addColumn<QString>("words");
    QTest::newRow("unknown issuer") << int(QSslError::UnableToGetLocalIssuerCertificate) << true
                                    << "The certificate was issued by an unknown certificate authority.";
    QTest::newRow("expired, with its date") << int(QSslError::CertificateExpired) << true
                                            << "The certificate expired on Sunday, February 3, 2002";
    QTest::newRow("host name mismatch") << int(QSslError::HostNameMismatch) << true
                                        << "The certificate was issued for another server name (it names old.trelvik.test).";
    QTest::newRow("no certificate") << int(QSslError::NoPeerCertificate) << false
                                    << "The server presented no certificate.";
}

void TestCertificateSummary::errorWords()
{
    QFETCH(int, error);
    QFETCH(bool, withCertificate);
    QFETCH(QString, words);
    const QSslError sslError = withCertificate ? QSslError(QSslError::SslError(error), m_expired)
                                               : QSslError(QSslError::SslError(error));
    const QString said = SslErrorWords(sslError);
    QVERIFY2(said.startsWith(words) && said.endsWith(QLatin1Char('.')) && !said.contains(QStringLiteral("..")),
             qPrintable(said));
}

void TestCertificateSummary::hostileNames()
{
    // Names with line breaks, direction overrides and markup.
    const QSslCertificate hostile = readPem(QFINDTESTDATA("data/hostile.pem"));
    QVERIFY(!hostile.isNull());
    const CertificateSummary summary =
        SummarizeCertificate({hostile}, {QSslError(QSslError::SelfSignedCertificate, hostile)});
    for (const QString &text : {summary.subject, summary.issuer}) {
        QVERIFY2(!text.contains(QLatin1Char('\n')) && !text.contains(QChar(0x202E)), qPrintable(text));
        QVERIFY(text.startsWith(QStringLiteral("pop.trelvik.test\uFFFDIssuer: Trusted CA, ")));
    }
    frmCertificate dialog(QStringLiteral("pop.trelvik.test"), summary);
    QVERIFY(dialog.findChild<QLabel *>(QStringLiteral("lblSubject"))->text().contains(QStringLiteral("<b>Bank</b>")));
    for (QLabel *label : dialog.findChildren<QLabel *>(QRegularExpression(QStringLiteral("^lbl"))))
        QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->objectName()));
}

void TestCertificateSummary::dialogChoice_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("trusted");
    QTest::newRow("Trust This Certificate") << "trust" << true;
    QTest::newRow("Refuse") << "refuse" << false;
    QTest::newRow("Escape refuses") << "escape" << false;
}

void TestCertificateSummary::dialogChoice()
{
    QFETCH(QString, action);
    QFETCH(bool, trusted);
    const CertificateSummary summary =
        SummarizeCertificate({m_selfSigned}, QSslCertificate::verify({m_selfSigned}, QStringLiteral("mail.other.test")));
    frmCertificate dialog(QStringLiteral("mail.other.test"), summary);
    const auto text = [&dialog](const char *name) { return dialog.findChild<QLabel *>(QLatin1String(name))->text(); };
    QVERIFY(text("lblServer").contains(QStringLiteral("mail.other.test")));
    QCOMPARE(text("lblSubject"), summary.subject);
    QCOMPARE(text("lblFingerprint").remove(QLatin1Char('\n')), summary.fingerprint);
    QVERIFY(text("lblProblems").contains(kSelfSignedWords));
    auto *trust = dialog.findChild<QPushButton *>(QStringLiteral("cmdTrust"));
    auto *refuse = dialog.findChild<QPushButton *>(QStringLiteral("cmdRefuse"));
    QCOMPARE(trust->text(), QStringLiteral("Trust This Certificate"));
    QCOMPARE(refuse->text(), QStringLiteral("Refuse"));
    QVERIFY(refuse->isDefault());

    dialog.show();
    QApplication::setActiveWindow(&dialog);
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    if (action == QLatin1String("trust"))
        trust->click();
    else if (action == QLatin1String("refuse"))
        refuse->click();
    else
        QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.choice() == frmCertificate::Choice::Trust, trusted);
    QCOMPARE(dialog.result(), trusted ? int(QDialog::Accepted) : int(QDialog::Rejected));
}

QTEST_MAIN(TestCertificateSummary)
#include "tst_certificatesummary.moc"
