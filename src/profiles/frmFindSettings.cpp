#include "frmFindSettings.h"

#include "AccountFinder.h"
#include "DialogFlags.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setAccessibleName(caption);
    button->setAutoDefault(false);
    return button;
}

} // namespace

frmFindSettings::frmFindSettings(const QString &address, QWidget *parent, const DiscoverySeam &seam)
    : QDialog(parent, kDialogWindowFlags)
    , m_finder(new AccountFinder(seam, this))
    , m_autoFind(!address.trimmed().isEmpty())
{
    setObjectName(QStringLiteral("frmFindSettings"));
    setWindowTitle(QStringLiteral("Find Settings"));

    auto *lblAddress = new QLabel(QStringLiteral("Email Address"), this);
    txtAddress = new QLineEdit(address.trimmed(), this);
    txtAddress->setObjectName(QStringLiteral("txtAddress"));
    txtAddress->setAccessibleName(QStringLiteral("Email Address"));
    lblAddress->setBuddy(txtAddress);
    cmdFind = makeButton(this, "cmdFind", QStringLiteral("Find"));
    lblProgress = new QLabel(this);
    lblProgress->setObjectName(QStringLiteral("lblProgress"));
    lblProgress->setAccessibleName(QStringLiteral("Search status"));
    lblProgress->setTextFormat(Qt::PlainText);
    lblProgress->setWordWrap(true);
    lstChoices = new QListWidget(this);
    lstChoices->setObjectName(QStringLiteral("lstChoices"));
    lstChoices->setAccessibleName(QStringLiteral("Settings found"));
    cmdOK = makeButton(this, "cmdOK", QStringLiteral("OK"));
    cmdOK->setDefault(true);
    cmdOK->setEnabled(false);
    cmdCancel = makeButton(this, "cmdCancel", QStringLiteral("Cancel"));

    auto *addressRow = new QHBoxLayout;
    addressRow->addWidget(txtAddress, 1);
    addressRow->addWidget(cmdFind);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblAddress);
    layout->addLayout(addressRow);
    layout->addWidget(lblProgress);
    layout->addWidget(lstChoices, 1);
    layout->addLayout(buttons);
    resize(720, 320); // a choice's line is long: server, security, user, sign-in, source

    connect(cmdFind, &QPushButton::clicked, this, &frmFindSettings::cmdFind_Click);
    connect(txtAddress, &QLineEdit::returnPressed, this, &frmFindSettings::cmdFind_Click);
    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, &frmFindSettings::cmdCancel_Click);
    connect(lstChoices, &QListWidget::itemDoubleClicked, this, [this] { cmdOK_Click(); });
    connect(m_finder, &AccountFinder::progress, lblProgress, &QLabel::setText);
    connect(m_finder, &AccountFinder::finished, this, &frmFindSettings::showChoices);
}

QString frmFindSettings::address() const
{
    return txtAddress->text().trimmed();
}

void frmFindSettings::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_autoFind) {
        m_autoFind = false;
        cmdFind_Click();
    }
}

void frmFindSettings::setSearching(bool searching)
{
    cmdFind->setEnabled(!searching);
    txtAddress->setReadOnly(searching);
    cmdOK->setEnabled(!searching && lstChoices->currentRow() >= 0);
}

void frmFindSettings::cmdFind_Click()
{
    if (m_finder->isRunning())
        return;
    lstChoices->clear();
    m_choices.clear();
    if (!m_finder->start(address())) {
        lblProgress->setText(QStringLiteral("Type an e-mail address, such as name@example.com."));
        txtAddress->setFocus();
        return;
    }
    lblProgress->setText(QStringLiteral("Searching..."));
    setSearching(true);
}

void frmFindSettings::showChoices(const QList<AccountSettings> &choices)
{
    m_choices = choices;
    for (const AccountSettings &choice : choices) {
        lstChoices->addItem(choice.describe());
        lstChoices->item(lstChoices->count() - 1)->setToolTip(choice.describe());
    }
    if (choices.isEmpty()) {
        lblProgress->setText(QStringLiteral("No settings were found. Cancel, then type them yourself."));
    } else {
        lstChoices->setCurrentRow(0); // the preferred: IMAP over SSL/TLS when offered
        QString text = QStringLiteral("Found %1. OK fills in the selected one; you can change it after.")
                           .arg(choices.size() == 1 ? QStringLiteral("one choice")
                                                    : QStringLiteral("%1 choices").arg(choices.size()));
        if (choices.first().signIn == AccountSettings::SignIn::AppPassword)
            text += QStringLiteral(" This provider wants an app password made in its account settings.");
        lblProgress->setText(text);
    }
    setSearching(false);
    lstChoices->setFocus();
}

bool frmFindSettings::cmdOK_Click()
{
    const int row = lstChoices->currentRow();
    if (m_finder->isRunning() || row < 0 || row >= m_choices.size())
        return false;
    m_chosen = m_choices.at(row);
    accept();
    return true;
}

void frmFindSettings::cmdCancel_Click()
{
    if (m_finder->isRunning()) {
        m_finder->cancel();
        lblProgress->setText(QStringLiteral("Search cancelled."));
        setSearching(false);
        return;
    }
    QDialog::reject();
}

// Esc and the close box: Cancel, though a running search ends with the dialog.
void frmFindSettings::reject()
{
    m_finder->cancel();
    QDialog::reject();
}
