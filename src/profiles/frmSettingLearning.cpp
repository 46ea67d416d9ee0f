// frmSetting's choices for the profile's learning: what unattended checks
// may delete, and whether it learns together with other profiles.
#include "frmSetting.h"

#include <QCheckBox>

void frmSetting::makeLearningBoxes()
{
    chkDeleteLearnedSpam = new QCheckBox(QStringLiteral("Let Unattended Checks Delete Learned Spam"), this);
    chkDeleteLearnedSpam->setObjectName(QStringLiteral("chkDeleteLearnedSpam"));
    chkDeleteLearnedSpam->setAccessibleName(chkDeleteLearnedSpam->text());
    chkDeleteLearnedSpam->setToolTip(
        QStringLiteral("Where emptying deletes (POP3, or IMAP set to delete), trelvik --check --delete deletes a "
                       "message that only the learning judged spam when this is on; otherwise it stays on the "
                       "server for your review in the window."));
    chkShareLearning = new QCheckBox(QStringLiteral("Share What Is Learned With Other Profiles"), this);
    chkShareLearning->setObjectName(QStringLiteral("chkShareLearning"));
    chkShareLearning->setAccessibleName(chkShareLearning->text());
    chkShareLearning->setToolTip(
        QStringLiteral("On, this profile learns from your decisions and judges mail together with every other "
                       "profile that has it on; off, what it learns is its own."));
}
