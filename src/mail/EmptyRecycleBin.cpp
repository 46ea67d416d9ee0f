#include "MailOperations.h"

#include "CommandPipeline.h"

#include "Global.h"
#include "MessageBox.h"
#include "MessageFolderModel.h"
#include "Pop3Parsers.h"
#include "RunStatus.h"

#include <QHash>
#include <QList>
#include <exception>
#include <optional>

namespace {

enum class RowState { Untouched, Deleted, Gone };

// Current message number by unique id, from a UIDL listing; false when the
// server refused the listing.
bool parseUidNumbers(const QString &reply, QHash<QString, qint32> &numbers)
{
    const auto pairs = ParseUidl(reply);
    if (!pairs)
        return false;
    for (const auto &[number, uid] : *pairs)
        numbers.insert(uid, number);
    return true;
}

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

} // namespace

void EmptyRecycleBin(RunStatus &status, MessageFolderModel &recycle, SessionOptions options)
{
    const qint32 total = recycle.count();
    qint32 deleted = 0;
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

    Pop3Session session(status, Global::ProfileSettings, Global::CancelRequested(), options);
    bool sessionFailed = false;
    QString failureNote;
    try {
        if (session.ConnectServer() != Pop3Session::kConnected || session.LoginServer() != 1) {
            if (session.lastOutcome() == Pop3Session::Outcome::Failed)
                session.showFailure();
            session.CloseServer();
            status.setStatusText(QString());
            status.setProgressValue(0);
            return;
        }
        status.setProgressMaximum(total);

        bool haveUids = false;
        for (const MessageEntry &e : original)
            haveUids = haveUids || !e.uid.isEmpty();
        QHash<QString, qint32> numbers;
        bool uidsKnown = false;
        Pop3Session::Outcome outcome = Pop3Session::Outcome::Reply;
        if (haveUids) {
            outcome = session.command(QStringLiteral("UIDL"), Pop3Session::kMultiLineReply);
            if (outcome == Pop3Session::Outcome::Reply)
                uidsKnown = parseUidNumbers(session.ServerReply, numbers);
        }

        // With PIPELINING, and every row known by its id, the DELE commands
        // go out ahead of their replies, in the order below.
        std::optional<CommandPipeline> pipeline;
        bool allHaveUids = true;
        for (const MessageEntry &e : original)
            allHaveUids = allHaveUids && !e.uid.isEmpty();
        if (uidsKnown && allHaveUids && session.hasCapability(QStringLiteral("PIPELINING"))) {
            pipeline.emplace(session, [&original, &numbers, row = total - 1]() mutable
                             -> std::optional<CommandPipeline::Command> {
                while (row >= 0) {
                    const qint32 number = numbers.value(original.at(row--).uid, 0);
                    if (number != 0)
                        return CommandPipeline::Command{deleCommand(number), Pop3Session::kSingleReply};
                }
                return std::nullopt;
            });
        }

        for (int r = total - 1; r >= 0 && outcome == Pop3Session::Outcome::Reply; --r) {
            const MessageEntry entry = original.at(r);
            lowestVisited = r;
            qint32 number = 0;
            if (uidsKnown && !entry.uid.isEmpty()) {
                number = numbers.value(entry.uid, 0);
                if (number == 0) {
                    // Removed by another client since the fetch.
                    recycle.removeAt(r);
                    states[r] = RowState::Gone;
                    nodeText();
                    status.setProgressValue(++processed);
                    continue;
                }
            } else {
                // Without ids, make sure the number still denotes the message
                // that was fetched under it.
                outcome = session.command(QStringLiteral("TOP %1 0").arg(entry.number), Pop3Session::kMultiLineReply);
                if (outcome != Pop3Session::Outcome::Reply)
                    break;
                if (!sameHeader(entry, session.ServerReply)) {
                    ++notDeleted;
                    status.setProgressValue(++processed);
                    continue;
                }
                number = entry.number;
            }
            if (pipeline && pipeline->stopped() && pipeline->owed() == 0)
                break; // cancelled: no DELE went out for this row
            if (pipeline) {
                outcome = pipeline->next();
                // Cancelled while this DELE was on its way: the server acts on
                // it at QUIT, so its answer still decides the row. Nothing
                // further is sent.
                if (outcome == Pop3Session::Outcome::Cancelled)
                    outcome = pipeline->next();
            } else {
                outcome = session.command(deleCommand(number), Pop3Session::kSingleReply);
            }
            if (outcome != Pop3Session::Outcome::Reply)
                break;
            if (session.ServerReply.startsWith(QLatin1String("+OK"))) {
                recycle.removeAt(r);
                states[r] = RowState::Deleted;
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
        } else if (session.QuitServer() != Pop3Session::Outcome::Reply) {
            sessionFailed = true;
            if (session.lastOutcome() == Pop3Session::Outcome::Cancelled)
                failureNote = QStringLiteral("The session was cancelled before the server confirmed the deletions.");
        }
    } catch (const std::exception &e) {
        sessionFailed = true;
        failureNote = QString::fromLocal8Bit(e.what());
    }

    // A POP3 server carries out deletions only when it answers QUIT.
    if (sessionFailed)
        restore();
    session.CloseServer();
    status.setStatusText(QString());
    status.setProgressValue(0);
    if (sessionFailed) {
        const QString nothing = QStringLiteral("Nothing was deleted; the messages are back in the Recycle Bin.");
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
}
