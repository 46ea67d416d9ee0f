#include "MailOperations.h"

#include "DeletionHistory.h"

#include <QDateTime>
#include <memory>
#include <optional>

DeletionJournal historyJournal(RuleDatabase &rules, const QString &profile,
                               std::function<void(const QString &error)> trouble)
{
    auto batch = std::make_shared<std::optional<DeletionHistory::Batch>>();
    auto action = std::make_shared<QString>();
    DeletionJournal journal;
    journal.describe = [action](const QString &done) { *action = done; };
    journal.pending = [&rules, profile, batch, action](const QList<MessageEntry> &rows, QString *error) {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QList<DeletionRecord> records;
        records.reserve(rows.size());
        for (const MessageEntry &entry : rows) {
            records.append(DeletionRecord::from(profile, entry, now));
            records.last().action = *action;
        }
        *batch = DeletionHistory(rules).recordPending(records, error);
        return batch->has_value();
    };
    journal.settle = [&rules, batch, trouble](bool carriedOut) {
        QString error;
        if (*batch && !DeletionHistory(rules).settle(**batch, carriedOut, &error) && trouble)
            trouble(error);
    };
    journal.settleEach = [&rules, batch, trouble](const QList<std::optional<bool>> &carriedOut) {
        QString error;
        if (*batch && !DeletionHistory(rules).settleEach(**batch, carriedOut, &error) && trouble)
            trouble(error);
    };
    return journal;
}
