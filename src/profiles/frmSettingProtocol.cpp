// frmSetting's protocol choice: the usual port, the server captions and
// the sign-in presets follow it.
#include "frmSetting.h"

#include "MailProtocol.h"
#include "MailProtocolWidget.h"
#include "OAuthSignInWidget.h"
#include "Profile.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include <tuple>

void frmSetting::cboMailProtocol_Click(MailProtocolKind protocol)
{
    const bool imap = protocol == MailProtocolKind::Imap;
    const QString port = PortForProtocol(protocol, cboEmailSecurity->currentText(), txtEmailPort->text());
    if (port != txtEmailPort->text())
        txtEmailPort->setText(port);
    if (fraSignIn->usesOAuth2()) {
        // A provider's server of the other protocol becomes this one's.
        const QString provider = fraSignIn->provider();
        if (txtEmailHost->text() == OAuthPresetNamed(provider, !imap).host)
            txtEmailHost->setText(OAuthPresetNamed(provider, imap).host);
    }
    fraSignIn->setImap(imap);
    showProtocol();
}

void frmSetting::showProtocol()
{
    const QString server = serverCaption();
    for (auto [label, field, text] : {std::tuple{m_serverLabel, txtEmailHost, server},
                                      std::tuple{m_portLabel, txtEmailPort, server + QStringLiteral(" Port")}}) {
        if (label)
            label->setText(text);
        field->setAccessibleName(text);
    }
}

QString frmSetting::serverCaption() const
{
    return mailProtocolFacts(fraImap->protocol()).serverCaption;
}
