#pragma once

#include <QObject>
#include <QString>

class CurrentProfile;
class MessageLists;
class RuleDatabase;
class StatusPane;
struct MainMenus;

// What the learning knows, forgotten on the user's word: File > Reset
// Learning (the current profile) and Reset Learning of All Profiles, each
// asked first; and a deleted profile's, so that a new profile of its name
// starts from nothing. What a reset forgets, the lists forget too: a row its
// verdicts placed is sorted as no rule names it.
class LearningCommands : public QObject {
    Q_OBJECT
public:
    LearningCommands(RuleDatabase &database, const MainMenus &menus, CurrentProfile &profile, MessageLists &lists,
                     StatusPane &status, QObject *parent);

public Q_SLOTS:
    void mnuResetLearning_Click();
    void mnuResetAllLearning_Click();
    void profileDeleted(const QString &name);

private:
    RuleDatabase &m_ruleDb;
    void forgetInLists(QString text);

    CurrentProfile &m_profile;
    MessageLists &m_lists;
    StatusPane &m_status;
};
