#include "DatabaseRecovery.h"

#include "MessageBox.h"
#include "RuleDatabase.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <QLocale>
#include <QtConcurrent/QtConcurrentRun>

bool offerDatabaseRecovery(RuleDatabase &db)
{
    using State = RuleDatabase::FileHealth::State;
    const RuleDatabase::FileHealth database = RuleDatabase::inspect(db.databasePath());
    if (database.state != State::Damaged)
        return true;
    const QString title = QStringLiteral("Rule Database");

    // The damage may lie outside the rules (the deletion history, say): the
    // damaged file then holds the newest rules, the backup only older ones.
    const RuleDatabase::Salvage salvage = RuleDatabase::salvageRules(db.databasePath());
    QString rebuildError;
    if (salvage.complete) {
        QString keptAs;
        qint64 history = 0;
        if (db.rebuildFromRules(salvage, &keptAs, &rebuildError, &history)) {
            const QString historyText = history == 0 ? QStringLiteral("the deletion history starts empty.")
                : history == 1
                ? QStringLiteral("the deletion history holds the one entry of the backup; later ones are lost.")
                : QStringLiteral("the deletion history holds the %1 entries of the backup; later ones are lost.")
                      .arg(history);
            MessageBox::show(QStringLiteral("The rule database \"%1\" was damaged: %2.\r\n\r\n"
                                            "All its rules could still be read: %3 filter and %4 exempted rules. "
                                            "Trelvik made a new rule database of them; %6\r\nThe damaged file is "
                                            "kept as \"%5\".")
                                 .arg(db.databasePath(), database.reason)
                                 .arg(salvage.filter.size())
                                 .arg(salvage.exempted.size())
                                 .arg(keptAs, historyText),
                             title, MessageBox::Icon::Information);
            return true;
        }
    }
    const QString readable = salvage.complete
        ? QStringLiteral("All its %1 filter and %2 exempted rules could be read, but a new database could not "
                         "be made of them (%3).")
              .arg(salvage.filter.size())
              .arg(salvage.exempted.size())
              .arg(rebuildError)
        : QStringLiteral("Not all of its rules can be read (%3); %1 filter and %2 exempted rules could be.")
              .arg(salvage.filter.size())
              .arg(salvage.exempted.size())
              .arg(salvage.reason);

    const RuleDatabase::FileHealth backup = RuleDatabase::inspect(db.backupPath());
    if (backup.state != State::Sound) {
        const QString why = backup.state == State::Missing ? QStringLiteral("there is none") : backup.reason;
        MessageBox::show(QStringLiteral("The rule database \"%1\" is damaged: %2.\r\n%4\r\n\r\n"
                                        "There is no usable backup to restore (%3).\r\n"
                                        "Both files are kept as they are; Trelvik ends now.")
                             .arg(db.databasePath(), database.reason, why, readable),
                         title, MessageBox::Icon::Critical);
        return false;
    }
    const QString date = QLocale().toString(backup.modified, QLocale::LongFormat);
    const auto answer =
        MessageBox::show(QStringLiteral("The rule database \"%1\" is damaged: %2.\r\n%6\r\n\r\n"
                                        "A backup from %3 with %4 filter and %5 exempted rules exists.\r\n"
                                        "Restore it? The damaged file is kept beside it.\r\n"
                                        "No ends Trelvik and changes nothing.")
                             .arg(db.databasePath(), database.reason, date)
                             .arg(backup.filterRules)
                             .arg(backup.exemptedRules)
                             .arg(readable),
                         title, MessageBox::Icon::Question, MessageBox::Buttons::YesNo);
    if (answer != MessageBox::Result::Yes)
        return false;
    QString keptAs, error;
    if (!db.restoreFromBackup(&keptAs, &error)) {
        MessageBox::show(QStringLiteral("The backup could not be restored: %1.\r\nBoth files are kept as they are.")
                             .arg(error),
                         title, MessageBox::Icon::Critical);
        return false;
    }
    return true;
}

bool compactAtStart(RuleDatabase &db)
{
    db.CloseRuleDatabase();
    QString error;
    QFutureWatcher<bool> watcher;
    QEventLoop wait;
    QObject::connect(&watcher, &QFutureWatcher<bool>::finished, &wait, &QEventLoop::quit);
    // A future that is done already is still told as finished, once the
    // loop runs.
    watcher.setFuture(QtConcurrent::run([&db, &error] { return db.compactClosed(&error); }));
    wait.exec(QEventLoop::ExcludeUserInputEvents);
    const bool ok = watcher.result();
    if (!ok)
        MessageBox::show(error, QStringLiteral("Error"), MessageBox::Icon::Critical);
    return ok;
}
