#include "Pop3ConnectionTest.h"

#include "HeaderFields.h"
#include "Pop3Parsers.h"
#include "Pop3Session.h"

namespace {

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
            said << waitingText(LeadingNumber(GetReplyWord(m_session.serverReply(), 2)));
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

} // namespace

std::unique_ptr<TestedMailbox> pop3ConnectionTest(RunStatus &status, const ProfileSettingsRecord &settings,
                                                  CancelFlag &cancel, SessionOptions options)
{
    return std::make_unique<TestedPop3>(status, settings, cancel, std::move(options));
}
