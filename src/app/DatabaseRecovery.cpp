#include "DatabaseRecovery.h"

#include "MessageBox.h"
#include "RuleDatabase.h"

#include <QLocale>

bool offerDatabaseRecovery(RuleDatabase &db)
{
    using State = RuleDatabase::FileHealth::State;
    const RuleDatabase::FileHealth database = RuleDatabase::inspect(db.databasePath());
    if (database.state != State::Damaged)
        return true;
    const QString title = QStringLiteral("Rule Database");
    const RuleDatabase::FileHealth backup = RuleDatabase::inspect(db.backupPath());
    if (backup.state != State::Sound) {
        const QString why = backup.state == State::Missing ? QStringLiteral("there is none") : backup.reason;
        MessageBox::show(QStringLiteral("The rule database \"%1\" is damaged: %2.\r\n\r\n"
                                        "There is no usable backup to restore (%3).\r\n"
                                        "Both files are kept as they are; Trelvik ends now.")
                             .arg(db.databasePath(), database.reason, why),
                         title, MessageBox::Icon::Critical);
        return false;
    }
    const QString date = QLocale().toString(backup.modified, QLocale::LongFormat);
    const auto answer = MessageBox::show(
        QStringLiteral("The rule database \"%1\" is damaged: %2.\r\n\r\n"
                       "A backup from %3 with %4 filter and %5 exempted rules exists.\r\n"
                       "Restore it? The damaged file is kept beside it.\r\n"
                       "No ends Trelvik and changes nothing.")
            .arg(db.databasePath(), database.reason, date)
            .arg(backup.filterRules)
            .arg(backup.exemptedRules),
        title, MessageBox::Icon::Question, MessageBox::Buttons::YesNo);
    if (answer != MessageBox::Result::Yes)
        return false;
    QString keptAs, error;
    if (!db.restoreFromBackup(&keptAs, &error)) {
        MessageBox::show(QStringLiteral("The backup could not be restored: %1.\r\nBoth files are kept as they are.").arg(error),
                         title, MessageBox::Icon::Critical);
        return false;
    }
    return true;
}
