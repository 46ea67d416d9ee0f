#pragma once

#include "CommandLine.h"
#include "RunPerson.h"

class ConsoleStatus;

// The command line as the person behind a run: it never asks. A question
// is answered no (a certificate not trusted already is refused, naming its
// fingerprint, unless it is the one --trust-certificate names), and what a
// run reports becomes a line on standard error.
class ConsolePerson : public RunPerson {
public:
    ConsolePerson(const CommandLine::Options &options, QString profile, ConsoleStatus &status);

    RunStatus &status() override;
    void whileInProgress(ProgressKind kind, const std::function<void(ProgressControl &)> &work) override;
    std::optional<QString> askPassword(const QString &) override { return std::nullopt; }
    CertificateDecision askCertificate(const QString &host, const QList<QSslCertificate> &chain,
                                       const QList<QSslError> &errors) override;
    void keepCertificate(const QString &profile, const QString &fingerprint) override;
    void keepRefreshToken(const QString &profile, const QString &refreshToken) override;
    bool readyToSignIn(AccessTokenSource &tokens) override;
    void notReady(const ProfileReadiness &why) override;
    void report(const MailResult &result) override;
    void historyTrouble(const QString &error) override;

    // The deletion history could not be written: the run failed.
    bool historyFailed() const { return m_historyFailed; }

private:
    void error(const QString &text);

    const CommandLine::Options &m_options;
    QString m_profile;
    ConsoleStatus &m_status;
    bool m_historyFailed = false;
};
