#include "MailOperations.h"

#include "CancelFlag.h"
#include "MessageFolderModel.h"
#include "RunStatus.h"

#include <QStringList>
#include <algorithm>
#include <exception>
#include <utility>

namespace {

enum class RowState { Untouched, Deleted, Changed };

// `done` is what became of the messages: "deleted", or "moved to Junk".
QString summary(bool cancelled, int deleted, int changed, int refused, const QString &done)
{
    QStringList parts{deleted == 1 ? QStringLiteral("1 message ") + done
                                   : QStringLiteral("%1 messages %2").arg(deleted).arg(done)};
    if (changed > 0)
        parts << QStringLiteral("%1 changed on the server, not %2").arg(changed).arg(done);
    if (refused > 0)
        parts << QStringLiteral("%1 could not be %2").arg(refused).arg(done);
    return (cancelled ? QStringLiteral("Empty Recycle Bin cancelled: ") : QStringLiteral("Empty Recycle Bin: "))
        + parts.join(QStringLiteral(", "));
}

// One emptying of the Recycle Bin: the rows as they were, what became of
// each, and the counts the end reports.
class Deletion {
public:
    Deletion(RunStatus &status, MessageFolderModel &recycle, CancelFlag &cancel)
        : m_status(status)
        , m_recycle(recycle)
        , m_cancel(cancel)
        , m_total(recycle.count())
        , m_states(m_total, RowState::Untouched)
        , m_lowestVisited(m_total)
    {
        // What the list held at the start, so that rows can be put back when
        // the server never confirms the session's deletions.
        m_original.reserve(m_total);
        for (int r = 0; r < m_total; ++r)
            m_original.append(recycle.entry(r));
    }

    // With `inSession` the mailbox is open already, in the session that
    // fetched the rows: their numbers are its own.
    DeletionResult run(MailboxSession &mailbox, const DeletionJournal &journal, bool inSession = false);
    // Work that needs the list as it was, done while the server answers the
    // removals rather than before they go out; it runs once, at the latest
    // before the list first changes.
    void setMeanwhile(std::function<void()> meanwhile) { m_meanwhile = std::move(meanwhile); }

private:
    struct Step {
        int row;
        qint32 number;
    };
    QList<Step> confirmedSteps(const QList<qint32> &numbers);
    void removed(const Step &step, bool accepted);
    MailResult locate(MailboxSession &mailbox, bool inSession, QList<qint32> &numbers) const;
    bool removeAndCommit(MailboxSession &mailbox, const DeletionJournal &journal, bool inSession, MailResult &failure);
    MailResult ending(bool ended, MailResult failure) const;
    QList<MessageEntry> rowsIn(RowState state) const;
    void markChanged(int row)
    {
        m_states[row] = RowState::Changed;
        ++m_changed;
        m_status.setProgressValue(++m_processed);
    }
    void nodeText()
    {
        m_status.setNodeText(QStringLiteral("Recycle Bin"), QStringLiteral("Recycle Bin (%1)").arg(m_recycle.count()));
    }
    // Rows are only removed, from the last to the first: from the lowest one
    // removed on, the list is rebuilt in its original order.
    void restore()
    {
        while (m_recycle.count() > m_lowestVisited)
            m_recycle.removeAt(m_recycle.count() - 1);
        for (int r = m_lowestVisited; r < m_total; ++r)
            m_recycle.append(m_original.at(r));
        nodeText();
    }

    RunStatus &m_status;
    MessageFolderModel &m_recycle;
    CancelFlag &m_cancel;
    const int m_total;
    QList<MessageEntry> m_original;
    QList<RowState> m_states;
    int m_lowestVisited;
    int m_deleted = 0;
    int m_changed = 0;
    int m_refused = 0;
    int m_processed = 0;
    bool m_unconfirmed = false; // the commit was asked, but not confirmed
    QString m_action; // what the removal did instead of deleting; empty: deleted
    QString m_note; // what the removal wants the user to know
    std::function<void()> m_meanwhile;
    QString done() const { return m_action.isEmpty() ? QStringLiteral("deleted") : m_action; }
    void runMeanwhile()
    {
        if (const auto meanwhile = std::exchange(m_meanwhile, {}))
            meanwhile();
    }
};

QList<MessageEntry> Deletion::rowsIn(RowState state) const
{
    QList<MessageEntry> rows;
    for (int r = m_total - 1; r >= 0; --r)
        if (m_states.at(r) == state)
            rows.append(m_original.at(r));
    return rows;
}

// The removals, from the last row to the first (so that removing a row
// leaves the positions of those still to come); `numbers` is in that order.
QList<Deletion::Step> Deletion::confirmedSteps(const QList<qint32> &numbers)
{
    QList<Step> plan;
    for (int i = 0; i < numbers.size(); ++i) {
        const int row = m_total - 1 - i;
        if (numbers.at(i) == 0)
            markChanged(row);
        else if (numbers.at(i) > 0)
            plan.append({row, numbers.at(i)});
    }
    std::sort(plan.begin(), plan.end(), [](const Step &a, const Step &b) { return a.row > b.row; });
    return plan;
}

void Deletion::removed(const Step &step, bool accepted)
{
    m_lowestVisited = step.row;
    if (accepted) {
        runMeanwhile();
        m_recycle.removeAt(step.row);
        m_states[step.row] = RowState::Deleted;
        nodeText();
        ++m_deleted;
        m_status.setStatusText(
            (m_action.isEmpty() ? QStringLiteral("Deleted %1 of %2") : QStringLiteral("Moved %1 of %2"))
                .arg(m_deleted)
                .arg(m_total));
    } else {
        ++m_refused;
    }
    m_status.setProgressValue(++m_processed);
}

// The number to remove each row by, from the last row to the first: in the
// session that fetched them their own, otherwise as the mailbox finds and
// confirms them.
MailResult Deletion::locate(MailboxSession &mailbox, bool inSession, QList<qint32> &numbers) const
{
    QList<MessageIdentity> identities;
    identities.reserve(m_total);
    numbers.clear();
    numbers.reserve(m_total);
    for (int r = m_total - 1; r >= 0; --r) {
        const MessageEntry &e = m_original.at(r);
        if (inSession)
            numbers.append(qMax(e.number, 0));
        else
            identities.append({e.number, e.uid, e.identityDigest()});
    }
    return inSession ? MailResult::done() : mailbox.locate(identities, numbers);
}

// Confirms, removes and commits. False, with the reason in `failure`,
// whenever the session did not end so that the server confirmed what it
// carries out: the rows must then be put back.
bool Deletion::removeAndCommit(MailboxSession &mailbox, const DeletionJournal &journal, bool inSession,
                               MailResult &failure)
{
    QList<qint32> numbers;
    MailResult done = locate(mailbox, inSession, numbers);
    const QList<Step> plan = confirmedSteps(numbers);
    if (done.ok() && !plan.isEmpty()) {
        QList<qint32> planned;
        planned.reserve(plan.size());
        for (const Step &step : plan)
            planned.append(step.number);
        // What it will do, for the progress; once done, with the folder it found.
        m_action = mailbox.removalAction();
        mailbox.commitAfterRemoving();
        // The first wait for an answer comes after the removals went out.
        const QMetaObject::Connection waiting = QObject::connect(&mailbox, &MailboxSession::aboutToWait,
                                                                 [this] { runMeanwhile(); });
        done = mailbox.remove(planned, [this, &plan](qsizetype i, bool accepted) { removed(plan.at(i), accepted); });
        QObject::disconnect(waiting);
        m_action = mailbox.removalAction();
        if (done.ok())
            m_note = done.text;
    }
    if (!done.ok() && done.kind != MailOutcome::Cancelled) {
        // After a Cancel, a server too slow to answer is no connection failure.
        done.kind = m_cancel.isSet() ? MailOutcome::Cancelled : MailOutcome::ConnectionFailed;
        failure = std::move(done);
        return false;
    }
    const QList<MessageEntry> accepted = rowsIn(RowState::Deleted);
    if (!accepted.isEmpty() && journal.describe)
        journal.describe(m_action);
    if (QString error; !accepted.isEmpty() && journal.pending && !journal.pending(accepted, &error)) {
        failure = MailResult::failure(MailOutcome::Failed, QStringLiteral("Error"),
                                      QStringLiteral("The deletions could not be recorded in the deletion history, "
                                                     "so the connection was closed without letting the server act "
                                                     "on this session.\r\n")
                                          + error);
        return false;
    }
    // Entries are settled only when the commit says what became of them;
    // otherwise they stay pending ("deleted, unconfirmed").
    MailResult committed = mailbox.commit();
    if (committed.ok()) {
        if (!accepted.isEmpty() && journal.pending && journal.settle)
            journal.settle(true);
        return true;
    }
    m_unconfirmed = m_deleted > 0; // the commit may have reached the server
    if (committed.kind != MailOutcome::Cancelled)
        committed.kind = MailOutcome::ConnectionFailed;
    failure = std::move(committed);
    return false;
}

// How the run ended, with the text its end shows: why the rows are back, or
// how many could not be deleted.
MailResult Deletion::ending(bool ended, MailResult failure) const
{
    if (!ended) {
        if (failure.hasMessage())
            failure.text += m_unconfirmed ? QStringLiteral("\r\nThe messages are back in the Recycle Bin.")
                                          : QStringLiteral("\r\nNothing was deleted; the messages are back in the "
                                                           "Recycle Bin.");
        return failure;
    }
    const MailOutcome kind = m_cancel.isSet() ? MailOutcome::Cancelled : MailOutcome::Done;
    if (m_refused + m_changed == 0)
        return {kind, m_note.isEmpty() ? QString() : QStringLiteral("Empty Recycle Bin"), m_note, {}};
    return {kind,
            QStringLiteral("Error"),
            QStringLiteral("%1 of %2 messages could not be %3 on the server (refused, or changed since the "
                           "fetch); they stay in the Recycle Bin.")
                    .arg(m_refused + m_changed)
                    .arg(m_total)
                    .arg(done())
                + (m_note.isEmpty() ? QString() : QStringLiteral("\r\n") + m_note),
            {}};
}

DeletionResult Deletion::run(MailboxSession &mailbox, const DeletionJournal &journal, bool inSession)
{
    DeletionResult result;
    bool ended = false;
    MailResult failure;
    try {
        if (MailResult opened = inSession ? MailResult::done() : mailbox.open(); !opened.ok()) {
            mailbox.close();
            m_status.setStatusText(QString());
            m_status.setProgressValue(0);
            if (m_cancel.isSet())
                opened.kind = MailOutcome::Cancelled;
            result.result = std::move(opened);
            result.notDeleted = m_recycle.count();
            return result;
        }
        m_status.setProgressMaximum(m_total);
        ended = removeAndCommit(mailbox, journal, inSession, failure);
    } catch (const std::exception &e) {
        failure = MailResult::failure(MailOutcome::Failed, QStringLiteral("Error"), QString::fromLocal8Bit(e.what()));
    }
    runMeanwhile(); // before restore() changes the list
    // The server carries out removals only when the session ends well.
    if (!ended)
        restore();
    else
        result.deleted = rowsIn(RowState::Deleted);
    result.changed = ended ? m_changed : 0;
    result.notDeleted = m_recycle.count();
    mailbox.close();
    m_status.setStatusText(ended ? summary(m_cancel.isSet(), m_deleted, m_changed, m_refused, done()) : QString());
    result.action = m_action;
    m_status.setProgressValue(0);
    result.result = ending(ended, std::move(failure));
    return result;
}

} // namespace

DeletionResult EmptyRecycleBin(RunStatus &status, MessageFolderModel &recycle, MailboxSession &mailbox,
                               CancelFlag &cancel, const DeletionJournal &journal)
{
    return Deletion(status, recycle, cancel).run(mailbox, journal);
}

DeletionResult EmptyRecycleBin(RunStatus &status, MessageFolderModel &recycle, const ProfileSettingsRecord &settings,
                               CancelFlag &cancel, SessionOptions options, const DeletionJournal &journal)
{
    const auto mailbox = mailboxFor(status, settings, cancel, std::move(options));
    return EmptyRecycleBin(status, recycle, *mailbox, cancel, journal);
}

DeletionResult EmptyRecycleBinInSession(RunStatus &status, MessageFolderModel &recycle, MailboxSession &mailbox,
                                        CancelFlag &cancel, const DeletionJournal &journal,
                                        std::function<void()> meanwhile)
{
    Deletion deletion(status, recycle, cancel);
    deletion.setMeanwhile(std::move(meanwhile));
    return deletion.run(mailbox, journal, true);
}
