#include "CurrentProfile.h"

#include "ProfileStore.h"

CurrentProfile::CurrentProfile(QObject *parent)
    : QObject(parent)
{
}

void CurrentProfile::LoadProfile(const QString &name)
{
    set(name, ProfileStore().read(name));
}

void CurrentProfile::set(const QString &name, const ProfileSettingsRecord &settings)
{
    m_name = name;
    m_settings = settings;
    Q_EMIT changed();
}

void CurrentProfile::setName(const QString &name)
{
    m_name = name;
    Q_EMIT changed();
}
