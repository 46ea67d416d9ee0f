#include "frmSetting.h"

#include "ByteLimitValidator.h"
#include "Global.h"
#include "MessageBox.h"
#include "Profile.h"
#include "Scramble.h"
#include "SettingsStore.h"
#include "TrimSpaces.h"

#include <QCheckBox>
#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace modRegistry;

namespace {

QLineEdit *makeField(QWidget *parent, const char *name, const QString &label)
{
    auto *field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setAccessibleName(label);
    return field;
}

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setAccessibleName(caption);
    return button;
}

} // namespace

frmSetting::frmSetting(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmSetting"));

    Frame1 = new QGroupBox(QStringLiteral("Email Setting"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    txtEmailHost = makeField(Frame1, "txtEmailHost", QStringLiteral("POP Server"));
    txtEmailPort = makeField(Frame1, "txtEmailPort", QStringLiteral("POP Server Port"));
    txtEmailUserId = makeField(Frame1, "txtEmailUserId", QStringLiteral("Email User ID"));
    txtEmailPassword = makeField(Frame1, "txtEmailPassword", QStringLiteral("Email Password"));
    txtEmailPassword->setEchoMode(QLineEdit::Password);
    txtEmailPassword->setMaxLength(modSecurity::kMaxStoredBytes);
    txtEmailPassword->setValidator(new ByteLimitValidator(modSecurity::kMaxStoredBytes, txtEmailPassword));
    auto *emailForm = new QFormLayout(Frame1);
    emailForm->addRow(QStringLiteral("POP Server"), txtEmailHost);
    emailForm->addRow(QStringLiteral("POP Server Port"), txtEmailPort);
    emailForm->addRow(QStringLiteral("Email User ID"), txtEmailUserId);
    emailForm->addRow(QStringLiteral("Email Password"), txtEmailPassword);

    chkAutodial = new QCheckBox(QStringLiteral("Automatically Dial && Hangup Connection"), this);
    chkAutodial->setObjectName(QStringLiteral("chkAutodial"));
    chkAutodial->setAccessibleName(QStringLiteral("Automatically Dial & Hangup Connection"));

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

    cmdOK = makeButton(this, "cmdOK", QStringLiteral("OK"));
    cmdOK->setDefault(true);
    cmdCancel = makeButton(this, "cmdCancel", QStringLiteral("Cancel"));
    cmdCancel->setAutoDefault(false);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Frame1);
    layout->addWidget(chkAutodial);
    layout->addWidget(fraDialup);
    layout->addLayout(buttons);

    const QList<QWidget *> order{txtEmailHost,    txtEmailPort,    txtEmailUserId,    txtEmailPassword,
                                 chkAutodial,     txtDialupNumber, txtDialupUserID,   txtDialupPassword,
                                 cmdOK,           cmdCancel};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));

    Form_Load();

    // The port and the check box are not tracked.
    for (QLineEdit *tracked : {txtEmailHost, txtEmailUserId, txtEmailPassword, txtDialupNumber, txtDialupUserID,
                               txtDialupPassword})
        connect(tracked, &QLineEdit::textChanged, this, &frmSetting::txtTracked_Change);
    for (QLineEdit *rewritten : {txtEmailHost, txtEmailUserId, txtEmailPassword})
        rewritten->installEventFilter(this);
    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, &frmSetting::cmdCancel_Click);
    txtEmailHost->setFocus();
}

void frmSetting::Form_Load()
{
    setWindowTitle(QStringLiteral("Profile Setting - ") + Global::CurrentProfile);
    if (Global::NewProfileFlag == 0) {
        const auto &s = Global::ProfileSettings;
        txtEmailHost->setText(s.EmailHost);
        txtEmailPort->setText(s.EmailPort);
        txtEmailUserId->setText(s.EmailUserid);
        txtEmailPassword->setText(s.EmailPassword);
        // Runs dial only on "1"; the box shows what they will do.
        chkAutodial->setChecked(s.Autodial == QLatin1String("1"));
        txtDialupNumber->setText(s.DialupNumber);
        txtDialupUserID->setText(s.DialupUserID);
        txtDialupPassword->setText(s.DialupPassword);
    } else {
        txtEmailPort->setText(QStringLiteral("110"));
    }
}

// Form_Activate: the filled fields count as unchanged.
void frmSetting::showEvent(QShowEvent *event)
{
    if (!m_activated) {
        m_activated = true;
        Global::SettingsChanged = false;
    }
    QDialog::showEvent(event);
}

void frmSetting::txtTracked_Change()
{
    Global::SettingsChanged = true;
}

void frmSetting::txtEmailHost_LostFocus()
{
    const QString text = TrimSpaces(txtEmailHost->text().toLower());
    if (text != txtEmailHost->text())
        txtEmailHost->setText(text);
}

void frmSetting::txtEmailUserId_LostFocus()
{
    const QString text = TrimSpaces(txtEmailUserId->text().toLower());
    if (text != txtEmailUserId->text())
        txtEmailUserId->setText(text);
}

void frmSetting::txtEmailPassword_LostFocus()
{
    const QString text = TrimSpaces(txtEmailPassword->text());
    if (text != txtEmailPassword->text())
        txtEmailPassword->setText(text);
}

void frmSetting::applyLostFocus(QObject *field)
{
    if (field == txtEmailHost)
        txtEmailHost_LostFocus();
    else if (field == txtEmailUserId)
        txtEmailUserId_LostFocus();
    else if (field == txtEmailPassword)
        txtEmailPassword_LostFocus();
}

bool frmSetting::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut)
        applyLostFocus(watched);
    return QDialog::eventFilter(watched, event);
}

void frmSetting::warn(const QString &text, QLineEdit *field)
{
    MessageBox::show(text, QStringLiteral("Warning"), MessageBox::Icon::Exclamation);
    field->setFocus();
}

bool frmSetting::cmdOK_Click()
{
    // Enter presses OK without taking the focus from the field being typed
    // in: that field gets the rewrite it would get on leaving it.
    applyLostFocus(focusWidget());

    if (txtEmailHost->text().isEmpty()) {
        warn(QStringLiteral("POP Server cannot be empty"), txtEmailHost);
        return false;
    }
    if (txtEmailPort->text().isEmpty()) {
        warn(QStringLiteral("POP Server Port cannot be empty"), txtEmailPort);
        return false;
    }
    if (!IsPortText(txtEmailPort->text())) {
        warn(QStringLiteral("POP Server Port must be a number from 1 to 65535"), txtEmailPort);
        return false;
    }
    if (txtEmailUserId->text().isEmpty()) {
        warn(QStringLiteral("Email User ID cannot be empty"), txtEmailUserId);
        return false;
    }
    if (txtEmailPassword->text().isEmpty()) {
        warn(QStringLiteral("Email Password cannot be empty"), txtEmailPassword);
        return false;
    }
    txtDialupNumber->setText(TrimSpaces(txtDialupNumber->text()));
    txtDialupUserID->setText(TrimSpaces(txtDialupUserID->text()));
    if (chkAutodial->isChecked()) {
        if (txtDialupNumber->text().isEmpty()) {
            warn(QStringLiteral("Dialup Number cannot be empty"), txtDialupNumber);
            return false;
        }
        if (txtDialupUserID->text().isEmpty()) {
            warn(QStringLiteral("Dialup User ID cannot be empty"), txtDialupUserID);
            return false;
        }
        if (txtDialupPassword->text().isEmpty()) {
            warn(QStringLiteral("Dialup Password cannot be empty"), txtDialupPassword);
            return false;
        }
    }

    auto &s = Global::ProfileSettings;
    s.EmailHost = txtEmailHost->text();
    s.EmailPort = txtEmailPort->text();
    s.EmailUserid = txtEmailUserId->text();
    s.EmailPassword = txtEmailPassword->text();
    s.Autodial = chkAutodial->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    s.DialupNumber = txtDialupNumber->text();
    s.DialupUserID = txtDialupUserID->text();
    s.DialupPassword = txtDialupPassword->text();

    const QString key = kSettingKeyPrefix + Global::CurrentProfile;
    const auto write = [&key](const char *name, const QString &value) {
        WriteStoreValue(HKEY_CURRENT_USER, key, QLatin1String(name), REG_SZ, value);
    };
    write("EmailHost", s.EmailHost);
    write("EmailPort", s.EmailPort);
    write("EmailUserId", s.EmailUserid);
    write("EmailPassword", modSecurity::ScrambleText(s.EmailPassword));
    write("Autodial", s.Autodial);
    write("DialupNumber", s.DialupNumber);
    write("DialupUserID", s.DialupUserID);
    write("DialupPassword", modSecurity::ScrambleText(s.DialupPassword));

    if (Global::NewProfileFlag == 1)
        Q_EMIT newProfileSaved(Global::CurrentProfile);
    Global::SettingsChanged = false;
    accept();
    return true;
}

void frmSetting::cmdCancel_Click()
{
    if (Global::SettingsChanged) {
        const auto answer = MessageBox::show(QStringLiteral("Changes not saved.\r\nSave now?"),
                                             QStringLiteral("Save Setting"), MessageBox::Icon::Question,
                                             MessageBox::Buttons::YesNo);
        if (answer == MessageBox::Result::Yes)
            cmdOK_Click();
    }
    Global::SettingsChanged = false;
    if (Global::NewProfileFlag == 1) {
        Global::CurrentProfile = Global::PreviousProfile;
        LoadProfile(Global::CurrentProfile);
    }
    if (!m_closed)
        QDialog::reject();
}

// Esc and the window's close box mean Cancel, with its offer to save.
void frmSetting::reject()
{
    cmdCancel_Click();
}

// Form_Unload.
void frmSetting::done(int result)
{
    m_closed = true;
    Global::NewProfileFlag = 0;
    QDialog::done(result);
}
