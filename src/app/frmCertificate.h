#pragma once

#include "CertificateSummary.h"

#include <QDialog>

class QLabel;
class QPushButton;

// Asks whether to trust a server certificate that could not be verified.
// "Refuse" is the default button and what Esc and the close box mean; only
// "Trust This Certificate" trusts, and then for the one profile only.
class frmCertificate : public QDialog {
    Q_OBJECT
public:
    enum class Choice { Refuse, Trust };

    frmCertificate(const QString &serverName, const CertificateSummary &summary, QWidget *parent = nullptr);

    // What the user chose; Refuse until "Trust This Certificate" was pressed.
    Choice choice() const { return m_choice; }

    // Shows the dialog modally and returns the choice.
    static Choice ask(const QString &serverName, const CertificateSummary &summary, QWidget *parent = nullptr);

private:
    void cmdTrust_Click();
    void cmdRefuse_Click();

    Choice m_choice = Choice::Refuse;
    QLabel *lblServer = nullptr;
    QPushButton *cmdTrust = nullptr;
    QPushButton *cmdRefuse = nullptr;
};
