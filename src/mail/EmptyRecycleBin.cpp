#include "MailOperations.h"

#include "CommandPipeline.h"

#include "Global.h"
#include "MessageBox.h"
#include "MessageFolderModel.h"
#include "Pop3Parsers.h"
#include "RunStatus.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QStringList>
#include <exception>
#include <optional>

namespace {

enum class RowState { Untouched, Deleted, Gone };

// What the deletion does with one Recycle Bin row, decided before any DELE.
struct Step {
    enum class Kind { Delete, Gone };
    Kind kind;
    int row;
    qint32 number = 0; // for Delete: the message's number in this session
};

bool sameHeader(const MessageEntry &entry, const QString &headers)
{
    return headers.startsWith(QLatin1String("+OK"))
        && GetHeaderValue(headers, QStringLiteral("From:")) == entry.sender
        && GetHeaderValue(headers, QStringLiteral("Subject:")) == entry.subject
        && GetHeaderValue(headers, QStringLiteral("Date:")) == entry.date;
}

QString deleCommand(qint32 number)
{
    return QStringLiteral("DELE %1").arg(number);
}

QString summary(bool cancelled, int deleted, int gone, int notDeleted)
{
    QStringList parts{deleted == 1 ? QStringLiteral("1 message deleted")
                                   : QStringLiteral("%1 messages deleted").arg(deleted)};
    if (gone > 0)
        parts << QStringLiteral("%1 already gone from the server").arg(gone);
    if (notDeleted > 0)
        parts << QStringLiteral("%1 could not be deleted").arg(notDeleted);
    return (cancelled ? QStringLiteral("Empty Recycle Bin cancelled: ") : QStringLiteral("Empty Recycle Bin: "))
        + parts.join(QStringLiteral(", "));
}

} // namespace

DeletionResult EmptyRecycleBin(RunStatus &status, MessageFolderModel &recycle,
                               const Global::ProfileSettingsRecord &settings, Global::CancelFlag &cancel,
                               SessionOptions options)
{
    const qint32 total = recycle.count();
    qint32 deleted = 0;
    qint32 gone = 0;
    qint32 processed = 0;
    qint32 notDeleted = 0;

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
        // Rows from the lowest visited position on are either untouched (still
        // listed, in order) or deleted in this session; rebuild that tail in
        // its original order without the messages that are really gone.
        while (recycle.count() > lowestVisited)
            recycle.removeAt(recycle.count() - 1);
        for (int r = lowestVisited; r < total; ++r)
            if (states.at(r) != RowState::Gone)
                recycle.append(original.at(r));
        nodeText();
    };

    DeletionResult result;
    Pop3Session session(status, settings, cancel, options);
    bool sessionFailed = false;
    bool unconfirmed = false; // QUIT answered, but not "+OK"
    QString failureNote;
    try {
        if (session.ConnectServer() != Pop3Session::kConnected || session.LoginServer() != 1) {
            if (session.lastOutcome() == Pop3Session::Outcome::Failed)
                session.showFailure();
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

        // First which message on the server each row is. A row whose id the
        // listing gives one message is that message; a row whose id is listed
        // for several, or that has no id, is the one message among the
        // candidates whose header still reads as fetched, or none.
        bool haveUids = false;
        for (const MessageEntry &e : original)
            haveUids = haveUids || !e.uid.isEmpty();
        QHash<QString, QList<qint32>> numbersById;
        bool uidsKnown = false;
        Pop3Session::Outcome outcome = Pop3Session::Outcome::Reply;
        if (haveUids) {
            outcome = session.command(QStringLiteral("UIDL"), Pop3Session::kListingReply);
            if (outcome == Pop3Session::Outcome::Reply) {
                if (const auto pairs = ParseUidl(session.ServerReply)) {
                    uidsKnown = true;
                    for (const auto &[number, uid] : *pairs)
                        numbersById[uid].append(number);
                }
            }
        }

        // The candidates of each row, from the last row to the first; those
        // that need their header read again are asked with TOP (ahead of the
        // replies, with PIPELINING) in that order.
        struct Resolving {
            int row;
            QList<qint32> candidates;
            bool check; // the header decides
            int matches = 0;
            qint32 number = 0;
        };
        QList<Resolving> rows;
        QList<QPair<qsizetype, qint32>> checks; // (index in rows, candidate)
        for (int r = total - 1; r >= 0; --r) {
            const MessageEntry &entry = original.at(r);
            const bool byId = uidsKnown && !entry.uid.isEmpty();
            Resolving resolving{r, byId ? numbersById.value(entry.uid) : QList<qint32>{entry.number}, false};
            resolving.check = !byId || resolving.candidates.size() > 1;
            if (resolving.check)
                for (const qint32 candidate : resolving.candidates)
                    checks.append({rows.size(), candidate});
            else if (!resolving.candidates.isEmpty())
                resolving.number = resolving.candidates.first();
            rows.append(resolving);
        }
        const bool pipelining = session.hasCapability(QStringLiteral("PIPELINING"));
        std::optional<CommandPipeline> checking;
        if (pipelining && outcome == Pop3Session::Outcome::Reply) {
            checking.emplace(session, [&checks, next = qsizetype(0)]() mutable
                             -> std::optional<CommandPipeline::Command> {
                if (next >= checks.size())
                    return std::nullopt;
                return CommandPipeline::Command{QStringLiteral("TOP %1 0").arg(checks.at(next++).second),
                                                Pop3Session::kMultiLineReply};
            });
        }
        for (const auto &[index, candidate] : checks) {
            if (outcome != Pop3Session::Outcome::Reply)
                break;
            outcome = checking ? checking->next()
                               : session.command(QStringLiteral("TOP %1 0").arg(candidate), Pop3Session::kMultiLineReply);
            if (outcome != Pop3Session::Outcome::Reply)
                break;
            Resolving &resolving = rows[index];
            if (sameHeader(original.at(resolving.row), session.ServerReply)) {
                ++resolving.matches;
                resolving.number = candidate;
            }
        }
        // A Cancel here sends no DELE; TOP replies still owed are read first.
        if (checking && outcome == Pop3Session::Outcome::Cancelled && checking->drain() == Pop3Session::Outcome::Failed)
            outcome = Pop3Session::Outcome::Failed;

        QList<Step> plan;
        QSet<qint32> claimed;
        for (const Resolving &resolving : rows) {
            if (outcome != Pop3Session::Outcome::Reply)
                break;
            if (resolving.candidates.isEmpty()) {
                plan.append({Step::Kind::Gone, resolving.row}); // removed by another program since the fetch
                continue;
            }
            const qint32 number = resolving.check && resolving.matches != 1 ? 0 : resolving.number;
            if (number == 0 || claimed.contains(number)) {
                ++notDeleted;
                status.setProgressValue(++processed);
                continue;
            }
            claimed.insert(number);
            plan.append({Step::Kind::Delete, resolving.row, number});
        }

        // With PIPELINING the DELE commands go out ahead of their replies, in
        // the order of the plan.
        std::optional<CommandPipeline> pipeline;
        if (outcome == Pop3Session::Outcome::Reply && pipelining) {
            pipeline.emplace(session, [&plan, next = qsizetype(0)]() mutable
                             -> std::optional<CommandPipeline::Command> {
                while (next < plan.size()) {
                    const Step &step = plan.at(next++);
                    if (step.kind == Step::Kind::Delete)
                        return CommandPipeline::Command{deleCommand(step.number), Pop3Session::kSingleReply};
                }
                return std::nullopt;
            });
        }

        for (const Step &step : plan) {
            if (outcome != Pop3Session::Outcome::Reply)
                break;
            if (step.kind == Step::Kind::Gone) {
                lowestVisited = step.row;
                recycle.removeAt(step.row);
                states[step.row] = RowState::Gone;
                ++gone;
                nodeText();
                status.setProgressValue(++processed);
                continue;
            }
            if (pipeline) {
                if (pipeline->stopped() && pipeline->owed() == 0)
                    break; // cancelled: no DELE went out for this row
                outcome = pipeline->next();
                // Cancelled while this DELE was on its way: the server acts on
                // it at QUIT, so its answer still decides the row. Nothing
                // further is sent.
                if (outcome == Pop3Session::Outcome::Cancelled)
                    outcome = pipeline->next();
            } else {
                // Once sent, a DELE's answer is awaited even after Cancel.
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
                ++notDeleted;
            }
            status.setProgressValue(++processed);
        }

        if (outcome == Pop3Session::Outcome::Failed) {
            sessionFailed = true;
            result.outcome = MailOutcome::ConnectionFailed;
        } else if (session.QuitServer() != Pop3Session::Outcome::Reply) {
            sessionFailed = true;
            result.outcome = session.lastOutcome() == Pop3Session::Outcome::Cancelled ? MailOutcome::Cancelled
                                                                                     : MailOutcome::ConnectionFailed;
        } else if (deleted > 0 && !session.ServerReply.startsWith(QLatin1String("+OK"))) {
            result.outcome = MailOutcome::ConnectionFailed;
            // The server may have removed some, all or none: it did not say.
            sessionFailed = true;
            unconfirmed = true;
            failureNote = QStringLiteral("The server did not confirm the deletions.\r\nThe server said: ")
                + session.ServerReply.trimmed().left(200);
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
    result.gone = gone;
    result.notDeleted = recycle.count();
    session.CloseServer();
    status.setStatusText(sessionFailed ? QString() : summary(cancel.isSet(), deleted, gone, notDeleted));
    status.setProgressValue(0);
    if (sessionFailed) {
        const QString nothing = unconfirmed ? QStringLiteral("The messages are back in the Recycle Bin.")
                                            : QStringLiteral("Nothing was deleted; the messages are back in the "
                                                             "Recycle Bin.");
        if (!failureNote.isEmpty())
            MessageBox::show(failureNote + QStringLiteral("\r\n") + nothing, QStringLiteral("Error"),
                             MessageBox::Icon::Critical);
        else
            session.showFailure(nothing);
    } else if (notDeleted > 0) {
        MessageBox::show(QStringLiteral("%1 of %2 messages could not be deleted on the server "
                                        "(refused, or changed since the fetch); they stay in the Recycle Bin.")
                             .arg(notDeleted)
                             .arg(total),
                         QStringLiteral("Error"), MessageBox::Icon::Critical);
    }
    return result;
}
