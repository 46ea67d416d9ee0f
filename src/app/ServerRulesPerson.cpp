#include "ServerRulesPerson.h"

#include "MessageBox.h"
#include "WindowWords.h"

namespace {

const QString kTitle = QStringLiteral("Rules on the Server");

// The dialog shows its own progress; the conversation needs no other.
class NoProgress : public ProgressControl {
public:
    void closeDialog() override { }
    void repaintNow() override { }
};

} // namespace

ServerRulesPerson::ServerRulesPerson(Runs::CertificateHooks hooks)
    : m_hooks(std::move(hooks))
{
}

void ServerRulesPerson::whileInProgress(ProgressKind, const std::function<void(ProgressControl &)> &work)
{
    NoProgress progress;
    work(progress);
}

std::optional<QString> ServerRulesPerson::askPassword(const QString &why)
{
    if (!m_hooks.askPassword)
        return std::nullopt;
    return m_hooks.askPassword(why);
}

CertificateDecision ServerRulesPerson::askCertificate(const QString &host, const QList<QSslCertificate> &chain,
                                                      const QList<QSslError> &errors)
{
    return m_hooks.prompt ? m_hooks.prompt(host, chain, errors) : CertificateDecision::Refuse;
}

void ServerRulesPerson::keepCertificate(const QString &profile, const QString &fingerprint)
{
    if (m_hooks.keep)
        m_hooks.keep(profile, fingerprint);
}

void ServerRulesPerson::keepRefreshToken(const QString &profile, const QString &refreshToken)
{
    if (m_hooks.keepRefreshToken)
        m_hooks.keepRefreshToken(profile, refreshToken);
}

void ServerRulesPerson::notReady(const ProfileReadiness &why)
{
    QString text;
    if (why.passwordUnreadable())
        text = WindowWords::text(why.secretProblem, why.secretAdvice)
            + QStringLiteral("\r\nEnter the password in the settings.");
    else if (why.missing.isEmpty())
        text = QStringLiteral("Email Setting not configured\r\n") + unknownSecurityText(why.unknownSecurity);
    else
        text = WindowWords::text(QStringLiteral("Email Setting not configured"), MailReason::NotConfigured, why.server);
    MessageBox::show(text, QStringLiteral("Error"), MessageBox::Icon::Critical);
}

void ServerRulesPerson::report(const MailResult &result)
{
    if (result.hasMessage())
        MessageBox::show(WindowWords::text(result.text, result.reason, result.protocolServer),
                         result.title.isEmpty() ? kTitle : result.title,
                         result.ok() ? MessageBox::Icon::Exclamation : MessageBox::Icon::Critical);
}

void ServerRulesPerson::historyTrouble(const QString &error)
{
    MessageBox::show(error, kTitle, MessageBox::Icon::Exclamation);
}
