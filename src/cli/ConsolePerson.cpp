#include "ConsolePerson.h"

#include "CertificateSummary.h"
#include "ConsoleOutput.h"
#include "ConsoleStatus.h"
#include "ConsoleWords.h"
#include "ProfileStore.h"

namespace {

class NoDialog : public ProgressControl {
public:
    void closeDialog() override { }
    void repaintNow() override { }
};

} // namespace

ConsolePerson::ConsolePerson(const CommandLine::Options &options, QString profile, ConsoleStatus &status)
    : m_options(options)
    , m_profile(std::move(profile))
    , m_status(status)
{
}

RunStatus &ConsolePerson::status()
{
    return m_status;
}

void ConsolePerson::whileInProgress(ProgressKind, const std::function<void(ProgressControl &)> &work)
{
    NoDialog progress;
    work(progress);
    m_status.clear();
}

void ConsolePerson::error(const QString &text)
{
    m_status.clear();
    ConsoleOutput::error(text);
}

CertificateDecision ConsolePerson::askCertificate(const QString &host, const QList<QSslCertificate> &chain,
                                                  const QList<QSslError> &)
{
    const QString presented = certificateFingerprint(chain.value(0));
    if (!presented.isEmpty() && presented == m_options.trustCertificate)
        return CertificateDecision::TrustAlways;
    QString text = QStringLiteral("The certificate of %1 is not trusted. Its SHA-256 fingerprint is %2; if "
                                  "you know it is your server's, run again with --trust-certificate %2.")
                       .arg(ConsoleOutput::plain(host), presented);
    if (!m_options.trustCertificate.isEmpty())
        text += QStringLiteral(" The fingerprint given, %1, is another certificate's.").arg(m_options.trustCertificate);
    error(text);
    return CertificateDecision::Refuse;
}

// Told as a failed save of a renewed sign-in is; the check goes on.
void ConsolePerson::keepCertificate(const QString &profile, const QString &fingerprint)
{
    if (const StoreWriteResult saved = ProfileStore().saveTrustedCertificate(profile, fingerprint); !saved)
        error(ConsoleOutput::plain(QStringLiteral("The certificate is trusted for this run, but it could not be "
                                                  "remembered for the profile \"%1\". %2")
                                       .arg(profile, saved.error)));
}

void ConsolePerson::keepRefreshToken(const QString &profile, const QString &refreshToken)
{
    const ProfileSecrets::Report report = ProfileStore().saveRefreshToken(profile, refreshToken);
    if (report.trouble)
        error(ConsoleOutput::plain(report.text));
}

// An OAuth2 profile gets its access token before anything is sent: without
// a sign-in that still works only the browser can help, and the browser
// belongs to the window.
bool ConsolePerson::readyToSignIn(AccessTokenSource &tokens)
{
    m_status.setStatusText(QStringLiteral("Renewing Sign-In..."));
    const AccessToken token = tokens(false);
    if (token.state == AccessToken::State::Ready)
        return true;
    const QString why = ConsoleOutput::sentences(ConsoleWords::text(token.error, token.reason));
    const QString profile = ConsoleOutput::plain(m_profile);
    error(token.state == AccessToken::State::SignInNeeded
              ? QStringLiteral("The profile \"%1\" has no usable OAuth2 sign-in, and signing in needs the browser, "
                               "which only the window opens: %2")
                    .arg(profile, ConsoleOutput::plain(why))
              : QStringLiteral("The OAuth2 sign-in of the profile \"%1\" failed: %2")
                    .arg(profile, ConsoleOutput::plain(why)));
    return false;
}

void ConsolePerson::notReady(const ProfileReadiness &why)
{
    const QString profile = ConsoleOutput::plain(m_profile);
    if (why.missing.isEmpty()) {
        // Guessing a security the profile does not name could send the
        // password in clear: refused before anything is sent.
        error(QStringLiteral("The profile \"%1\" is not configured: its connection security \"%2\" is none of "
                             "None, STARTTLS and SSL/TLS, so nothing was sent; choose one in the window's Settings.")
                  .arg(profile, ConsoleOutput::plain(why.unknownSecurity)));
        return;
    }
    QString text = QStringLiteral("The profile \"%1\" has no %2; set it in the window's Settings.")
                       .arg(profile, why.missing.join(QStringLiteral(", ")));
    // A password the keyring holds but would not give is not "missing".
    if (!why.secretProblem.isEmpty())
        text += QLatin1Char(' ')
            + ConsoleOutput::plain(ConsoleOutput::sentences(ConsoleWords::text(why.secretProblem, why.secretAdvice)));
    error(text);
}

void ConsolePerson::report(const MailResult &result)
{
    const QString text = ConsoleOutput::sentences(ConsoleWords::text(result));
    error(ConsoleOutput::plain(result.title + QStringLiteral(": ") + text));
}

void ConsolePerson::historyTrouble(const QString &problem)
{
    error(QStringLiteral("The deletion history could not be written: ") + problem);
    m_historyFailed = true;
}
