#include "frmFindSettings.h"

#include "AccountFinder.h"
#include "DialogFlags.h"
#include "MessageBox.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString kHint = QStringLiteral("Type your email address, such as name@example.com, and press Find.");

// A list's item delegate whose rows are as tall as their text needs when
// wrapped at the list's width (a list measures its rows unbounded).
class WrappingDelegate : public QStyledItemDelegate {
public:
    explicit WrappingDelegate(QListWidget *list)
        : QStyledItemDelegate(list)
        , m_list(list)
    {
    }
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem bounded(option);
        const int width = m_list->viewport()->width() - 2 * m_list->spacing();
        bounded.rect = QRect(0, 0, std::max(width, 1), std::max(option.rect.height(), 1));
        bounded.features |= QStyleOptionViewItem::WrapText;
        return QStyledItemDelegate::sizeHint(bounded, index);
    }

private:
    QListWidget *m_list;
};

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
    txtAddress->setPlaceholderText(QStringLiteral("name@example.com"));
    lblAddress->setBuddy(txtAddress);
    cmdFind = makeButton(this, "cmdFind", QStringLiteral("Find"));
    lblProgress = new QLabel(this);
    lblProgress->setObjectName(QStringLiteral("lblProgress"));
    lblProgress->setAccessibleName(QStringLiteral("Search status"));
    lblProgress->setTextFormat(Qt::PlainText);
    lblProgress->setWordWrap(true);
    lblProgress->setText(kHint);
    lstChoices = new QListWidget(this);
    lstChoices->setObjectName(QStringLiteral("lstChoices"));
    lstChoices->setAccessibleName(QStringLiteral("Settings found"));
    // A choice's line is long (server, security, user, sign-in, source):
    // it wraps, so that where it came from is never scrolled out of sight.
    lstChoices->setWordWrap(true);
    lstChoices->setTextElideMode(Qt::ElideNone);
    lstChoices->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lstChoices->setResizeMode(QListView::Adjust);
    lstChoices->setSpacing(2);
    lstChoices->setItemDelegate(new WrappingDelegate(lstChoices));
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
    resize(720, 360);

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
        lblProgress->setText(kHint);
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
        auto *item = new QListWidgetItem(choice.describe(), lstChoices);
        item->setToolTip(choice.describe());
        if (choice.isClearText())
            item->setIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
    }
    if (choices.isEmpty()) {
        // Why nothing was found stays in view.
        lblProgress->setText(m_finder->timedOut()
                                 ? QStringLiteral("The search took too long and found nothing. Press Find to try "
                                                  "again, or Cancel and type the settings yourself.")
                                 : QStringLiteral("No settings were found. Cancel, then type them yourself."));
    } else {
        lstChoices->setCurrentRow(0); // the preferred: the safest connection offered
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
    if (const AccountSettings &choice = m_choices.at(row); choice.isClearText()) {
        MessageBox::Request question{
            QStringLiteral("This choice connects to %1 without encryption: your password would cross the network "
                           "in clear, readable by anyone on the way.\r\nUse it anyway?")
                .arg(choice.host),
            QStringLiteral("Find Settings"), MessageBox::Icon::Exclamation, MessageBox::Buttons::YesNo};
        question.defaultNo = true;
        if (MessageBox::show(question) != MessageBox::Result::Yes)
            return false;
    }
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
