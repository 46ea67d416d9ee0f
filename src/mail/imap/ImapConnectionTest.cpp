#include "ImapConnectionTest.h"

#include "ImapCommands.h"
#include "ImapSession.h"
#include "ProfileRecord.h"

namespace {

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
        said << (exists >= 0 ? waitingText(exists) + QStringLiteral(" in ") + m_folder
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

} // namespace

std::unique_ptr<TestedMailbox> imapConnectionTest(RunStatus &status, const ProfileSettingsRecord &settings,
                                                  CancelFlag &cancel, SessionOptions options)
{
    return std::make_unique<TestedImap>(status, settings, cancel, std::move(options));
}
