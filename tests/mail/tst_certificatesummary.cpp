#include "CertificateSummary.h"
#include "frmCertificate.h"

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSslSocket>
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
} // namespace

class TestCertificateSummary : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void selfSignedSummary();
    void hostileNames();
    void dialogChoice_data();
    void dialogChoice();

private:
    // Self-signed for old.trelvik.test, expired in 2002; checked here for mail.other.test.
    CertificateSummary m_summary;
};

void TestCertificateSummary::initTestCase()
{
    QVERIFY2(QSslSocket::supportsSsl(), "Qt has no TLS backend");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    qputenv("TZ", "UTC");
    ::tzset();
    const QSslCertificate expired = readPem(QFINDTESTDATA("data/expired.pem"));
    QVERIFY(!expired.isNull());
    // Stored as lower-case hex without colons.
    QCOMPARE(certificateFingerprint(expired),
             QStringLiteral("9fac0343d02d942201b5ce2f47e01ca71a95ce725e8847d98dc07667bee10896"));
    m_summary = SummarizeCertificate({expired}, QSslCertificate::verify({expired}, QStringLiteral("mail.other.test")));
}

void TestCertificateSummary::selfSignedSummary()
{
    QCOMPARE(m_summary.subject, QStringLiteral("old.trelvik.test, Trelvik Test"));
    QCOMPARE(m_summary.issuer, m_summary.subject);
    // Shown as openssl prints it.
    QCOMPARE(m_summary.fingerprint,
             QStringLiteral("9F:AC:03:43:D0:2D:94:22:01:B5:CE:2F:47:E0:1C:A7:"
                            "1A:95:CE:72:5E:88:47:D9:8D:C0:76:67:BE:E1:08:96"));
    const QString problems = m_summary.problems.join(QLatin1Char('\n'));
    QVERIFY2(m_summary.problems.contains(kSelfSignedWords), qPrintable(problems));
    QVERIFY2(problems.contains(QStringLiteral("The certificate expired on Sunday, February 3, 2002")),
             qPrintable(problems));
    QVERIFY2(problems.contains(QStringLiteral("The certificate was issued for another server name (it names "
                                              "old.trelvik.test).")),
             qPrintable(problems));
}

void TestCertificateSummary::hostileNames()
{
    // Names with line breaks, direction overrides and markup.
    const QSslCertificate hostile = readPem(QFINDTESTDATA("data/hostile.pem"));
    QVERIFY(!hostile.isNull());
    const CertificateSummary summary = SummarizeCertificate({hostile},
                                                            {QSslError(QSslError::SelfSignedCertificate, hostile)});
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
    QTest::addColumn<bool>("trusted");
    QTest::newRow("Trust This Certificate") << true;
    QTest::newRow("Refuse") << false;
}

void TestCertificateSummary::dialogChoice()
{
    QFETCH(bool, trusted);
    frmCertificate dialog(QStringLiteral("mail.other.test"), m_summary);
    auto *trust = dialog.findChild<QPushButton *>(QStringLiteral("cmdTrust"));
    auto *refuse = dialog.findChild<QPushButton *>(QStringLiteral("cmdRefuse"));
    QCOMPARE(trust->text(), QStringLiteral("Trust This Certificate"));
    QCOMPARE(refuse->text(), QStringLiteral("Refuse"));
    QVERIFY(refuse->isDefault());
    (trusted ? trust : refuse)->click();
    QCOMPARE(dialog.choice() == frmCertificate::Choice::Trust, trusted);
    QCOMPARE(dialog.result(), trusted ? int(QDialog::Accepted) : int(QDialog::Rejected));
}

QTEST_MAIN(TestCertificateSummary)
#include "tst_certificatesummary.moc"
