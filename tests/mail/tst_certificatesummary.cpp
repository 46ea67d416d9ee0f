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
#include <QTimer>

#include <ctime>
#include <memory>

namespace {

const QString kSelfSignedName = QStringLiteral("pop.trelvik.test");

QSslCertificate readPem(const QString &path)
{
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(path, QSsl::Pem);
    return certificates.isEmpty() ? QSslCertificate() : certificates.first();
}

// Runs openssl with the arguments and returns its output; empty on failure.
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

void setTimeZone(const char *zone)
{
    qputenv("TZ", zone);
    ::tzset();
}

} // namespace

class TestCertificateSummary : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void selfSignedMadeForTheRun();
    void fingerprintForm();
    void validityInTheUserLocale_data();
    void validityInTheUserLocale();
    void expiredCertificate();
    void errorWords_data();
    void errorWords();
    void problemsOfTheChain();
    void hostileNames();
    void noCertificate();
    void dialogShowsTheSummary();
    void dialogChoice_data();
    void dialogChoice();
    void askReturnsTheChoice();

private:
    QTemporaryDir m_dir;
    QSslCertificate m_selfSigned;
    QString m_opensslFingerprint;  // as openssl prints it: AB:CD:...
    QSslCertificate m_expired;
    QSslCertificate m_hostile;
    QString m_longName;
};

void TestCertificateSummary::initTestCase()
{
    QVERIFY2(QSslSocket::supportsSsl(), "Qt has no TLS backend");
    QVERIFY(m_dir.isValid());
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty(), "openssl is not installed");

    // A name longer than any display should take, as a server may send.
    m_longName = QString(60, QLatin1Char('a')) + QStringLiteral(".trelvik.test");
    QStringList names{kSelfSignedName};
    for (int i = 0; i < 5; ++i)
        names << QString::number(i) + m_longName;
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
    const QString printed = runOpenssl(
        {QStringLiteral("x509"), QStringLiteral("-in"), cert, QStringLiteral("-noout"), QStringLiteral("-fingerprint"),
         QStringLiteral("-sha256")},
        &error);
    QVERIFY2(printed.contains(QLatin1Char('=')), qPrintable(error));
    m_opensslFingerprint = printed.section(QLatin1Char('='), 1);

    m_expired = readPem(QFINDTESTDATA("data/expired.pem"));
    QVERIFY(!m_expired.isNull());
    m_hostile = readPem(QFINDTESTDATA("data/hostile.pem"));
    QVERIFY(!m_hostile.isNull());
    setTimeZone("UTC");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestCertificateSummary::cleanup()
{
    setTimeZone("UTC");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestCertificateSummary::selfSignedMadeForTheRun()
{
    const QList<QSslError> errors = QSslCertificate::verify({m_selfSigned}, QStringLiteral("mail.other.test"));
    QVERIFY(!errors.isEmpty());
    const CertificateSummary summary = SummarizeCertificate({m_selfSigned}, errors);
    QCOMPARE(summary.subject, QStringLiteral("pop.trelvik.test, Trelvik Test"));
    QCOMPARE(summary.issuer, QStringLiteral("pop.trelvik.test, Trelvik Test"));
    QCOMPARE(summary.fingerprint, m_opensslFingerprint);
    QVERIFY(summary.problems.contains(
        QStringLiteral("The certificate is self-signed: no known certificate authority vouches for it.")));
    const auto mismatch = std::find_if(summary.problems.cbegin(), summary.problems.cend(), [](const QString &p) {
        return p.startsWith(QStringLiteral("The certificate was issued for another server name (it names "
                                           "pop.trelvik.test, 0aaaa"));
    });
    QVERIFY2(mismatch != summary.problems.cend(), qPrintable(summary.problems.join(QLatin1Char('\n'))));
    // Five long names are cut, not shown whole.
    QVERIFY(mismatch->endsWith(QStringLiteral("\u2026).")));
    QVERIFY(mismatch->size() < 300);

    // The right server name: only the self-signature is a problem.
    const CertificateSummary named =
        SummarizeCertificate({m_selfSigned}, QSslCertificate::verify({m_selfSigned}, kSelfSignedName));
    QCOMPARE(named.problems,
             QStringList{QStringLiteral("The certificate is self-signed: no known certificate authority vouches for it.")});
}

void TestCertificateSummary::fingerprintForm()
{
    const QString stored = certificateFingerprint(m_selfSigned);
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{64}$")).match(stored).hasMatch());
    QCOMPARE(stored, m_opensslFingerprint.toLower().remove(QLatin1Char(':')));
    const QString shown = SummarizeCertificate({m_selfSigned}, {}).fingerprint;
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]{2}(:[0-9A-F]{2}){31}$")).match(shown).hasMatch());
    // Different certificates, different fingerprints; the same, the same.
    QVERIFY(certificateFingerprint(m_expired) != stored);
    QCOMPARE(certificateFingerprint(QSslCertificate(m_selfSigned.toDer(), QSsl::Der)), stored);
    QCOMPARE(certificateFingerprint(m_expired),
             QStringLiteral("9fac0343d02d942201b5ce2f47e01ca71a95ce725e8847d98dc07667bee10896"));
}

void TestCertificateSummary::validityInTheUserLocale_data()
{
    // The shipped certificate is valid from 2001-02-03 04:05:06 UTC to
    // 2002-02-03 04:05:06 UTC.
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QStringList>("from");
    QTest::addColumn<QStringList>("until");
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QLocale german(QLocale::German, QLocale::Germany);
    QTest::newRow("English, UTC") << english << QByteArray("UTC")
                                  << QStringList{QStringLiteral("February"), QStringLiteral("2001"),
                                                 QStringLiteral("4:05:06")}
                                  << QStringList{QStringLiteral("February"), QStringLiteral("2002")};
    QTest::newRow("German, UTC") << german << QByteArray("UTC")
                                 << QStringList{QStringLiteral("Februar 2001"), QStringLiteral("04:05:06")}
                                 << QStringList{QStringLiteral("Februar 2002")};
    QTest::newRow("German, Berlin time") << german << QByteArray("Europe/Berlin")
                                         << QStringList{QStringLiteral("Februar 2001"), QStringLiteral("05:05:06")}
                                         << QStringList{QStringLiteral("05:05:06")};
}

void TestCertificateSummary::validityInTheUserLocale()
{
    QFETCH(QLocale, locale);
    QFETCH(QByteArray, zone);
    QFETCH(QStringList, from);
    QFETCH(QStringList, until);
    QLocale::setDefault(locale);
    setTimeZone(zone.constData());
    const CertificateSummary summary = SummarizeCertificate({m_expired}, {});
    for (const QString &part : from)
        QVERIFY2(summary.validFrom.contains(part), qPrintable(summary.validFrom + QStringLiteral(" lacks ") + part));
    for (const QString &part : until)
        QVERIFY2(summary.validUntil.contains(part), qPrintable(summary.validUntil + QStringLiteral(" lacks ") + part));
}

void TestCertificateSummary::expiredCertificate()
{
    const QList<QSslError> errors = QSslCertificate::verify({m_expired}, QStringLiteral("old.trelvik.test"));
    const CertificateSummary summary = SummarizeCertificate({m_expired}, errors);
    QCOMPARE(summary.subject, QStringLiteral("old.trelvik.test, Trelvik Test"));
    QVERIFY2(summary.problems.contains(QStringLiteral("The certificate expired on ") + summary.validUntil
                                       + QLatin1Char('.')),
             qPrintable(summary.problems.join(QLatin1Char('\n'))));
    for (const QString &problem : summary.problems)
        QVERIFY2(!problem.contains(QStringLiteral("server name")), qPrintable(problem));
}

void TestCertificateSummary::errorWords_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("withCertificate");
    QTest::addColumn<QString>("words");
    const auto row = [](const char *name, QSslError::SslError error, bool withCertificate, const QString &words) {
        QTest::newRow(name) << int(error) << withCertificate << words;
    };
    row("unknown issuer", QSslError::UnableToGetLocalIssuerCertificate, true,
        QStringLiteral("The certificate was issued by an unknown certificate authority."));
    row("expired, with its date", QSslError::CertificateExpired, true,
        QStringLiteral("The certificate expired on Sunday, February 3, 2002"));
    row("expired, no certificate at hand", QSslError::CertificateExpired, false,
        QStringLiteral("The certificate has expired."));
    row("not yet valid, with its date", QSslError::CertificateNotYetValid, true,
        QStringLiteral("The certificate is not valid before Saturday, February 3, 2001"));
    row("host name mismatch", QSslError::HostNameMismatch, true,
        QStringLiteral("The certificate was issued for another server name (it names old.trelvik.test)."));
    row("host name mismatch, no certificate", QSslError::HostNameMismatch, false,
        QStringLiteral("The certificate was issued for another server name."));
    row("revoked", QSslError::CertificateRevoked, true, QStringLiteral("The certificate has been revoked by its issuer."));
    row("no certificate", QSslError::NoPeerCertificate, false, QStringLiteral("The server presented no certificate."));
    // Qt's own words where they read well, ended as a sentence.
    row("OCSP answer late", QSslError::OcspTryLater, false,
        QSslError(QSslError::OcspTryLater).errorString() + QLatin1Char('.'));
}

void TestCertificateSummary::errorWords()
{
    QFETCH(int, error);
    QFETCH(bool, withCertificate);
    QFETCH(QString, words);
    const QSslError sslError = withCertificate ? QSslError(QSslError::SslError(error), m_expired)
                                               : QSslError(QSslError::SslError(error));
    const QString said = SslErrorWords(sslError);
    QVERIFY2(said.startsWith(words), qPrintable(said));
    QVERIFY(said.endsWith(QLatin1Char('.')));
    QVERIFY(!said.contains(QStringLiteral("..")));
}

void TestCertificateSummary::problemsOfTheChain()
{
    // A problem of a certificate further up names that certificate; the
    // same problem twice is one line; no error is no line.
    const QList<QSslError> errors{QSslError(QSslError::SelfSignedCertificate, m_selfSigned),
                                  QSslError(QSslError::SelfSignedCertificate, m_selfSigned), QSslError(),
                                  QSslError(QSslError::CertificateExpired, m_expired)};
    const CertificateSummary summary = SummarizeCertificate({m_selfSigned, m_expired}, errors);
    QCOMPARE(summary.problems.size(), 2);
    QCOMPARE(summary.problems.at(0),
             QStringLiteral("The certificate is self-signed: no known certificate authority vouches for it."));
    QVERIFY2(summary.problems.at(1).endsWith(QStringLiteral(". (certificate of old.trelvik.test, Trelvik Test)")),
             qPrintable(summary.problems.at(1)));
    // The summary is of the server's own certificate, the first.
    QCOMPARE(summary.subject, QStringLiteral("pop.trelvik.test, Trelvik Test"));

    // Asked with no error at all, the dialog still says why it is there.
    QCOMPARE(SummarizeCertificate({m_selfSigned}, {}).problems,
             QStringList{QStringLiteral("The certificate could not be verified.")});
}

void TestCertificateSummary::hostileNames()
{
    const CertificateSummary summary = SummarizeCertificate(
        {m_hostile}, {QSslError(QSslError::SelfSignedCertificate, m_hostile)});
    for (const QString &text : {summary.subject, summary.issuer}) {
        QVERIFY2(!text.contains(QLatin1Char('\n')), qPrintable(text));
        QVERIFY2(!text.contains(QChar(0x202E)), qPrintable(text));
        QVERIFY(text.contains(QChar::ReplacementCharacter));
        QVERIFY(text.startsWith(QStringLiteral("pop.trelvik.test\uFFFDIssuer: Trusted CA, ")));
    }

    // Markup is shown as the characters it is.
    frmCertificate dialog(QStringLiteral("pop.trelvik.test"), summary);
    auto *subject = dialog.findChild<QLabel *>(QStringLiteral("lblSubject"));
    QVERIFY(subject);
    QCOMPARE(subject->textFormat(), Qt::PlainText);
    QVERIFY(subject->text().contains(QStringLiteral("<b>Bank</b>")));
    for (QLabel *label : dialog.findChildren<QLabel *>(QRegularExpression(QStringLiteral("^lbl"))))
        QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->objectName()));
}

void TestCertificateSummary::noCertificate()
{
    QCOMPARE(certificateFingerprint(QSslCertificate()), QString());
    const CertificateSummary summary = SummarizeCertificate({}, {QSslError(QSslError::NoPeerCertificate)});
    QCOMPARE(summary.fingerprint, QString());
    QCOMPARE(summary.subject, QStringLiteral("(not given)"));
    QCOMPARE(summary.validUntil, QStringLiteral("(unknown)"));
    QCOMPARE(summary.problems, QStringList{QStringLiteral("The server presented no certificate.")});
}

void TestCertificateSummary::dialogShowsTheSummary()
{
    const CertificateSummary summary =
        SummarizeCertificate({m_selfSigned}, QSslCertificate::verify({m_selfSigned}, QStringLiteral("mail.other.test")));
    frmCertificate dialog(QStringLiteral("mail.other.test"), summary);
    const auto text = [&dialog](const char *name) {
        auto *label = dialog.findChild<QLabel *>(QLatin1String(name));
        return label ? label->text() : QStringLiteral("<no label>");
    };
    QVERIFY(text("lblServer").contains(QStringLiteral("mail.other.test")));
    QCOMPARE(text("lblSubject"), summary.subject);
    QCOMPARE(text("lblIssuer"), summary.issuer);
    QCOMPARE(text("lblValidFrom"), summary.validFrom);
    QCOMPARE(text("lblValidUntil"), summary.validUntil);
    QCOMPARE(text("lblFingerprint").remove(QLatin1Char('\n')), summary.fingerprint);
    for (const QString &problem : summary.problems)
        QVERIFY2(text("lblProblems").contains(problem), qPrintable(problem));
    QCOMPARE(dialog.findChild<QPushButton *>(QStringLiteral("cmdTrust"))->text(),
             QStringLiteral("Trust This Certificate"));
    QCOMPARE(dialog.findChild<QPushButton *>(QStringLiteral("cmdRefuse"))->text(), QStringLiteral("Refuse"));
}

void TestCertificateSummary::dialogChoice_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("trusted");
    QTest::newRow("Trust This Certificate") << "trust" << true;
    QTest::newRow("Refuse") << "refuse" << false;
    QTest::newRow("Escape refuses") << "escape" << false;
    QTest::newRow("Enter presses the default, Refuse") << "enter" << false;
    QTest::newRow("close box refuses") << "close" << false;
}

void TestCertificateSummary::dialogChoice()
{
    QFETCH(QString, action);
    QFETCH(bool, trusted);
    frmCertificate dialog(kSelfSignedName, SummarizeCertificate({m_selfSigned}, {}));
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    auto *refuse = dialog.findChild<QPushButton *>(QStringLiteral("cmdRefuse"));
    QVERIFY(refuse->isDefault());
    QTRY_VERIFY(refuse->hasFocus());
    QCOMPARE(dialog.choice(), frmCertificate::Choice::Refuse);

    if (action == QLatin1String("trust"))
        dialog.findChild<QPushButton *>(QStringLiteral("cmdTrust"))->click();
    else if (action == QLatin1String("refuse"))
        refuse->click();
    else if (action == QLatin1String("escape"))
        QTest::keyClick(&dialog, Qt::Key_Escape);
    else if (action == QLatin1String("enter"))
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    else
        dialog.close();

    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.choice() == frmCertificate::Choice::Trust, trusted);
    QCOMPARE(dialog.result(), trusted ? int(QDialog::Accepted) : int(QDialog::Rejected));
}

void TestCertificateSummary::askReturnsTheChoice()
{
    const auto press = [](const char *button) {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *dialog = qobject_cast<frmCertificate *>(widget); dialog && dialog->isVisible())
                dialog->findChild<QPushButton *>(QLatin1String(button))->click();
        }
    };
    // Should the press miss, the dialog is refused after a while rather than left open.
    QObject timers;
    QTimer::singleShot(0, &timers, [press] { press("cmdTrust"); });
    QTimer::singleShot(10000, &timers, [press] { press("cmdRefuse"); });
    QCOMPARE(frmCertificate::ask(kSelfSignedName, SummarizeCertificate({m_selfSigned}, {})),
             frmCertificate::Choice::Trust);
}

QTEST_MAIN(TestCertificateSummary)
#include "tst_certificatesummary.moc"
