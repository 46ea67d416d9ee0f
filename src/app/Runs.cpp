#include "Runs.h"

#include "MailRun.h"
#include "MessageBox.h"
#include "MessageFolderModel.h"
#include "ProfileRecord.h"
#include "ProgressDialog.h"
#include "LearningClassifier.h"
#include "Lessons.h"
#include "LessonTaker.h"
#include "RunHost.h"
#include "WindowWords.h"

#include <algorithm>

namespace Runs {

namespace {

// The window as the person behind a run: modal dialogs and boxes.
class WindowPerson : public RunPerson {
public:
    WindowPerson(RunHost &host, CancelFlag &cancel, const CertificateHooks &hooks)
        : m_host(host)
        , m_cancel(cancel)
        , m_hooks(hooks)
    {
    }

    RunStatus &status() override { return m_host; }
    void whileInProgress(ProgressKind kind, const std::function<void(ProgressControl &)> &work) override
    {
        setSorting(false);
        m_failure.clear();
        runProgressDialog(kind, m_host.dialogParent(), m_cancel, [&](ProgressControl &dialog) {
            prepare(kind, dialog);
            work(dialog);
        });
        setSorting(true);
        // The box has gone: the status bar keeps saying what happened, not
        // merely that the session ended.
        if (!m_failure.isEmpty())
            m_host.setStatusText(failedText(kind) + m_failure);
    }
    std::optional<QString> askPassword(const QString &why) override
    {
        if (!m_hooks.askPassword)
            return std::nullopt;
        return m_hooks.askPassword(why);
    }
    CertificateDecision askCertificate(const QString &host, const QList<QSslCertificate> &chain,
                                       const QList<QSslError> &errors) override
    {
        return m_hooks.prompt ? m_hooks.prompt(host, chain, errors) : CertificateDecision::Refuse;
    }
    void keepCertificate(const QString &profile, const QString &fingerprint) override
    {
        if (m_hooks.keep)
            m_hooks.keep(profile, fingerprint);
    }
    void keepRefreshToken(const QString &profile, const QString &refreshToken) override
    {
        if (m_hooks.keepRefreshToken)
            m_hooks.keepRefreshToken(profile, refreshToken);
    }
    void notReady(const ProfileReadiness &why) override
    {
        if (why.passwordUnreadable())
            error(WindowWords::text(why.secretProblem, why.secretAdvice)
                  + QStringLiteral("\r\nEnter the password in the settings."));
        else if (why.missing.isEmpty())
            error(QStringLiteral("Email Setting not configured\r\n") + unknownSecurityText(why.unknownSecurity));
        else
            error(WindowWords::text(QStringLiteral("Email Setting not configured"), MailReason::NotConfigured,
                                    why.server));
    }
    void report(const MailResult &result) override
    {
        // A run that ended well may still have something to tell (an IMAP
        // server that left copies marked as deleted): a warning, no error.
        const bool note = result.ok() && result.title != QLatin1String("Error");
        MessageBox::show(WindowWords::text(result.text, result.reason, result.protocolServer), result.title,
                         note ? MessageBox::Icon::Exclamation : MessageBox::Icon::Critical);
        if (!result.ok() && result.kind != MailOutcome::Cancelled)
            m_failure = firstLine(result.text);
    }
    void historyTrouble(const QString &problem) override
    {
        error(QStringLiteral("The deleted messages could not be recorded in the deletion history.\r\n") + problem);
    }

private:
    static QString failedText(ProgressKind kind)
    {
        switch (kind) {
        case ProgressKind::FetchInbox:
            return QStringLiteral("Fetch failed: ");
        case ProgressKind::EmptyRecycleBin:
            return QStringLiteral("Empty Recycle Bin failed: ");
        case ProgressKind::LearnFromServer:
            break;
        }
        return QStringLiteral("Learning failed: ");
    }
    static QString firstLine(const QString &text) { return text.section(QLatin1Char('\n'), 0, 0).trimmed(); }
    static void error(const QString &text)
    {
        MessageBox::show(text, QStringLiteral("Error"), MessageBox::Icon::Critical);
    }
    void setSorting(bool enabled)
    {
        m_host.inboxModel().setSortingEnabled(enabled);
        m_host.recycleModel().setSortingEnabled(enabled);
    }
    // The views as the run begins: the fetch starts from empty lists.
    void prepare(ProgressKind kind, ProgressControl &dialog)
    {
        if (kind == ProgressKind::FetchInbox) {
            m_host.selectFolderNode(QStringLiteral("Inbox"));
            m_host.inboxModel().clear();
            m_host.recycleModel().clear();
            m_host.setStatusText(QString());
            m_host.setProgressValue(0);
            m_host.ShowInbox();
            m_host.repaintNow();
        } else if (kind == ProgressKind::EmptyRecycleBin) {
            m_host.selectFolderNode(QStringLiteral("Recycle Bin"));
            m_host.ShowRecycleBin();
            dialog.repaintNow();
            m_host.repaintNow();
        } else {
            dialog.repaintNow(); // learning leaves the lists as they are
        }
    }

    RunHost &m_host;
    CancelFlag &m_cancel;
    const CertificateHooks &m_hooks;
    QString m_failure; // the first line of the run's failure, once shown
};

} // namespace

MailOutcome cmdFetch_Click(RunHost &host, RuleDatabase &rules, Dialer &dialer, const RunProfile &profile,
                           const CertificateHooks &hooks)
{
    WindowPerson person(host, profile.cancel, hooks);
    const MailRun::Target target{profile.settings, profile.name, profile.cancel, dialer, person};
    const MailOutcome outcome = MailRun::fetch(target, host.inboxModel(), host.recycleModel(),
                                               LearningClassifier::lazy(rules, profile.learning));
    if (outcome == MailOutcome::Done)
        MailRun::settleUnconfirmed(target, rules, host.inboxModel(), host.recycleModel());
    return outcome;
}

void cmdConfirm_Click(RunHost &host, RuleDatabase &rules, Dialer &dialer, const RunProfile &profile,
                      const CertificateHooks &hooks)
{
    // Nothing to delete, so nothing emptied: the Inbox is no reviewed mail yet.
    if (host.recycleModel().count() == 0)
        return;
    WindowPerson person(host, profile.cancel, hooks);
    const MailRun::Target target{profile.settings, profile.name, profile.cancel, dialer, person};
    QString failed;
    // What the server deleted was spam; the Inbox the user reviewed and left
    // is good. Learned before the run's report: those messages are gone.
    MailRun::emptyRecycleBin(target, host.recycleModel(), rules, {}, [&](const DeletionResult &result) {
        const bool finished = result.outcome() == MailOutcome::Done;
        failed = Lessons::fromEmpty(rules, profile.learning, result.deleted, finished ? &host.inboxModel() : nullptr);
    });
    if (!failed.isEmpty())
        host.setStatusText(QStringLiteral("The emptied messages were not learned from: ") + failed);
}

QString mnuLearnFromServer_Click(RunHost &host, RuleDatabase &rules, Dialer &dialer, const RunProfile &profile,
                                 const CertificateHooks &hooks)
{
    LessonTaker taker(rules, profile.name, profile.learning);
    QString stored;
    if (!taker.load(&stored))
        return QStringLiteral("The lessons could not be read: ") + stored;
    WindowPerson person(host, profile.cancel, hooks);
    const MailRun::Target target{profile.settings, profile.name, profile.cancel, dialer, person};
    QList<LessonFolder> folders;
    const MailOutcome outcome = MailRun::learnFromServer(
        target, [&](const QList<QByteArray> &headers, bool spam) { return taker.take(headers, spam, &stored); },
        folders);
    host.setProgressValue(0);
    if (!stored.isEmpty())
        return QStringLiteral("The lessons could not be stored: ") + stored;
    const LessonTaker::Counts &counts = taker.counts();
    if (outcome != MailOutcome::Done && counts.spam + counts.good == 0)
        return {}; // told already, or cancelled before anything was taken
    QString text = QStringLiteral("Learned %1 spam and %2 good messages from the server's folders")
                       .arg(counts.spam)
                       .arg(counts.good);
    if (outcome != MailOutcome::Done)
        text += QStringLiteral(" before the reading stopped");
    if (counts.known > 0)
        text += QStringLiteral("; %1 had been learned before").arg(counts.known);
    if (counts.filtered > 0)
        text += QStringLiteral("; %1 in the good mail's folders are filter rules' hits and were not learned as good")
                    .arg(counts.filtered);
    if (counts.judgedSpam > 0)
        text += QStringLiteral("; %1 in the good mail's folders look like your spam and were not learned as good")
                    .arg(counts.judgedSpam);
    if (counts.ownVerdicts > 0)
        text += QStringLiteral("; %1 in the spam folder were moved there by the learning itself and teach nothing")
                    .arg(counts.ownVerdicts);
    if (counts.decidedOtherwise > 0)
        text += QStringLiteral("; %1 had been learned the other way from your own decisions and were left so")
                    .arg(counts.decidedOtherwise);
    if (outcome == MailOutcome::Done
        && std::none_of(folders.cbegin(), folders.cend(), [](const auto &f) { return f.spam; }))
        text += QStringLiteral("; the server has no Junk folder, so nothing was learned as spam");
    return text + u'.';
}

} // namespace Runs
