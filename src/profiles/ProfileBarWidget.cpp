#include "ProfileBarWidget.h"

#include "CurrentProfile.h"
#include "MessageBox.h"
#include "KeyringWaitDialog.h"
#include "ProfileHost.h"
#include "SettingsStore.h"
#include "StringHelpers.h"
#include "Twips.h"
#include "frmNewProfile.h"
#include "frmSetting.h"

#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

namespace {

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption, const QString &accessible)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setAccessibleName(accessible);
    return button;
}

void openModal(QDialog *dialog)
{
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->show();
}

} // namespace

ProfileBarWidget::ProfileBarWidget(ProfileHost &host, CurrentProfile &profile, QWidget *parent)
    : QWidget(parent)
    , m_host(host)
    , m_profile(profile)
{
    // The window may wait for the keyring's unlock prompt, with a Cancel.
    installKeyringWaitDialog();
    setObjectName(QStringLiteral("ProfileBar"));
    shpProfile = new QFrame(this);
    shpProfile->setObjectName(QStringLiteral("shpProfile"));
    shpProfile->setAccessibleName(QStringLiteral("Profile bar"));
    shpProfile->setFrameShape(QFrame::Box);
    Label11 = new QLabel(QStringLiteral("P r o f i l e"), this);
    Label11->setObjectName(QStringLiteral("Label11"));
    Label11->setAccessibleName(QStringLiteral("Profile"));
    QFont bold = Label11->font();
    bold.setBold(true);
    bold.setPointSize(12);
    Label11->setFont(bold);
    cboProfile = new QComboBox(this);
    cboProfile->setObjectName(QStringLiteral("cboProfile"));
    cboProfile->setAccessibleName(QStringLiteral("Profile"));
    Label11->setBuddy(cboProfile);
    cmdNewProfile = makeButton(this, "cmdNewProfile", QStringLiteral("&New"), QStringLiteral("New Profile"));
    cmdDeleteProfile = makeButton(this, "cmdDeleteProfile", QStringLiteral("&Delete"),
                                  QStringLiteral("Delete Profile"));
    cmdSetting = makeButton(this, "cmdSetting", QStringLiteral("&Setting"), QStringLiteral("Profile Setting"));

    placeControls([](int twips) { return Twips::toPixels(twips); });

    // A changed selection runs the handler at once. Qt then also reports a
    // user's choice as "activated"; that report runs the handler only when
    // the choice changed nothing, i.e. the user chose the entry already shown
    // (which matters when the box shows an entry other than the current
    // profile, after a refused switch). A new press on the box starts a new
    // choice.
    connect(cboProfile, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_changedIndex = index;
        cboProfile_Click();
        updateProfileButtons();
    });
    connect(cboProfile, &QComboBox::activated, this, [this](int index) {
        const bool handled = index == m_changedIndex;
        m_changedIndex = kNoChange;
        if (!handled)
            cboProfile_Click();
    });
    cboProfile->installEventFilter(this);
    connect(cmdNewProfile, &QPushButton::clicked, this, &ProfileBarWidget::cmdNewProfile_Click);
    connect(cmdDeleteProfile, &QPushButton::clicked, this, &ProfileBarWidget::cmdDeleteProfile_Click);
    connect(cmdSetting, &QPushButton::clicked, this, &ProfileBarWidget::cmdSetting_Click);
}

void ProfileBarWidget::fillFromStore()
{
    const QString last = m_store.lastProfile();
    {
        const QSignalBlocker blocker(cboProfile);
        cboProfile->clear();
    }
    const QStringList names = m_store.names();
    for (int i = 0; i < names.size(); ++i) {
        const QString &name = names.at(i);
        {
            // Adding to an empty box would select the entry by itself.
            const QSignalBlocker blocker(cboProfile);
            const int shown = cboProfile->currentIndex();
            cboProfile->addItem(name);
            cboProfile->setCurrentIndex(shown);
        }
        if (name == last)
            cboProfile->setCurrentIndex(i);
    }
    m_profile.LoadProfile(cboProfile->currentText());
    updateProfileButtons();
}

// Without a profile there is nothing to set or delete: the buttons say so by
// being off, and the window learns it to switch off its runs.
void ProfileBarWidget::updateProfileButtons()
{
    const bool any = cboProfile->currentIndex() >= 0;
    cmdDeleteProfile->setEnabled(any);
    cmdSetting->setEnabled(any);
    Q_EMIT profilesAvailable(any);
}

void ProfileBarWidget::placeControls(const std::function<int(int)> &px)
{
    const auto place = [&px](QWidget *w, int l, int t, int width, int height) {
        w->setGeometry(px(l), px(t), px(width), px(height));
    };
    place(shpProfile, 120, 0, 11655, 615);
    place(Label11, 600, 120, 1900, 375);
    place(cboProfile, 2640, 120, 2775, 315);
    place(cmdNewProfile, 5535, 120, 735, 350);
    place(cmdDeleteProfile, 6270, 120, 855, 350);
    place(cmdSetting, 7125, 120, 855, 350);
}

void ProfileBarWidget::applyWidth(int frameWidthPixels)
{
    shpProfile->resize(frameWidthPixels, shpProfile->height());
    resize(shpProfile->x() + frameWidthPixels, height());
}

int ProfileBarWidget::indexOfExactly(const QString &name) const
{
    for (int i = 0; i < cboProfile->count(); ++i) {
        if (cboProfile->itemText(i) == name)
            return i;
    }
    return -1;
}

QStringList ProfileBarWidget::entries() const
{
    QStringList names;
    for (int i = 0; i < cboProfile->count(); ++i)
        names << cboProfile->itemText(i);
    return names;
}

// The Recycle Bin's messages belong to the current profile's server: leaving
// the profile (switch, delete, new) leaves them undeleted. True to go on.
bool ProfileBarWidget::confirmLeavingRecycleBin() const
{
    if (m_host.recycleBinRowCount() == 0)
        return true;
    return MessageBox::show(QStringLiteral("Items in Recycle Bin for profile '") + m_profile.name()
                                + QStringLiteral("' is not removed from the server.\r\nConfirm change profile?"),
                            QString(), MessageBox::Icon::Question, MessageBox::Buttons::YesNo)
        == MessageBox::Result::Yes;
}

void ProfileBarWidget::rememberLastProfile(const QString &name)
{
    if (const StoreWriteResult written = m_store.rememberLastProfile(name); !written)
        MessageBox::show(QStringLiteral("The profile '%1' is selected, but it could not be remembered for the next "
                                        "start.\r\n%2")
                             .arg(name, written.error),
                         QString(), MessageBox::Icon::Exclamation);
}

void ProfileBarWidget::cboProfile_Click()
{
    const QString text = cboProfile->currentText();
    if (text == m_profile.name())
        return;
    if (!m_leavingConfirmed && !confirmLeavingRecycleBin()) {
        // Back to the current profile's entry.
        const int current = indexOfExactly(m_profile.name());
        if (current >= 0) {
            const QSignalBlocker blocker(cboProfile);
            cboProfile->setCurrentIndex(current);
        }
        return;
    }
    m_host.clearMessageLists();
    m_host.ShowInbox();
    const QString name = TrimSpaces(text);
    m_profile.setName(name);
    rememberLastProfile(name);
    m_profile.LoadProfile(name);
}

// Typing never edits or searches the box: its text changes only by selection.
void ProfileBarWidget::cboProfile_KeyPress()
{
    if (QLineEdit *edit = cboProfile->lineEdit())
        edit->selectAll();
}

bool ProfileBarWidget::eventFilter(QObject *watched, QEvent *event)
{
    // A wheel notch over the box would switch the profile, and clear the
    // lists, as a side effect of scrolling: the profile changes only by
    // choosing an entry.
    if (watched == cboProfile && event->type() == QEvent::Wheel) {
        event->ignore();
        return true;
    }
    if (watched == cboProfile && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::KeyPress))
        m_changedIndex = kNoChange;
    if (watched == cboProfile && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool command = key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        if (!command && !key->text().isEmpty() && key->text().at(0).isPrint()) {
            cboProfile_KeyPress();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ProfileBarWidget::cmdNewProfile_Click()
{
    // A saved new profile empties the lists as a switch does: ask first, as
    // a switch does; No leaves everything as it was.
    if (!confirmLeavingRecycleBin())
        return;
    m_previousProfile = m_profile.name();
    auto *dialog = new frmNewProfile(entries(), m_host.dialogParent());
    // The new name is current while its settings are entered; Cancel in
    // either dialog goes back to the previous profile, read again.
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        m_profile.setName(dialog->profileName());
        openSettingDialog(m_previousProfile, dialog->foundSettings());
    });
    connect(dialog, &QDialog::rejected, this, [this] { m_profile.LoadProfile(m_previousProfile); });
    openModal(dialog);
}

void ProfileBarWidget::cmdDeleteProfile_Click()
{
    // The box may show another entry than the loaded profile (after a
    // refused switch): that entry is the one deleted, while the lists and
    // the loaded settings stay the current profile's until it is gone.
    const QString deleting = cboProfile->currentText();
    if (deleting.isEmpty())
        return;
    MessageBox::Request question{QStringLiteral("Confirm Delete '") + deleting + QLatin1Char('\''),
                                 QStringLiteral("Delete Profile"), MessageBox::Icon::None, MessageBox::Buttons::YesNo};
    question.defaultNo = true; // Enter must not delete
    if (MessageBox::show(question) != MessageBox::Result::Yes)
        return;
    // Asked before anything is deleted, naming the profile the lists are of.
    if (!confirmLeavingRecycleBin())
        return;
    if (const StoreWriteResult removed = m_store.remove(deleting); !removed) {
        MessageBox::show(QStringLiteral("The profile '%1' could not be deleted.\r\n%2").arg(deleting, removed.error),
                         QStringLiteral("Delete Profile"), MessageBox::Icon::Critical);
        return;
    }
    // The deleted profile is current until the next entry is selected.
    m_profile.setName(deleting);
    const int removed = cboProfile->currentIndex();
    {
        const QSignalBlocker blocker(cboProfile);
        cboProfile->removeItem(removed);
        cboProfile->setCurrentIndex(-1);
    }
    if (cboProfile->count() > 0) {
        m_leavingConfirmed = true;
        cboProfile->setCurrentIndex(removed >= 1 ? removed - 1 : 0);
        m_leavingConfirmed = false;
    } else {
        // The last one: its messages go with it, and nothing done in the
        // window now counts for a profile that is gone.
        m_host.clearMessageLists();
        m_profile.setName(QString());
    }
    rememberLastProfile(cboProfile->currentText());
    updateProfileButtons();
    // Last: what it reports must not be cleared with the lists.
    Q_EMIT profileDeleted(deleting);
}

void ProfileBarWidget::cmdSetting_Click()
{
    // Settings belong to a named profile; with none there is nothing to edit.
    if (cboProfile->currentIndex() < 0 || m_profile.name().isEmpty())
        return;
    openSettingDialog();
}

void ProfileBarWidget::openSettingDialog(const std::optional<QString> &previousProfile,
                                         const std::optional<AccountSettings> &found)
{
    auto *dialog = new frmSetting(m_profile, m_host.dialogParent(), &m_host, previousProfile);
    if (found)
        dialog->applyFoundSettings(*found);
    connect(dialog, &frmSetting::newProfileSaved, this, &ProfileBarWidget::addNewProfile);
    openModal(dialog);
}

// The saved new profile is an entry of its own and the current one. The
// lists still hold the previous profile's messages, whose numbers mean
// nothing on the new profile's server: they go, as on a switch.
void ProfileBarWidget::addNewProfile(const QString &name)
{
    {
        const QSignalBlocker blocker(cboProfile);
        cboProfile->addItem(name);
        cboProfile->setCurrentIndex(cboProfile->count() - 1);
    }
    m_host.clearMessageLists();
    m_host.ShowInbox();
    updateProfileButtons();
}
