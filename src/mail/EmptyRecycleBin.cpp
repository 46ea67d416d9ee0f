#include "MailOperations.h"

#include "CancelFlag.h"
#include "MessageRows.h"
#include "RunStatus.h"

#include <QStringList>
#include <algorithm>
#include <exception>
#include <utility>

namespace {

enum class RowState { Untouched, Deleted, Refused, Changed };

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
    Deletion(RunStatus &status, MessageRows &recycle, CancelFlag &cancel)
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
        MessageKey key;
    };
    QList<Step> confirmedSteps(const QList<LocatedMessage> &found);
    void removed(const Step &step, RemovalAnswer answer);
    MailResult locate(MailboxSession &mailbox, QList<LocatedMessage> &found) const;
    bool removeAndCommit(MailboxSession &mailbox, const DeletionJournal &journal, MailResult &failure);
    bool recordAhead(const QList<Step> &plan, const DeletionJournal &journal, MailResult &failure) const;
    void settleAhead(const QList<Step> &plan, const DeletionJournal &journal) const;
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
    // removed on, the list is rebuilt in its original order, without the
    // rows a mailbox that removes at once has removed already.
    void restore()
    {
        while (m_recycle.count() > m_lowestVisited)
            m_recycle.removeAt(m_recycle.count() - 1);
        for (int r = m_lowestVisited; r < m_total; ++r)
            if (!m_atOnce || m_states.at(r) != RowState::Deleted)
                m_recycle.append(m_original.at(r));
        nodeText();
    }

    RunStatus &m_status;
    MessageRows &m_recycle;
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
    bool m_atOnce = false; // each removal acted when the server accepted it
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
// leaves the positions of those still to come); `found` is in that order.
QList<Deletion::Step> Deletion::confirmedSteps(const QList<LocatedMessage> &found)
{
    QList<Step> plan;
    for (int i = 0; i < found.size(); ++i) {
        const int row = m_total - 1 - i;
        if (found.at(i).state == LocatedMessage::State::Changed)
            markChanged(row);
        else if (found.at(i).state == LocatedMessage::State::Found)
            plan.append({row, found.at(i).key});
    }
    std::sort(plan.begin(), plan.end(), [](const Step &a, const Step &b) { return a.row > b.row; });
    return plan;
}

void Deletion::removed(const Step &step, RemovalAnswer answer)
{
    m_lowestVisited = qMin(m_lowestVisited, step.row);
    if (answer == RemovalAnswer::Gone) {
        markChanged(step.row); // another client was first: nothing of ours left
        return;
    }
    if (answer == RemovalAnswer::Removed) {
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
        m_states[step.row] = RowState::Refused;
        ++m_refused;
    }
    m_status.setProgressValue(++m_processed);
}

// Each row found again and confirmed, from the last row to the first. Rows
// of the session that fetched them carry its keys; the mailbox confirms
// them all the same.
MailResult Deletion::locate(MailboxSession &mailbox, QList<LocatedMessage> &found) const
{
    QList<MessageIdentity> identities;
    identities.reserve(m_total);
    for (int r = m_total - 1; r >= 0; --r) {
        const MessageEntry &e = m_original.at(r);
        identities.append({e.key, e.number, e.uid, e.identityDigest()});
    }
    return mailbox.locate(identities, found);
}

// For a mailbox whose removals act at once, the rows are recorded as
// pending before the first goes out; false (nothing sent) when they cannot be.
bool Deletion::recordAhead(const QList<Step> &plan, const DeletionJournal &journal, MailResult &failure) const
{
    if (!journal.pending)
        return true;
    QList<MessageEntry> rows;
    rows.reserve(plan.size());
    for (const Step &step : plan)
        rows.append(m_original.at(step.row));
    if (journal.describe)
        journal.describe(m_action);
    if (QString error; !journal.pending(rows, &error)) {
        failure = MailResult::failure(MailOutcome::Failed, QStringLiteral("Error"),
                                      QStringLiteral("The removals could not be recorded in the deletion history, "
                                                     "so nothing was asked of the server.\r\n")
                                          + error);
        return false;
    }
    return true;
}

// Settles what recordAhead() wrote by each row's answer; a row whose answer
// never came stays pending ("unconfirmed").
void Deletion::settleAhead(const QList<Step> &plan, const DeletionJournal &journal) const
{
    if (!journal.pending || !journal.settleEach)
        return;
    QList<std::optional<bool>> outcomes;
    outcomes.reserve(plan.size());
    for (const Step &step : plan) {
        const RowState state = m_states.at(step.row);
        outcomes.append(state == RowState::Untouched ? std::nullopt : std::optional<bool>(state == RowState::Deleted));
    }
    journal.settleEach(outcomes);
}

// Confirms, removes and commits. False, with the reason in `failure`,
// whenever the session did not end so that the server confirmed what it
// carries out: the rows must then be put back (all but those a mailbox that
// removes at once has removed).
bool Deletion::removeAndCommit(MailboxSession &mailbox, const DeletionJournal &journal, MailResult &failure)
{
    m_atOnce = mailbox.removesAtOnce();
    m_action = mailbox.removalAction(); // what it would do, for the texts
    QList<LocatedMessage> found;
    MailResult done = locate(mailbox, found);
    const QList<Step> plan = confirmedSteps(found);
    if (done.ok() && !plan.isEmpty()) {
        QList<MessageKey> planned;
        planned.reserve(plan.size());
        for (const Step &step : plan)
            planned.append(step.key);
        // What it will do, now that the folder is found, for the progress
        // and the records.
        m_action = mailbox.removalAction();
        if (m_atOnce && !recordAhead(plan, journal, failure))
            return false;
        mailbox.commitAfterRemoving();
        // The first wait for an answer comes after the removals went out.
        const QMetaObject::Connection waiting = QObject::connect(&mailbox, &MailboxSession::aboutToWait,
                                                                 [this] { runMeanwhile(); });
        done = mailbox.remove(planned,
                              [this, &plan](qsizetype i, RemovalAnswer answer) { removed(plan.at(i), answer); });
        QObject::disconnect(waiting);
        if (m_atOnce)
            settleAhead(plan, journal);
        if (done.ok())
            m_note = done.text;
    }
    if (!done.ok() && done.kind != MailOutcome::Cancelled) {
        // After a Cancel, a server too slow to answer is no connection
        // failure; a setting to put right stays one.
        if (done.kind != MailOutcome::NotConfigured)
            done.kind = m_cancel.isSet() ? MailOutcome::Cancelled : MailOutcome::ConnectionFailed;
        failure = std::move(done);
        return false;
    }
    if (m_atOnce) {
        // Every removal acted already; the end only logs out.
        (void)mailbox.commit();
        return true;
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
        if (!failure.hasMessage())
            return failure;
        if (m_atOnce && m_deleted > 0)
            failure.text += QStringLiteral("\r\n%1 %2 before that; the others are back in the Recycle Bin.")
                                .arg(m_deleted == 1 ? QStringLiteral("1 message was")
                                                    : QStringLiteral("%1 messages were").arg(m_deleted))
                                .arg(done());
        else if (m_unconfirmed)
            failure.text += QStringLiteral("\r\nThe messages are back in the Recycle Bin.");
        else
            failure.text += m_action.isEmpty() ? QStringLiteral("\r\nNothing was deleted; the messages are back in "
                                                                "the Recycle Bin.")
                                               : QStringLiteral("\r\nNothing was moved; the messages are back in "
                                                                "the Recycle Bin.");
        return failure;
    }
    const MailOutcome kind = m_cancel.isSet() ? MailOutcome::Cancelled : MailOutcome::Done;
    if (m_refused + m_changed == 0)
        return {kind, m_note.isEmpty() ? QString() : QStringLiteral("Empty Recycle Bin"), m_note, {}};
    // Only a refusal is an error: a message that changed on the server
    // meanwhile (another program took it) is news, and stays.
    const int left = m_refused + m_changed;
    return {kind,
            m_refused > 0 ? QStringLiteral("Error") : QStringLiteral("Empty Recycle Bin"),
            QStringLiteral("%1 of %2 messages could not be %3 on the server (refused, or changed since the "
                           "fetch); %4 in the Recycle Bin.")
                    .arg(left)
                    .arg(m_total)
                    .arg(done(), left == 1 ? QStringLiteral("it stays") : QStringLiteral("they stay"))
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
        ended = removeAndCommit(mailbox, journal, failure);
    } catch (const std::exception &e) {
        failure = MailResult::failure(MailOutcome::Failed, QStringLiteral("Error"), QString::fromLocal8Bit(e.what()));
    }
    runMeanwhile(); // before restore() changes the list
    // The server carries out removals only when the session ends well,
    // unless each acted as the server accepted it.
    if (!ended)
        restore();
    const bool removedSome = ended || (m_atOnce && m_deleted > 0);
    if (removedSome)
        result.deleted = rowsIn(RowState::Deleted);
    result.changed = removedSome ? m_changed : 0;
    result.notDeleted = m_recycle.count();
    mailbox.close();
    m_status.setStatusText(removedSome ? summary(m_cancel.isSet(), m_deleted, m_changed, m_refused, done())
                                       : QString());
    result.action = m_action;
    m_status.setProgressValue(0);
    result.result = ending(ended, std::move(failure));
    return result;
}

} // namespace

DeletionResult EmptyRecycleBin(RunStatus &status, MessageRows &recycle, MailboxSession &mailbox, CancelFlag &cancel,
                               const DeletionJournal &journal)
{
    return Deletion(status, recycle, cancel).run(mailbox, journal);
}

DeletionResult EmptyRecycleBin(RunStatus &status, MessageRows &recycle, const ProfileSettingsRecord &settings,
                               CancelFlag &cancel, SessionOptions options, const DeletionJournal &journal)
{
    const auto mailbox = mailboxFor(status, settings, cancel, std::move(options));
    return EmptyRecycleBin(status, recycle, *mailbox, cancel, journal);
}

DeletionResult EmptyRecycleBinInSession(RunStatus &status, MessageRows &recycle, MailboxSession &mailbox,
                                        CancelFlag &cancel, const DeletionJournal &journal,
                                        std::function<void()> meanwhile)
{
    Deletion deletion(status, recycle, cancel);
    deletion.setMeanwhile(std::move(meanwhile));
    return deletion.run(mailbox, journal, true);
}
