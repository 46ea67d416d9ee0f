#include "ConnectionTester.h"

#include "CancelFlag.h"
#include "ImapCommands.h"
#include "ImapSession.h"
#include "ProfileRecord.h"
#include "OAuthTokens.h"
#include "Pop3Parsers.h"
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

// The steps a test takes, for either protocol.
class TestedMailbox {
public:
    virtual ~TestedMailbox() = default;
    virtual MailResult connect() = 0;
    virtual MailResult login() = 0;
    // What the server holds, said after the login ("3 messages waiting");
    // a failure only when the step was refused.
    virtual MailResult look(QStringList &said, const std::function<void(const QString &)> &announce) = 0;
    virtual void quit() = 0;
    virtual void close() = 0;
    virtual bool isEncrypted() const = 0;
    virtual QString protocolName() const = 0;
    virtual CertificateTrust certificateTrust() const = 0;
};

QString waiting(qint64 count)
{
    return count == 1 ? QStringLiteral("1 message waiting") : QStringLiteral("%1 messages waiting").arg(count);
}

class TestedPop3 : public TestedMailbox {
public:
    TestedPop3(RunStatus &status, const ProfileSettingsRecord &settings, CancelFlag &cancel, SessionOptions options)
        : m_session(status, settings, cancel, std::move(options))
    {
    }
    MailResult connect() override { return m_session.ConnectServer(); }
    MailResult login() override { return m_session.LoginServer(); }
    MailResult look(QStringList &said, const std::function<void(const QString &)> &announce) override
    {
        announce(QStringLiteral("Counting the waiting messages ..."));
        if (m_session.command(QStringLiteral("STAT"), Pop3Session::kSingleReply) == Pop3Session::Outcome::Reply
            && m_session.serverReply().startsWith(QLatin1String("+OK")))
            said << waiting(LeadingNumber(GetReplyWord(m_session.serverReply(), 2)));
        return MailResult::done();
    }
    void quit() override { m_session.QuitServer(); }
    void close() override { m_session.CloseServer(); }
    bool isEncrypted() const override { return m_session.isEncrypted(); }
    QString protocolName() const override { return m_session.protocolName(); }
    CertificateTrust certificateTrust() const override { return m_session.certificateTrust(); }

private:
    Pop3Session m_session;
};

class TestedImap : public TestedMailbox {
public:
    TestedImap(RunStatus &status, const ProfileSettingsRecord &settings, CancelFlag &cancel, SessionOptions options)
        : m_session(status, settings, cancel, std::move(options))
        , m_folder(settings.ImapFolder.trimmed().isEmpty() ? QStringLiteral("INBOX") : settings.ImapFolder.trimmed())
    {
    }
    MailResult connect() override { return m_session.connectServer(); }
    MailResult login() override { return m_session.login(); }
    // Read-only, as a fetch opens it: the test changes no flag.
    MailResult look(QStringList &said, const std::function<void(const QString &)> &announce) override
    {
        announce(QStringLiteral("Opening the folder %1 ...").arg(m_folder));
        qint64 exists = -1;
        const ImapSession::Outcome outcome = m_session.run("EXAMINE " + ImapCommands::mailbox(m_folder),
                                                           [&exists](const ImapResponse &r) {
                                                               if (r.keyword == "EXISTS")
                                                                   exists = r.number;
                                                           });
        if (outcome == ImapSession::Outcome::Failed)
            return m_session.failure();
        if (outcome == ImapSession::Outcome::Cancelled)
            return MailResult::cancelled();
        if (!m_session.completedOk())
            return m_session.refused(QStringLiteral("open the folder %1").arg(m_folder));
        said << (exists >= 0 ? waiting(exists) + QStringLiteral(" in ") + m_folder
                             : QStringLiteral("folder %1 opened").arg(m_folder));
        // Without these the Recycle Bin is still emptied, but less neatly.
        if (!m_session.hasCapability("MOVE"))
            said << QStringLiteral("the server cannot move messages (no MOVE): they are copied, then removed");
        if (!m_session.hasCapability("UIDPLUS"))
            said << QStringLiteral("the server lacks UIDPLUS: removed messages stay marked as deleted until the "
                                   "folder is compacted");
        return MailResult::done();
    }
    void quit() override { (void)m_session.logout(); }
    void close() override { m_session.closeServer(); }
    bool isEncrypted() const override { return m_session.isEncrypted(); }
    QString protocolName() const override { return m_session.protocolName(); }
    CertificateTrust certificateTrust() const override { return m_session.certificateTrust(); }

private:
    ImapSession m_session;
    QString m_folder;
};

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
        std::unique_ptr<TestedMailbox> mailbox;
        if (settings.usesImap())
            mailbox = std::make_unique<TestedImap>(status, settings, cancel, options);
        else
            mailbox = std::make_unique<TestedPop3>(status, settings, cancel, options);
        TestedMailbox &session = *mailbox;
        auto failedWith = [&](const QString &step, const MailResult &why) {
            failure = why.kind == MailOutcome::Failed ? why.text : step + QStringLiteral(": ") + oneLine(why.text);
        };
        try {
            if (settings.EmailHost.trimmed().isEmpty()) {
                failure = settings.usesImap() ? QStringLiteral("No IMAP server is set.")
                                              : QStringLiteral("No POP3 server is set.");
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
