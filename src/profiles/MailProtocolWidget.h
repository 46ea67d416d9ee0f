#pragma once

#include "ProfileRecord.h"

#include <QGroupBox>

class QComboBox;
class QLineEdit;

// The settings dialog's protocol choice and, for IMAP, the group of its
// folders: the folder screened and what Empty Recycle Bin does (move to
// the Junk folder, to Trash, or delete), with the folder to move to (empty:
// the server's own). The group shows only for IMAP; the choice itself goes
// in the dialog's server form (protocolChoice()).
class MailProtocolWidget : public QGroupBox {
    Q_OBJECT
public:
    explicit MailProtocolWidget(QWidget *parent = nullptr);

    QComboBox *protocolChoice() const { return cboMailProtocol; }
    MailProtocolKind protocol() const;
    void load(const ProfileSettingsRecord &s);
    // Copies the protocol and, for IMAP, the folders into `s`.
    void apply(ProfileSettingsRecord &s) const;
    // The first empty field IMAP needs, with its warning; null when complete.
    QLineEdit *missingField(QString *warning) const;
    QList<QWidget *> tabOrder() const;

Q_SIGNALS:
    // A field was edited by the user.
    void changed();
    void protocolChanged(MailProtocolKind protocol);

private:
    void showChoice();

    QComboBox *cboMailProtocol = nullptr;
    QLineEdit *txtImapFolder = nullptr;
    QComboBox *cboImapEmptyAction = nullptr;
    QLineEdit *txtImapTargetFolder = nullptr;
};
