// frmSetting's "Test Connection": the typed settings go to the host's
// tester while the dialog waits, and a sign-in the test renewed is kept.
#include "frmSetting.h"

#include "CurrentProfile.h"
#include "MailProtocolWidget.h"
#include "MessageBox.h"
#include "OAuthSignInWidget.h"
#include "ProfileHost.h"
#include "WindowWords.h"

#include <QGroupBox>
#include <QCheckBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

// The tester's text goes on screen: should it echo a password (a server
// reply, a command), the whole text is withheld rather than shown.
QString shownTestText(const ConnectionTestResult &result, const ProfileSettingsRecord &settings)
{
    for (const QString &password : {settings.EmailPassword, settings.DialupPassword}) {
        if (!password.isEmpty() && result.text.contains(password))
            return QStringLiteral("The test's report is not shown because it contains a password.");
    }
    if (!result.text.isEmpty())
        return result.text;
    return result.ok ? QStringLiteral("The connection works.") : QStringLiteral("The connection test failed.");
}

} // namespace

void frmSetting::cmdTestConnection_Click()
{
    if (m_testing)
        return;
    applyLostFocus(focusWidget());
    if (!checkServerFields())
        return;
    ProfileSettingsRecord settings = typedSettings();
    // As a fetch does: a password the keyring kept to itself is asked for,
    // for this test only; never sent empty.
    if (!settings.usesOAuth2() && settings.EmailPassword.isEmpty() && !settings.SecretProblem.isEmpty()) {
        bool given = false;
        settings.EmailPassword = QInputDialog::getText(this, QStringLiteral("Email Password"),
                                                       WindowWords::text(settings.SecretProblem, settings.SecretAdvice)
                                                           + QStringLiteral("\nEnter the email password to use for "
                                                                            "this test:"),
                                                       QLineEdit::Password, QString(), &given);
        if (!given || settings.EmailPassword.isEmpty())
            return;
    }
    if (!clearTextAgreed(settings))
        return;

    // The tester waits for the server inside the event loop: the fields and
    // OK are off meanwhile; Cancel and Esc stay on and end the test.
    m_testing = true;
    CancelFlag cancel;
    m_testCancel = &cancel;
    const QList<QWidget *> paused{Frame1, fraImap, chkAutodial, fraDialup, cmdOK, cmdTestConnection};
    for (QWidget *w : paused)
        w->setEnabled(false);
    cmdCancel->setFocus();
    lblTestStatus->show();
    ConnectionTestProgress progress;
    progress.cancel = &cancel;
    progress.step = [this](const QString &step) { lblTestStatus->setText(step); };
    const ConnectionTestResult result = m_host ? m_host->testConnection(settings, progress)
                                               : ProfileHost::testingUnavailable();
    m_testCancel = nullptr;
    for (QWidget *w : paused)
        w->setEnabled(true);
    lblTestStatus->hide();
    lblTestStatus->clear();
    m_testing = false;
    if (!result.renewedRefreshToken.isEmpty())
        keepRenewedSignIn(settings.OAuthRefreshToken, result.renewedRefreshToken);

    if (cancel.isSet()) {
        cmdTestConnection->setFocus();
        return;
    }
    MessageBox::show(shownTestText(result, settings), QStringLiteral("Test Connection"),
                     result.ok ? MessageBox::Icon::Information : MessageBox::Icon::Critical);
    cmdTestConnection->setFocus();
}

bool frmSetting::clearTextAgreed(const ProfileSettingsRecord &settings)
{
    if (m_foundClearHost.isEmpty() || settings.EmailSecurity != QLatin1String("None")
        || settings.EmailHost.compare(m_foundClearHost, Qt::CaseInsensitive) != 0)
        return true;
    MessageBox::Request question{
        QStringLiteral("The settings found for %1 use no encryption: the test would send your password in clear, "
                       "readable by anyone on the way.\r\nSend it anyway?")
            .arg(settings.EmailHost),
        QStringLiteral("Test Connection"), MessageBox::Icon::Exclamation, MessageBox::Buttons::YesNo};
    question.defaultNo = true;
    if (MessageBox::show(question) != MessageBox::Result::Yes) {
        cmdTestConnection->setFocus();
        return false;
    }
    m_foundClearHost.clear();
    return true;
}

void frmSetting::keepRenewedSignIn(const QString &tested, const QString &renewed)
{
    fraSignIn->replaceRefreshToken(tested, renewed);
    if (m_previousProfile || tested.isEmpty() || tested != m_loaded.OAuthRefreshToken)
        return; // a sign-in of this dialog: OK saves it with the rest
    const ProfileSecrets::Report report = m_store.saveRefreshToken(m_profile.name(), renewed);
    if (report.trouble)
        MessageBox::show(report.text, QStringLiteral("Sign-In Kept"), MessageBox::Icon::Exclamation);
    m_loaded.OAuthRefreshToken = renewed;
    if (m_profile.settings().OAuthRefreshToken == tested)
        m_profile.settings().OAuthRefreshToken = renewed;
}
