#pragma once

#include "ProfileRecord.h"

#include <QObject>
#include <QString>

// The profile the window works on: its name and its settings, owned by the
// main window and handed to whatever reads or changes them. Changes made
// through the setters are announced by `changed`.
class CurrentProfile : public QObject {
    Q_OBJECT
public:
    explicit CurrentProfile(QObject *parent = nullptr);

    const QString &name() const { return m_name; }
    const ProfileSettingsRecord &settings() const { return m_settings; }
    // The record a run works on: a password asked for and a certificate
    // trusted during the run land here, so that the next run has them too.
    ProfileSettingsRecord &settings() { return m_settings; }

    // Reads the named profile from the store (ProfileStore::read) and makes
    // it current.
    void LoadProfile(const QString &name);
    void set(const QString &name, const ProfileSettingsRecord &settings);
    // Only the name: New Profile names the profile before its settings exist.
    void setName(const QString &name);

Q_SIGNALS:
    void changed();

private:
    QString m_name;
    ProfileSettingsRecord m_settings;
};
