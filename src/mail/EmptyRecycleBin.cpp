#include "MailOperations.h"

#include "CommandPipeline.h"

#include "DeletionHistory.h"
#include "Global.h"
#include "HeaderDigest.h"
#include "MessageBox.h"
#include "MessageFolderModel.h"
#include "Pop3Parsers.h"
#include "RunStatus.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QQueue>
#include <QSet>
#include <QStringList>
#include <algorithm>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>

namespace {

enum class RowState { Untouched, Deleted, Changed };

// The deletion's UIDL listing. A number listed more than once is no
// identity: no id of it counts, for it or for any row.
struct Listing {
    QHash<qint32, QString> idAt;             // numbers listed once
    QHash<QString, QList<qint32>> numbersOf; // over those numbers only
};

Listing listingOf(const QList<QPair<qint32, QString>> &pairs)
{
    QHash<qint32, int> times;
    for (const auto &pair : pairs)
        ++times[pair.first];
    Listing listing;
    for (const auto &[number, id] : pairs) {
        if (times.value(number) != 1)
            continue;
        listing.idAt.insert(number, id);
        listing.numbersOf[id].append(number);
    }
    return listing;
}

// The number a row's message should be at now, whose header then decides;
// 0 when the row cannot be confirmed at all.
qint32 resolve(const MessageEntry &entry, const std::optional<Listing> &listing)
{
    if (entry.digest.isEmpty() || entry.number <= 0)
        return 0; // its header was never read: nothing to confirm it by
    if (!listing || entry.uid.isEmpty())
        return entry.number;
    const QList<qint32> numbers = listing->numbersOf.value(entry.uid);
    if (numbers.size() == 1)
        return numbers.first();
    if (numbers.size() > 1)
        return 0; // the id names several messages
    // Missing from the listing is no proof that it is gone: the header at
    // its old number decides, unless the listing gives that number another id.
    return listing->idAt.contains(entry.number) ? 0 : entry.number;
}

// A number whose header is read, and the rows that resolve to it (more than
// one only when ids or numbers collide; the header must then single out one).
struct Target {
    qint32 number;
    QList<int> rows;
};

// A DELE of the plan: the row and the number confirmed to hold its message.
struct Step {
    int row;
    qint32 number;
};

QString topCommand(qint32 number)
{
    return QStringLiteral("TOP %1 0").arg(number);
}

QString deleCommand(qint32 number)
{
    return QStringLiteral("DELE %1").arg(number);
}

QString summary(bool cancelled, int deleted, int changed, int refused)
{
    QStringList parts{deleted == 1 ? QStringLiteral("1 message deleted")
                                   : QStringLiteral("%1 messages deleted").arg(deleted)};
    if (changed > 0)
        parts << QStringLiteral("%1 changed on the server, not deleted").arg(changed);
    if (refused > 0)
        parts << QStringLiteral("%1 could not be deleted").arg(refused);
    return (cancelled ? QStringLiteral("Empty Recycle Bin cancelled: ") : QStringLiteral("Empty Recycle Bin: "))
        + parts.join(QStringLiteral(", "));
}

} // namespace

DeletionJournal historyJournal(RuleDatabase &rules, const QString &profile,
                               std::function<void(const QString &error)> trouble)
{
    auto batch = std::make_shared<std::optional<DeletionHistory::Batch>>();
    DeletionJournal journal;
    journal.pending = [&rules, profile, batch](const QList<MessageEntry> &rows, QString *error) {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QList<DeletionRecord> records;
        records.reserve(rows.size());
        for (const MessageEntry &entry : rows)
            records.append(DeletionRecord::from(profile, entry, now));
        *batch = DeletionHistory(rules).recordPending(records, error);
        return batch->has_value();
    };
    journal.settle = [&rules, batch, trouble = std::move(trouble)](bool carriedOut) {
        QString error;
        if (*batch && !DeletionHistory(rules).settle(**batch, carriedOut, &error) && trouble)
            trouble(error);
    };
    return journal;
}

DeletionResult EmptyRecycleBin(RunStatus &status, MessageFolderModel &recycle,
                               const ProfileSettingsRecord &settings, CancelFlag &cancel,
                               SessionOptions options, const DeletionJournal &journal)
{
    const qint32 total = recycle.count();
    qint32 deleted = 0;
    qint32 changed = 0;
    qint32 refused = 0;
    qint32 processed = 0;

    // What the list held at the start, so that rows can be put back when the
    // server never confirms the session's deletions.
    QList<MessageEntry> original;
    original.reserve(total);
    for (int r = 0; r < total; ++r)
        original.append(recycle.entry(r));
    QList<RowState> states(total, RowState::Untouched);
    int lowestVisited = total;

    auto nodeText = [&] {
        status.setNodeText(QStringLiteral("Recycle Bin"), QStringLiteral("Recycle Bin (%1)").arg(recycle.count()));
    };
    auto restore = [&] {
        // Rows are only removed, from the last to the first: from the lowest
        // one removed on, the list is rebuilt in its original order.
        while (recycle.count() > lowestVisited)
            recycle.removeAt(recycle.count() - 1);
        for (int r = lowestVisited; r < total; ++r)
            recycle.append(original.at(r));
        nodeText();
    };
    auto markChanged = [&](int row) {
        states[row] = RowState::Changed;
        ++changed;
        status.setProgressValue(++processed);
    };

    DeletionResult result;
    Pop3Session session(status, settings, cancel, options);
    bool sessionFailed = false;
    bool unconfirmed = false; // QUIT sent, but not answered "+OK"
    QString failureNote;
    try {
        MailResult opened = session.ConnectServer();
        if (opened.kind == MailOutcome::Failed)
            throw std::runtime_error(opened.text.toStdString()); // a port that is not a number
        if (opened.ok())
            opened = session.LoginServer();
        if (!opened.ok()) {
            if (opened.hasMessage())
                MessageBox::show(opened.text, opened.title, MessageBox::Icon::Critical);
            session.CloseServer();
            status.setStatusText(QString());
            status.setProgressValue(0);
            result.outcome = session.lastOutcome() == Pop3Session::Outcome::Cancelled || cancel.isSet()
                                 ? MailOutcome::Cancelled
                                 : MailOutcome::ConnectionFailed;
            result.notDeleted = recycle.count();
            return result;
        }
        status.setProgressMaximum(total);

        // Which number each row resolves to now: by its id when the listing
        // gives that id one number, else its number in the fetch; then the
        // header at each of those numbers. Usually a row is still at its
        // number in the fetch, so with PIPELINING the TOPs for those numbers
        // go out with UIDL, ahead of its reply; only the numbers the listing
        // moves rows to are asked once it has come.
        const bool pipelining = session.hasCapability(QStringLiteral("PIPELINING"));
        bool haveUids = false;
        QList<qint32> guesses; // the rows' numbers in the fetch, from the last row to the first
        QSet<qint32> guessed;
        for (int r = total - 1; r >= 0; --r) {
            const MessageEntry &e = original.at(r);
            haveUids = haveUids || !e.uid.isEmpty();
            if (!e.digest.isEmpty() && e.number > 0 && !guessed.contains(e.number)) {
                guessed.insert(e.number);
                guesses.append(e.number);
            }
        }
        std::optional<Listing> listing;
        QList<Target> targets;
        QHash<qint32, qsizetype> targetAt;
        QList<qint32> moved; // numbers of targets that are no row's number in the fetch
        auto planTargets = [&] {
            for (int r = total - 1; r >= 0; --r) {
                const qint32 number = resolve(original.at(r), listing);
                if (number == 0) {
                    markChanged(r);
                    continue;
                }
                const auto found = targetAt.constFind(number);
                if (found == targetAt.constEnd()) {
                    targetAt.insert(number, targets.size());
                    targets.append(Target{number, QList<int>{r}});
                    if (!guessed.contains(number))
                        moved.append(number);
                } else {
                    targets[*found].rows.append(r);
                }
            }
        };
        auto takeListing = [&] {
            if (const auto pairs = ParseUidl(session.ServerReply))
                listing = listingOf(*pairs);
            planTargets();
        };
        QHash<qint32, QByteArray> digestAt; // of the header TOP n gave; empty when refused
        auto takeHeader = [&](qint32 number) {
            digestAt.insert(number, session.ServerReply.startsWith(QLatin1String("+OK"))
                                        ? HeaderDigest::of(HeaderDigest::blockOfReply(session.ServerReply))
                                        : QByteArray());
        };

        Pop3Session::Outcome outcome = Pop3Session::Outcome::Reply;
        if (pipelining) {
            QQueue<qint32> awaited; // what each reply answers: a TOP's number, 0 for UIDL
            bool uidlSent = !haveUids;
            qsizetype nextGuess = 0;
            qsizetype nextMoved = 0;
            if (!haveUids)
                planTargets();
            CommandPipeline reading(session, [&]() -> std::optional<CommandPipeline::Command> {
                if (!uidlSent) {
                    uidlSent = true;
                    awaited.enqueue(0);
                    return CommandPipeline::Command{QStringLiteral("UIDL"), Pop3Session::kListingReply};
                }
                const qint32 number = nextGuess < guesses.size()  ? guesses.at(nextGuess++)
                                      : nextMoved < moved.size() ? moved.at(nextMoved++)
                                                                 : 0;
                if (number == 0)
                    return std::nullopt;
                awaited.enqueue(number);
                return CommandPipeline::Command{topCommand(number), Pop3Session::kMultiLineReply};
            });
            while (!awaited.isEmpty() || !uidlSent || nextGuess < guesses.size() || nextMoved < moved.size()) {
                outcome = reading.next();
                if (outcome != Pop3Session::Outcome::Reply)
                    break;
                if (const qint32 number = awaited.dequeue())
                    takeHeader(number);
                else
                    takeListing();
            }
            // A Cancel here sends no DELE; replies still owed are read first.
            if (outcome == Pop3Session::Outcome::Cancelled && reading.drain() == Pop3Session::Outcome::Failed)
                outcome = Pop3Session::Outcome::Failed;
        } else {
            if (!haveUids)
                planTargets();
            else if ((outcome = session.command(QStringLiteral("UIDL"), Pop3Session::kListingReply))
                     == Pop3Session::Outcome::Reply)
                takeListing();
            // In the order the pipelined TOPs go out, without those not needed.
            QList<qint32> asked;
            for (const qint32 number : std::as_const(guesses))
                if (targetAt.contains(number))
                    asked.append(number);
            asked += moved;
            for (const qint32 number : std::as_const(asked)) {
                if (outcome != Pop3Session::Outcome::Reply)
                    break;
                outcome = session.command(topCommand(number), Pop3Session::kMultiLineReply);
                if (outcome == Pop3Session::Outcome::Reply)
                    takeHeader(number);
            }
        }

        // A row is deleted only when it is the one row of its number whose
        // header digest the message there gives.
        QList<Step> plan;
        for (const Target &target : targets) {
            if (outcome != Pop3Session::Outcome::Reply)
                break;
            const QByteArray digest = digestAt.value(target.number);
            int match = -1;
            int matches = 0;
            for (const int row : target.rows) {
                if (!digest.isEmpty() && original.at(row).digest == digest) {
                    ++matches;
                    match = row;
                }
            }
            for (const int row : target.rows)
                if (matches != 1 || row != match)
                    markChanged(row);
            if (matches == 1)
                plan.append({match, target.number});
        }

        // The DELEs, from the last row to the first (so that removing a row
        // leaves the positions of those still to come), ahead of their
        // replies with PIPELINING.
        std::sort(plan.begin(), plan.end(), [](const Step &a, const Step &b) { return a.row > b.row; });
        std::optional<CommandPipeline> deleting;
        if (outcome == Pop3Session::Outcome::Reply && pipelining && !plan.isEmpty()) {
            deleting.emplace(session, [&plan, next = qsizetype(0)]() mutable
                             -> std::optional<CommandPipeline::Command> {
                if (next >= plan.size())
                    return std::nullopt;
                return CommandPipeline::Command{deleCommand(plan.at(next++).number), Pop3Session::kSingleReply};
            });
        }
        for (const Step &step : plan) {
            if (outcome != Pop3Session::Outcome::Reply)
                break;
            if (deleting) {
                outcome = deleting->next();
                // A Cancel stops the sending. A DELE already written is carried
                // out at QUIT, so its reply is still read (within the cancel
                // grace) and decides the row; a DELE never written was
                // cancelled, and so are all after it. Once stopped, the
                // pipeline's wait is no longer ended by the Cancel.
                if (outcome == Pop3Session::Outcome::Cancelled) {
                    deleting->stop();
                    outcome = deleting->next();
                }
            } else {
                outcome = session.command(deleCommand(step.number), Pop3Session::kSingleReply, false);
            }
            if (outcome != Pop3Session::Outcome::Reply)
                break;
            lowestVisited = step.row;
            if (session.ServerReply.startsWith(QLatin1String("+OK"))) {
                recycle.removeAt(step.row);
                states[step.row] = RowState::Deleted;
                nodeText();
                ++deleted;
                status.setStatusText(QStringLiteral("Deleted %1 of %2").arg(deleted).arg(total));
            } else {
                ++refused;
            }
            status.setProgressValue(++processed);
        }

        // QUIT only once every DELE written has had its reply: the server then
        // removes exactly the rows counted. When the replies could not all be
        // read, the connection closes without QUIT and the server removes none.
        QList<MessageEntry> accepted;
        for (int r = total - 1; r >= 0; --r)
            if (states.at(r) == RowState::Deleted)
                accepted.append(original.at(r));
        if (outcome == Pop3Session::Outcome::Failed || (deleting && deleting->owed() > 0)) {
            sessionFailed = true;
            // After a Cancel, a server too slow to answer is no connection failure.
            result.outcome = cancel.isSet() ? MailOutcome::Cancelled : MailOutcome::ConnectionFailed;
        } else if (QString error; !accepted.isEmpty() && journal.pending && !journal.pending(accepted, &error)) {
            sessionFailed = true;
            result.outcome = MailOutcome::Failed;
            failureNote = QStringLiteral("The deletions could not be recorded in the deletion history, so the "
                                         "connection was closed without letting the server act on this session.\r\n")
                + error;
        } else {
            // Entries are settled only when QUIT's answer says what became
            // of them; otherwise they stay pending ("deleted, unconfirmed").
            const bool journaled = !accepted.isEmpty() && journal.pending;
            if (session.QuitServer() != Pop3Session::Outcome::Reply) {
                sessionFailed = true;
                unconfirmed = deleted > 0; // QUIT may have reached the server
                result.outcome = session.lastOutcome() == Pop3Session::Outcome::Cancelled
                                     ? MailOutcome::Cancelled
                                     : MailOutcome::ConnectionFailed;
            } else if (session.ServerReply.startsWith(QLatin1String("+OK"))) {
                if (journaled && journal.settle)
                    journal.settle(true);
            } else if (deleted > 0) {
                result.outcome = MailOutcome::ConnectionFailed;
                // The server may have removed some, all or none: it did not say.
                sessionFailed = true;
                unconfirmed = true;
                failureNote = QStringLiteral("The server did not confirm the deletions.\r\nThe server said: ")
                    + session.ServerReply.trimmed().left(200);
            }
        }
    } catch (const std::exception &e) {
        sessionFailed = true;
        result.outcome = MailOutcome::Failed;
        failureNote = QString::fromLocal8Bit(e.what());
    }
    // A POP3 server carries out deletions only when it answers QUIT.
    if (sessionFailed) {
        restore();
    } else {
        if (cancel.isSet())
            result.outcome = MailOutcome::Cancelled;
        for (int r = total - 1; r >= 0; --r)
            if (states.at(r) == RowState::Deleted)
                result.deleted.append(original.at(r));
    }
    result.changed = sessionFailed ? 0 : changed;
    result.notDeleted = recycle.count();
    session.CloseServer();
    status.setStatusText(sessionFailed ? QString() : summary(cancel.isSet(), deleted, changed, refused));
    status.setProgressValue(0);
    if (sessionFailed) {
        const QString nothing = unconfirmed ? QStringLiteral("The messages are back in the Recycle Bin.")
                                            : QStringLiteral("Nothing was deleted; the messages are back in the "
                                                             "Recycle Bin.");
        if (!failureNote.isEmpty())
            MessageBox::show(failureNote + QStringLiteral("\r\n") + nothing, QStringLiteral("Error"),
                             MessageBox::Icon::Critical);
        else if (const MailResult r = session.failure(nothing); r.hasMessage())
            MessageBox::show(r.text, r.title, MessageBox::Icon::Critical);
    } else if (refused + changed > 0) {
        MessageBox::show(QStringLiteral("%1 of %2 messages could not be deleted on the server "
                                        "(refused, or changed since the fetch); they stay in the Recycle Bin.")
                             .arg(refused + changed)
                             .arg(total),
                         QStringLiteral("Error"), MessageBox::Icon::Critical);
    }
    return result;
}
