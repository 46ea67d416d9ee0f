#pragma once

#include "RunPerson.h"
#include "RunStatus.h"
#include "Runs.h"

// The user behind a conversation with the ManageSieve server, as the "Rules
// on the Server" dialog stands for them: the window's certificate and
// password questions, boxes for what went wrong. Nothing of it shows in the
// main window's lists or status.
class ServerRulesPerson : public RunPerson, private RunStatus {
public:
    explicit ServerRulesPerson(Runs::CertificateHooks hooks);

    RunStatus &status() override { return *this; }
    void whileInProgress(ProgressKind kind, const std::function<void(ProgressControl &)> &work) override;
    std::optional<QString> askPassword(const QString &why) override;
    CertificateDecision askCertificate(const QString &host, const QList<QSslCertificate> &chain,
                                       const QList<QSslError> &errors) override;
    void keepCertificate(const QString &profile, const QString &fingerprint) override;
    void keepRefreshToken(const QString &profile, const QString &refreshToken) override;
    void notReady(const ProfileReadiness &why) override;
    void report(const MailResult &result) override;
    void historyTrouble(const QString &error) override;

private:
    void setStatusText(const QString &) override { }
    void setProgressMaximum(int) override { }
    void setProgressValue(int) override { }
    void setNodeText(const QString &, const QString &) override { }

    Runs::CertificateHooks m_hooks;
};
