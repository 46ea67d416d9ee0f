#include "frmCertificate.h"

#include "DialogFlags.h"
#include "Twips.h"

#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kMinWidthTwips = 7800;

// Certificate texts come from the server: never read as markup.
QLabel *makeLabel(QWidget *parent, const char *name, const QString &text)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    return label;
}

} // namespace

frmCertificate::frmCertificate(const QString &serverName, const CertificateSummary &summary, QWidget *parent)
    : QDialog(parent, kDialogWindowFlags)
{
    setObjectName(QStringLiteral("frmCertificate"));
    setWindowTitle(QStringLiteral("Server Certificate"));

    lblServer = makeLabel(this, "lblServer",
                          QStringLiteral("The server ") + serverName
                              + QStringLiteral(" presented a certificate that could not be verified."));

    auto *details = new QFormLayout;
    details->addRow(QStringLiteral("Issued to:"), makeLabel(this, "lblSubject", summary.subject));
    details->addRow(QStringLiteral("Issued by:"), makeLabel(this, "lblIssuer", summary.issuer));
    details->addRow(QStringLiteral("Valid from:"), makeLabel(this, "lblValidFrom", summary.validFrom));
    details->addRow(QStringLiteral("Valid until:"), makeLabel(this, "lblValidUntil", summary.validUntil));
    // 32 pairs on two even lines read better than wherever a wrap falls.
    QString fingerprintLines = summary.fingerprint;
    if (fingerprintLines.size() > 48)
        fingerprintLines.insert(48, QLatin1Char('\n'));
    QLabel *fingerprint = makeLabel(this, "lblFingerprint", fingerprintLines);
    fingerprint->setWordWrap(false);
    fingerprint->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    details->addRow(QStringLiteral("SHA-256 fingerprint:"), fingerprint);

    QStringList problems;
    for (const QString &problem : summary.problems)
        problems << QStringLiteral("\u2022 ") + problem;
    QLabel *lblProblems = makeLabel(this, "lblProblems", problems.join(QLatin1Char('\n')));

    QLabel *lblAdvice =
        makeLabel(this, "lblAdvice",
                  QStringLiteral(
                      "Trust it only if you know that this server uses this certificate. The trust holds for "
                      "this profile only, until its server or connection security changes."));

    cmdTrust = new QPushButton(QStringLiteral("Trust This Certificate"), this);
    cmdTrust->setObjectName(QStringLiteral("cmdTrust"));
    cmdTrust->setAutoDefault(false);
    cmdRefuse = new QPushButton(QStringLiteral("Refuse"), this);
    cmdRefuse->setObjectName(QStringLiteral("cmdRefuse"));
    cmdRefuse->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdTrust);
    buttons->addWidget(cmdRefuse);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblServer);
    layout->addLayout(details);
    layout->addWidget(lblProblems);
    layout->addWidget(lblAdvice);
    layout->addLayout(buttons);
    setTabOrder(cmdRefuse, cmdTrust);
    setMinimumWidth(Twips::toPixels(kMinWidthTwips, logicalDpiX()));

    connect(cmdTrust, &QPushButton::clicked, this, &frmCertificate::cmdTrust_Click);
    connect(cmdRefuse, &QPushButton::clicked, this, &frmCertificate::cmdRefuse_Click);
    cmdRefuse->setFocus();
}

void frmCertificate::cmdTrust_Click()
{
    m_choice = Choice::Trust;
    accept();
}

void frmCertificate::cmdRefuse_Click()
{
    m_choice = Choice::Refuse;
    reject();
}

frmCertificate::Choice frmCertificate::ask(const QString &serverName, const CertificateSummary &summary,
                                           QWidget *parent)
{
    frmCertificate dialog(serverName, summary, parent);
    dialog.exec();
    return dialog.choice();
}
