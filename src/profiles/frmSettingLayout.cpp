// frmSetting's controls, grouped and laid out: the email and dial-up
// groups, the buttons' row, the labels lined up and the tab order.
#include "frmSetting.h"

#include "ByteLimitValidator.h"
#include "FieldWidget.h"
#include "MailProtocol.h"
#include "MailProtocolWidget.h"
#include "OAuthSignInWidget.h"
#include "Profile.h"
#include "Scramble.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

namespace {

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setAccessibleName(caption);
    return button;
}

} // namespace

QFormLayout *frmSetting::makeEmailGroup()
{
    Frame1 = new QGroupBox(QStringLiteral("Email Setting"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    txtEmailHost = makeField(Frame1, "txtEmailHost", QStringLiteral("POP Server"));
    txtEmailPort = makeField(Frame1, "txtEmailPort", QStringLiteral("POP Server Port"));
    cboEmailSecurity = new QComboBox(Frame1);
    cboEmailSecurity->setObjectName(QStringLiteral("cboEmailSecurity"));
    cboEmailSecurity->setAccessibleName(QStringLiteral("Connection Security"));
    cboEmailSecurity->addItems({kSecurityNone, kSecurityStartTls, kSecuritySslTls});
    txtEmailUserId = makeField(Frame1, "txtEmailUserId", QStringLiteral("Email User ID"));
    txtEmailPassword = makeField(Frame1, "txtEmailPassword", QStringLiteral("Email Password"));
    txtEmailPassword->setEchoMode(QLineEdit::Password);
    txtEmailPassword->setMaxLength(modSecurity::kMaxStoredBytes);
    txtEmailPassword->setValidator(new ByteLimitValidator(modSecurity::kMaxStoredBytes, txtEmailPassword));
    fraImap = new MailProtocolWidget(this);
    auto *emailForm = new QFormLayout(Frame1);
    emailForm->addRow(QStringLiteral("Mail Protocol"), fraImap->protocolChoice());
    emailForm->addRow(QStringLiteral("POP Server"), txtEmailHost);
    emailForm->addRow(QStringLiteral("POP Server Port"), txtEmailPort);
    emailForm->addRow(QStringLiteral("Connection Security"), cboEmailSecurity);
    emailForm->addRow(QStringLiteral("Email User ID"), txtEmailUserId);
    emailForm->addRow(QStringLiteral("Email Password"), txtEmailPassword);

    return emailForm;
}

void frmSetting::makeDialupGroup()
{
    fraDialup = new QGroupBox(QStringLiteral("Dialup Setting"), this);
    fraDialup->setObjectName(QStringLiteral("fraDialup"));
    txtDialupNumber = makeField(fraDialup, "txtDialupNumber", QStringLiteral("Phone Number"));
    txtDialupNumber->setMaxLength(kMaxDialupNumber);
    txtDialupUserID = makeField(fraDialup, "txtDialupUserID", QStringLiteral("User ID"));
    txtDialupUserID->setMaxLength(kMaxDialupText);
    txtDialupPassword = makeField(fraDialup, "txtDialupPassword", QStringLiteral("Password"));
    txtDialupPassword->setEchoMode(QLineEdit::Password);
    // 256 UTF-16 units are at most 768 UTF-8 bytes: always storable.
    txtDialupPassword->setMaxLength(kMaxDialupText);
    auto *dialupForm = new QFormLayout(fraDialup);
    dialupForm->addRow(QStringLiteral("Phone Number"), txtDialupNumber);
    dialupForm->addRow(QStringLiteral("User ID"), txtDialupUserID);
    dialupForm->addRow(QStringLiteral("Password"), txtDialupPassword);
}

QHBoxLayout *frmSetting::makeButtons()
{
    cmdOK = makeButton(this, "cmdOK", QStringLiteral("OK"));
    cmdOK->setDefault(true);
    cmdCancel = makeButton(this, "cmdCancel", QStringLiteral("Cancel"));
    cmdCancel->setAutoDefault(false);
    cmdTestConnection = makeButton(this, "cmdTestConnection", QStringLiteral("Test Connection"));
    cmdTestConnection->setAutoDefault(false);
    cmdFindSettings = makeButton(this, "cmdFindSettings", QStringLiteral("Find settings"));
    cmdFindSettings->setAutoDefault(false);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(cmdFindSettings);
    buttons->addWidget(cmdTestConnection);
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    // What a running connection test is doing; Cancel or Esc ends it.
    lblTestStatus = new QLabel(this);
    lblTestStatus->setObjectName(QStringLiteral("lblTestStatus"));
    lblTestStatus->setAccessibleName(QStringLiteral("Test Connection status"));
    lblTestStatus->setTextFormat(Qt::PlainText);
    lblTestStatus->setWordWrap(true);
    lblTestStatus->hide();

    return buttons;
}

void frmSetting::alignFormLabels()
{
    // The fields of every group (server, folders, sign-in, dial-up) start
    // at one line: the labels of all forms are as wide as the widest.
    const QList<QFormLayout *> forms = findChildren<QFormLayout *>();
    int labelWidth = 0;
    for (QFormLayout *form : forms)
        for (int row = 0; row < form->rowCount(); ++row)
            if (QLayoutItem *item = form->itemAt(row, QFormLayout::LabelRole); item && item->widget())
                labelWidth = std::max(labelWidth, item->widget()->sizeHint().width());
    for (QFormLayout *form : forms)
        for (int row = 0; row < form->rowCount(); ++row)
            if (QLayoutItem *item = form->itemAt(row, QFormLayout::LabelRole); item && item->widget())
                item->widget()->setMinimumWidth(labelWidth);
}

void frmSetting::setTabOrderAsRead()
{
    // As the eye reads: down the fields, then the buttons' row left to right.
    QList<QWidget *> order{
        fraImap->protocolChoice(), txtEmailHost, txtEmailPort,    cboEmailSecurity, txtEmailUserId,
        txtEmailPassword,          chkAutodial,  txtDialupNumber, txtDialupUserID,  txtDialupPassword,
        cmdTestConnection,         cmdOK,        cmdCancel};
    for (QWidget *w : {chkDeleteLearnedSpam, chkShareLearning})
        order.insert(order.indexOf(chkAutodial), w);
    order.insert(order.indexOf(cmdTestConnection), cmdFindSettings);
    // The folders, then the sign-in, follow the password.
    for (QWidget *w : fraImap->tabOrder() + fraSignIn->tabOrder())
        order.insert(order.indexOf(chkDeleteLearnedSpam), w);
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));
}
