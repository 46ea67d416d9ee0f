// Minimal profile bar: lists the profiles and switches CurrentProfile.
#include "ProfileBarWidget.h"

#include "Global.h"
#include "Profile.h"
#include "ProfileHost.h"
#include "SettingsStore.h"
#include "Twips.h"

#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

using namespace modRegistry;

ProfileBarWidget::ProfileBarWidget(ProfileHost &host, QWidget *parent)
    : QWidget(parent)
    , m_host(host)
{
    setObjectName(QStringLiteral("ProfileBar"));
    shpProfile = new QFrame(this);
    shpProfile->setObjectName(QStringLiteral("shpProfile"));
    shpProfile->setFrameShape(QFrame::Box);
    Label11 = new QLabel(QStringLiteral("P r o f i l e"), this);
    Label11->setObjectName(QStringLiteral("Label11"));
    QFont bold = Label11->font();
    bold.setBold(true);
    bold.setPointSize(12);
    Label11->setFont(bold);
    cboProfile = new QComboBox(this);
    cboProfile->setObjectName(QStringLiteral("cboProfile"));
    cboProfile->setAccessibleName(QStringLiteral("Profile"));
    cmdNewProfile = new QPushButton(QStringLiteral("New"), this);
    cmdNewProfile->setObjectName(QStringLiteral("cmdNewProfile"));
    cmdDeleteProfile = new QPushButton(QStringLiteral("Delete"), this);
    cmdDeleteProfile->setObjectName(QStringLiteral("cmdDeleteProfile"));
    cmdSetting = new QPushButton(QStringLiteral("Setting"), this);
    cmdSetting->setObjectName(QStringLiteral("cmdSetting"));

    const auto place = [](QWidget *w, int l, int t, int width, int height) {
        w->setGeometry(Twips::toPixels(l), Twips::toPixels(t), Twips::toPixels(width), Twips::toPixels(height));
    };
    place(shpProfile, 120, 0, 11655, 615);
    place(Label11, 600, 120, 1900, 375);
    place(cboProfile, 2640, 120, 2775, 315);
    place(cmdNewProfile, 5535, 120, 735, 350);
    place(cmdDeleteProfile, 6270, 120, 855, 350);
    place(cmdSetting, 7125, 120, 855, 350);

    connect(cboProfile, &QComboBox::activated, this, &ProfileBarWidget::cboProfile_Click);
    connect(cmdNewProfile, &QPushButton::clicked, this, &ProfileBarWidget::cmdNewProfile_Click);
    connect(cmdDeleteProfile, &QPushButton::clicked, this, &ProfileBarWidget::cmdDeleteProfile_Click);
    connect(cmdSetting, &QPushButton::clicked, this, &ProfileBarWidget::cmdSetting_Click);
}

void ProfileBarWidget::fillFromStore()
{
    const QString last = ReadStoreValue(HKEY_CURRENT_USER, kTrelvikKey, QStringLiteral("LastProfile"), QString());
    cboProfile->clear();
    cboProfile->setCurrentIndex(-1);
    for (int i = 0;; ++i) {
        const QString name = EnumStoreKey(HKEY_CURRENT_USER, kSettingKeyPrefix, i);
        if (name == QLatin1String("Not Found"))
            break;
        cboProfile->addItem(name);
        if (name == last) {
            cboProfile->setCurrentIndex(i);
            cboProfile_Click();
        }
    }
    Global::CurrentProfile = cboProfile->currentText();
    LoadProfile(Global::CurrentProfile);
}

void ProfileBarWidget::applyWidth(int frameWidthPixels)
{
    shpProfile->resize(frameWidthPixels, shpProfile->height());
    resize(shpProfile->x() + frameWidthPixels, height());
}

void ProfileBarWidget::cboProfile_Click()
{
    if (cboProfile->currentText() == Global::CurrentProfile)
        return;
    Global::CurrentProfile = cboProfile->currentText().trimmed();
    LoadProfile(Global::CurrentProfile);
}

void ProfileBarWidget::cmdNewProfile_Click() {}
void ProfileBarWidget::cmdDeleteProfile_Click() {}
void ProfileBarWidget::cmdSetting_Click() {}

bool ProfileBarWidget::eventFilter(QObject *watched, QEvent *event)
{
    return QWidget::eventFilter(watched, event);
}
