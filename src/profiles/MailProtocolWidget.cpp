#include "MailProtocolWidget.h"

#include "FieldWidget.h"
#include "MailProtocol.h"

#include <QComboBox>
#include <QFormLayout>

MailProtocolWidget::MailProtocolWidget(QWidget *parent)
    : QGroupBox(QStringLiteral("IMAP Folders"), parent)
{
    setObjectName(QStringLiteral("fraImapFolders"));
    cboMailProtocol = new QComboBox(this); // the dialog moves it into its server form
    cboMailProtocol->setObjectName(QStringLiteral("cboMailProtocol"));
    cboMailProtocol->setAccessibleName(QStringLiteral("Mail Protocol"));
    cboMailProtocol->addItems({kProtocolPop3, kProtocolImap});

    txtImapFolder = makeField(this, "txtImapFolder", QStringLiteral("Folder to Screen"));
    cboImapEmptyAction = new QComboBox(this);
    cboImapEmptyAction->setObjectName(QStringLiteral("cboImapEmptyAction"));
    cboImapEmptyAction->setAccessibleName(QStringLiteral("Empty Recycle Bin"));
    for (const QString &action : ImapEmptyActions())
        cboImapEmptyAction->addItem(ImapEmptyActionCaption(action), action);
    txtImapTargetFolder = makeField(this, "txtImapTargetFolder", QStringLiteral("Move to Folder"));
    txtImapTargetFolder->setPlaceholderText(QStringLiteral("found on the server"));
    new ReadablePlaceholder(txtImapTargetFolder);
    auto *form = new QFormLayout(this);
    form->addRow(QStringLiteral("Folder to Screen"), txtImapFolder);
    form->addRow(QStringLiteral("Empty Recycle Bin"), cboImapEmptyAction);
    form->addRow(QStringLiteral("Move to Folder"), txtImapTargetFolder);

    load({});
    connect(cboMailProtocol, &QComboBox::currentIndexChanged, this, [this] {
        showChoice();
        Q_EMIT protocolChanged(protocol());
        Q_EMIT changed();
    });
    connect(cboImapEmptyAction, &QComboBox::currentIndexChanged, this, [this] {
        showChoice();
        Q_EMIT changed();
    });
    for (QLineEdit *field : {txtImapFolder, txtImapTargetFolder})
        connect(field, &QLineEdit::textEdited, this, &MailProtocolWidget::changed);
}

MailProtocolKind MailProtocolWidget::protocol() const
{
    return mailProtocolKind(cboMailProtocol->currentText());
}

void MailProtocolWidget::load(const ProfileSettingsRecord &s)
{
    cboMailProtocol->setCurrentText(mailProtocolFacts(s.protocol()).name);
    txtImapFolder->setText(s.ImapFolder.isEmpty() ? QStringLiteral("INBOX") : s.ImapFolder);
    const int action = cboImapEmptyAction->findData(s.ImapEmptyAction);
    cboImapEmptyAction->setCurrentIndex(action < 0 ? 0 : action);
    txtImapTargetFolder->setText(s.ImapTargetFolder);
    showChoice();
}

void MailProtocolWidget::apply(ProfileSettingsRecord &s) const
{
    s.MailProtocol = mailProtocolFacts(protocol()).name;
    if (protocol() != MailProtocolKind::Imap)
        return; // a POP3 profile keeps the defaults: nothing of IMAP is stored
    s.ImapFolder = txtImapFolder->text().trimmed();
    s.ImapEmptyAction = cboImapEmptyAction->currentData().toString();
    s.ImapTargetFolder = s.ImapEmptyAction == kEmptyDelete ? QString() : txtImapTargetFolder->text().trimmed();
}

QLineEdit *MailProtocolWidget::missingField(QString *warning) const
{
    if (protocol() == MailProtocolKind::Imap && txtImapFolder->text().trimmed().isEmpty()) {
        *warning = QStringLiteral("Folder to Screen cannot be empty");
        return txtImapFolder;
    }
    return nullptr;
}

QList<QWidget *> MailProtocolWidget::tabOrder() const
{
    return {txtImapFolder, cboImapEmptyAction, txtImapTargetFolder};
}

void MailProtocolWidget::showChoice()
{
    setVisible(protocol() == MailProtocolKind::Imap);
    // Deleting moves nothing, so there is no folder to name.
    txtImapTargetFolder->setEnabled(cboImapEmptyAction->currentData().toString() != kEmptyDelete);
}
