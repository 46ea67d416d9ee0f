#include "ConnectionTester.h"

#include "CancelFlag.h"
#include "ProfileRecord.h"
#include "OAuthTokens.h"
#include "Pop3Parsers.h"
#include "RunStatus.h"
#include "SecureChannel.h"

#include <QStringList>
#include <exception>

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
                            Pop3Session &session)
{
    const QString where = settings.EmailHost + QLatin1Char(':') + settings.EmailPort.trimmed();
    step(connectionSecurity(settings) == ConnectionSecurity::None
             ? QStringLiteral("Connecting to %1 ...").arg(where)
             : QStringLiteral("Connecting to %1 and securing the connection ...").arg(where));
    return session.ConnectServer();
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
        Pop3Session session(status, settings, cancel, options);
        auto failedWith = [&](const QString &step, const MailResult &why) {
            failure = why.kind == MailOutcome::Failed ? why.text : step + QStringLiteral(": ") + oneLine(why.text);
        };
        try {
            if (settings.EmailHost.trimmed().isEmpty()) {
                failure = QStringLiteral("No POP3 server is set.");
            } else if (!settings.usesOAuth2() && settings.EmailPassword.isEmpty()) {
                // An empty PASS would only cost a failed login at the server.
                failure = settings.SecretProblem.isEmpty()
                    ? QStringLiteral("No password is entered, so the login was not tried.")
                    : oneLine(settings.SecretProblem) + QStringLiteral(" The login was not tried: enter the password.");
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
                if (const MailResult login = session.LoginServer(); !login.ok()) {
                    failedWith(QStringLiteral("login failed"), login);
                } else {
                    done << QStringLiteral("logged in");
                    announce(QStringLiteral("Counting the waiting messages ..."));
                    if (session.command(QStringLiteral("STAT"), Pop3Session::kSingleReply)
                            == Pop3Session::Outcome::Reply
                        && session.serverReply().startsWith(QLatin1String("+OK"))) {
                        const qint64 count = LeadingNumber(GetReplyWord(session.serverReply(), 2));
                        done << (count == 1 ? QStringLiteral("1 message waiting")
                                            : QStringLiteral("%1 messages waiting").arg(count));
                    }
                    session.QuitServer();
                    result.ok = true;
                }
            }
        } catch (const std::exception &e) {
            failure = QString::fromLocal8Bit(e.what());
        }
        session.CloseServer();
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
