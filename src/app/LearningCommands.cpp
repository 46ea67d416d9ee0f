#include "LearningCommands.h"

#include "CurrentProfile.h"
#include "Lessons.h"
#include "MessageBox.h"
#include "MessageLists.h"
#include "StatusPane.h"
#include "frmMainMenus.h"

#include <QAction>

namespace {

const QString kTitle = QStringLiteral("Reset Learning");

bool confirmed(const QString &question)
{
    MessageBox::Request request{question, kTitle, MessageBox::Icon::Question, MessageBox::Buttons::YesNo};
    request.defaultNo = true; // Enter must not forget
    return MessageBox::show(request) == MessageBox::Result::Yes;
}

void showFailure(const QString &error)
{
    MessageBox::show(QStringLiteral("The learning could not be reset.\r\n") + error, kTitle,
                     MessageBox::Icon::Critical);
}

} // namespace

LearningCommands::LearningCommands(RuleDatabase &database, const MainMenus &menus, CurrentProfile &profile,
                                   MessageLists &lists, StatusPane &status, QObject *parent)
    : QObject(parent)
    , m_ruleDb(database)
    , m_profile(profile)
    , m_lists(lists)
    , m_status(status)
{
    connect(menus.mnuResetLearning, &QAction::triggered, this, &LearningCommands::mnuResetLearning_Click);
    connect(menus.mnuResetAllLearning, &QAction::triggered, this, &LearningCommands::mnuResetAllLearning_Click);
}

void LearningCommands::mnuResetLearning_Click()
{
    const QString name = m_profile.name();
    if (name.isEmpty())
        return;
    // A profile that shares its learning forgets the shared one, for all.
    const QString learning = m_profile.settings().learningName(name);
    const bool shared = learning != name;
    if (!confirmed(shared ? QStringLiteral("Forget everything the profiles sharing their learning with '%1' have "
                                           "learned from your decisions? Their rules stay; their learned verdicts "
                                           "start again from nothing.")
                                .arg(name)
                          : QStringLiteral("Forget everything the profile '%1' has learned from your decisions? Its "
                                           "rules stay; its learned verdicts start again from nothing.")
                                .arg(name)))
        return;
    if (const QString error = Lessons::forget(m_ruleDb, learning); !error.isEmpty())
        return showFailure(error);
    forgetInLists((shared ? QStringLiteral("The profiles sharing their learning with '%1' forgot what they had "
                                           "learned")
                          : QStringLiteral("The profile '%1' forgot what it had learned"))
                      .arg(name));
}

void LearningCommands::mnuResetAllLearning_Click()
{
    if (!confirmed(QStringLiteral("Forget everything every profile has learned from your decisions? The rules stay; "
                                  "learned verdicts start again from nothing.")))
        return;
    if (const QString error = Lessons::forgetAll(m_ruleDb); !error.isEmpty())
        return showFailure(error);
    forgetInLists(QStringLiteral("Every profile forgot what it had learned"));
}

void LearningCommands::forgetInLists(QString text)
{
    // A verdict forgotten must not leave its spam to the next Empty.
    if (const int back = m_lists.forgetLearnedVerdicts(); back > 0)
        text += back == 1
            ? QStringLiteral("; 1 message the learning had put in the Recycle Bin is back in the Inbox")
            : QStringLiteral("; %1 messages the learning had put in the Recycle Bin are back in the Inbox").arg(back);
    m_status.setText(text);
    m_status.announce();
}

void LearningCommands::profileDeleted(const QString &name)
{
    // Its own lessons; a pool it shared stays with the other profiles.
    if (const QString error = Lessons::forget(m_ruleDb, name); !error.isEmpty())
        m_status.setText(QStringLiteral("What the deleted profile had learned could not be forgotten: ") + error);
}
