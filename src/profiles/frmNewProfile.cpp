#include "frmNewProfile.h"

#include "DialogFlags.h"
#include "MessageBox.h"
#include "Profile.h"
#include "StringHelpers.h"
#include "frmFindSettings.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

frmNewProfile::frmNewProfile(const QStringList &existingNames, QWidget *parent)
    : QDialog(parent, kDialogWindowFlags)
    , m_existingNames(existingNames)
{
    setObjectName(QStringLiteral("frmNewProfile"));
    setWindowTitle(QStringLiteral("New Profile"));

    lblProfile = new QLabel(QStringLiteral("Profile Name"), this);
    lblProfile->setObjectName(QStringLiteral("lblProfile"));
    txtProfile = new QLineEdit(this);
    txtProfile->setObjectName(QStringLiteral("txtProfile"));
    txtProfile->setAccessibleName(QStringLiteral("Profile Name"));
    lblProfile->setBuddy(txtProfile);
    auto *lblAddress = new QLabel(QStringLiteral("Email Address (optional: finds the server settings)"), this);
    txtAddress = new QLineEdit(this);
    txtAddress->setObjectName(QStringLiteral("txtAddress"));
    txtAddress->setAccessibleName(QStringLiteral("Email Address"));
    lblAddress->setBuddy(txtAddress);
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setAccessibleName(QStringLiteral("OK"));
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setAccessibleName(QStringLiteral("Cancel"));
    cmdCancel->setAutoDefault(false);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblProfile);
    layout->addWidget(txtProfile);
    layout->addWidget(lblAddress);
    layout->addWidget(txtAddress);
    layout->addLayout(buttons);

    setTabOrder(txtProfile, txtAddress);
    setTabOrder(txtAddress, cmdOK);
    setTabOrder(cmdOK, cmdCancel);
    txtProfile->setFocus();

    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, &frmNewProfile::cmdCancel_Click);
}

void frmNewProfile::warn(const QString &text, const QString &title)
{
    MessageBox::show(text, title, MessageBox::Icon::Exclamation);
}

bool frmNewProfile::cmdOK_Click()
{
    const QString name = TrimSpaces(txtProfile->text());
    txtProfile->setText(name);
    if (name.isEmpty()) {
        warn(QStringLiteral("Profile Name cannot be blank"), QStringLiteral("Warning"));
        txtProfile->setFocus();
        return false;
    }
    // The name is a key of the settings store, where "\" separates keys.
    if (name.contains(QLatin1Char('\\'))) {
        warn(QStringLiteral("Profile Name cannot contain \\"), QStringLiteral("Warning"));
        txtProfile->setFocus();
        return false;
    }
    // Listing the stored profiles ends at a key of this name, so it would hide
    // itself and every profile listed after it.
    if (name == QLatin1String("Not Found")) {
        warn(QStringLiteral("Profile Name cannot be Not Found"), QStringLiteral("Warning"));
        txtProfile->setFocus();
        return false;
    }
    // The store compares key names without regard to case, so a name that
    // differs only in case would write into the existing profile.
    if (m_existingNames.contains(name, Qt::CaseInsensitive)) {
        warn(QStringLiteral("This profile already exists"), QStringLiteral("New Profile"));
        return false;
    }
    const QString address = txtAddress->text().trimmed();
    if (!address.isEmpty()) {
        if (!EmailAddress::parse(address).isValid()) {
            warn(QStringLiteral("This is not an email address"), QStringLiteral("New Profile"));
            txtAddress->setFocus();
            return false;
        }
        findSettings(name, address);
        return true;
    }
    m_profileName = name;
    accept();
    return true;
}

void frmNewProfile::findSettings(const QString &name, const QString &address)
{
    auto *find = new frmFindSettings(address, this);
    find->setAttribute(Qt::WA_DeleteOnClose);
    connect(find, &QDialog::finished, this, [this, find, name](int result) {
        if (result == QDialog::Accepted)
            m_found = find->chosen();
        m_profileName = name;
        accept();
    });
    find->open();
}

void frmNewProfile::cmdCancel_Click()
{
    QDialog::reject();
}

// Esc and the window's close box end up here: they mean Cancel.
void frmNewProfile::reject()
{
    cmdCancel_Click();
}
