#pragma once

#include <QObject>
#include <QString>

class CurrentProfile;
class RuleDatabase;
class StatusPane;
struct MainMenus;

// What the learning knows, forgotten on the user's word: File > Reset
// Learning (the current profile) and Reset Learning of All Profiles, each
// asked first; and a deleted profile's, so that a new profile of its name
// starts from nothing.
class LearningCommands : public QObject {
    Q_OBJECT
public:
    LearningCommands(RuleDatabase &database, const MainMenus &menus, CurrentProfile &profile, StatusPane &status,
                     QObject *parent);

public Q_SLOTS:
    void mnuResetLearning_Click();
    void mnuResetAllLearning_Click();
    void profileDeleted(const QString &name);

private:
    RuleDatabase &m_ruleDb;
    CurrentProfile &m_profile;
    StatusPane &m_status;
};
