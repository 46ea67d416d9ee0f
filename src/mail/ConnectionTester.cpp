#include "ConnectionTester.h"

#include "CancelFlag.h"
#include "MailProtocols.h"
#include "TestedMailbox.h"
#include "ProfileRecord.h"
#include "OAuthTokens.h"
#include "RunStatus.h"
#include "SecureChannel.h"

#include <QStringList>
#include <exception>
#include <memory>

namespace {

class SilentStatus : public RunStatus {
public:
    void setStatusText(const QString &) override { }
    void setProgressMaximum(int) override { }
    void setProgressValue(int) override { }
    void setNodeText(const QString &, const QString &) override { }
};

QString certificateText(CertificateTrust trust)
{
    switch (trust) {
    case CertificateTrust::Verified:
        return QStringLiteral("certificate verified");
    case CertificateTrust::Pinned:
        return QStringLiteral("certificate trusted for this profile");
    case CertificateTrust::TrustedNow:
        return QStringLiteral("certificate trusted now");
    case CertificateTrust::NotEncrypted:
        break;
    }
    return QStringLiteral("not encrypted: the password is sent in clear");
}


// Says what the connection step does, then takes it.
MailResult connectAnnounced(const std::function<void(const QString &)> &step, const ProfileSettingsRecord &settings,
                            TestedMailbox &session)
{
    const QString where = settings.EmailHost + QLatin1Char(':') + settings.EmailPort.trimmed();
    step(connectionSecurity(settings) == ConnectionSecurity::None
             ? QStringLiteral("Connecting to %1 ...").arg(where)
             : QStringLiteral("Connecting to %1 and securing the connection ...").arg(where));
    return session.connect();
}

QString oneLine(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    return text.simplified();
}

} // namespace

TestConnectionResult testConnection(const ProfileSettingsRecord &settings, SessionOptions options,
                                    const TestConnectionHooks &hooks)
{
    TestConnectionResult result;
    // A renewal during the test replaces the refresh token like any other.
    ProfileSettingsRecord tested = settings;
    if (settings.usesOAuth2() && !options.accessToken)
        options.accessToken =
            profileAccessTokens(tested, [&result](const QString &token) { result.renewedRefreshToken = token; });
    QStringList done;
    QString failure;
    const auto announce = [&hooks](const QString &text) {
        if (hooks.step)
            hooks.step(text);
    };
    CancelFlag ownCancel;
    CancelFlag &cancel = hooks.cancel ? *hooks.cancel : ownCancel;
    {
        SilentStatus status;
        const MailProtocolEntry &protocol = protocolsOf(options).of(settings);
        const std::unique_ptr<TestedMailbox> mailbox = protocol.connectionTest(status, settings, cancel, options);
        TestedMailbox &session = *mailbox;
        const auto told = [&hooks](const MailResult &why) { return hooks.words ? hooks.words(why) : why.text; };
        auto failedWith = [&](const QString &step, const MailResult &why) {
            failure = why.kind == MailOutcome::Failed ? told(why) : step + QStringLiteral(": ") + oneLine(told(why));
        };
        try {
            if (settings.EmailHost.trimmed().isEmpty()) {
                failure = QStringLiteral("No %1 server is set.").arg(protocol.name);
            } else if (!settings.usesOAuth2() && settings.EmailPassword.isEmpty()) {
                // An empty PASS would only cost a failed login at the server.
                failure = settings.SecretProblem.isEmpty()
                    ? QStringLiteral("No password is entered, so the login was not tried.")
                    : oneLine(told(MailResult::failure(MailOutcome::NotConfigured, {}, settings.SecretProblem)
                                       .advising(settings.SecretAdvice)))
                        + QStringLiteral(" The login was not tried: enter the password.");
            } else if (const MailResult opened = connectAnnounced(announce, settings, session); !opened.ok()) {
                failedWith(QStringLiteral("Could not connect to %1:%2")
                               .arg(settings.EmailHost, settings.EmailPort.trimmed()),
                           opened);
            } else {
                QString connected =
                    QStringLiteral("Connected to %1:%2").arg(settings.EmailHost, settings.EmailPort.trimmed());
                if (session.isEncrypted())
                    connected += QStringLiteral(" with ") + session.protocolName();
                done << connected << certificateText(session.certificateTrust());
                announce(QStringLiteral("Logging in as %1 ...").arg(settings.EmailUserid));
                if (const MailResult login = session.login(); !login.ok()) {
                    failedWith(QStringLiteral("login failed"), login);
                } else {
                    done << QStringLiteral("logged in");
                    if (const MailResult looked = session.look(done, announce); !looked.ok()) {
                        failedWith(QStringLiteral("after the login"), looked);
                    } else {
                        session.quit();
                        result.ok = true;
                    }
                }
            }
        } catch (const std::exception &e) {
            failure = QString::fromLocal8Bit(e.what());
        }
        session.close();
    }
    if (cancel.isSet())
        return {false, QStringLiteral("Test cancelled."), result.renewedRefreshToken};
    QString text = done.join(QStringLiteral("; "));
    if (!failure.isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral("; ")) + failure;
    if (!text.endsWith(QLatin1Char('.')))
        text += QLatin1Char('.');
    for (const QString &secret : {settings.EmailPassword, settings.OAuthAccessToken, settings.OAuthRefreshToken,
                                  tested.OAuthAccessToken, tested.OAuthRefreshToken}) {
        if (!secret.isEmpty())
            text.replace(secret, QStringLiteral("***"));
    }
    result.text = text;
    return result;
}
