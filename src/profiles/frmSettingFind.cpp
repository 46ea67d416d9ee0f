// The settings dialog's "Find settings": the search for the address's
// server, and the filling of the fields with what the user took from it.
#include "frmFindSettings.h"
#include "frmSetting.h"

#include "CurrentProfile.h"
#include "MailProtocolWidget.h"
#include "OAuthSignInWidget.h"
#include "StringHelpers.h"

#include <QComboBox>
#include <QLineEdit>

void frmSetting::cmdFindSettings_Click()
{
    const QString user = TrimSpaces(txtEmailUserId->text());
    auto *find = new frmFindSettings(user.contains(QLatin1Char('@')) ? user : QString(), this);
    find->setAttribute(Qt::WA_DeleteOnClose);
    connect(find, &QDialog::accepted, this, [this, find] {
        if (find->chosen())
            applyFoundSettings(*find->chosen());
    });
    find->open();
}

void frmSetting::applyFoundSettings(const AccountSettings &found)
{
    ProfileSettingsRecord s = typedSettings();
    const QString oldProvider = s.OAuthProvider;
    fillProfileSettings(found, s);
    if (s.OAuthProvider != oldProvider) // the new preset's endpoints, not the old ones
        s.OAuthAuthorizeUrl.clear();
    // The protocol first: its switch moves the port and the sign-in's presets.
    fraImap->load(s);
    fraSignIn->load(s, m_previousProfile ? QString() : m_profile.name());
    txtEmailHost->setText(s.EmailHost);
    cboEmailSecurity->setCurrentText(s.EmailSecurity);
    txtEmailPort->setText(s.EmailPort);
    txtEmailUserId->setText(s.EmailUserid);
    m_settingsChanged = true;
    // Agreeing to a choice is not agreeing to send the password: a test
    // asks again before it does so in clear.
    m_foundClearHost = found.isClearText() ? s.EmailHost : QString();
}
