#include "MailOperations.h"

#include "CommandPipeline.h"

#include "Global.h"
#include "MessageBox.h"
#include "MessageFolderModel.h"
#include "Pop3Parsers.h"
#include "RunStatus.h"
#include "StringHelpers.h"

#include <QHash>
#include <exception>
#include <limits>
#include <optional>

namespace {

enum class Folder { Inbox, RecycleBin };

Folder classify(const QString &sender, const RuleLookup &isInList)
{
    if (isInList(sender, QStringLiteral("tbexempted")))
        return Folder::Inbox;
    if (isInList(DomainRule(sender), QStringLiteral("tbfilter")))
        return Folder::RecycleBin;
    if (isInList(sender, QStringLiteral("tbfilter")))
        return Folder::RecycleBin;
    return Folder::Inbox;
}

// "n uid" lines of a UIDL listing, by message number.
QHash<qint32, QString> parseUidList(const QString &reply)
{
    QHash<qint32, QString> uids;
    for (const auto &[number, uid] : ParseUidl(reply).value_or(QList<QPair<qint32, QString>>{}))
        uids.insert(number, uid);
    return uids;
}

QString topCommand(qint32 number)
{
    return QStringLiteral("TOP %1 0").arg(number);
}

QString listCommand(qint32 number)
{
    return QStringLiteral("LIST %1").arg(number);
}

} // namespace

void FetchHeader(RunStatus &status, MessageFolderModel &inbox, MessageFolderModel &recycle,
                 const RuleLookup &isInList, SessionOptions options)
{
    const Global::ProfileSettingsRecord &settings = Global::ProfileSettings;
    if (!settings.isConfigured()) {
        MessageBox::show(QStringLiteral("Email Setting not configured"), QStringLiteral("Email Setting Error"),
                         MessageBox::Icon::Critical);
        return;
    }

    Pop3Session session(status, settings, Global::CancelRequested(), options);
    try {
        if (session.ConnectServer() != Pop3Session::kConnected || session.LoginServer() != 1) {
            if (session.lastOutcome() == Pop3Session::Outcome::Failed)
                session.showFailure();
            session.CloseServer();
            status.setProgressValue(0);
            return;
        }

        bool failed = false;
        auto stopped = [&](Pop3Session::Outcome outcome) {
            failed = outcome == Pop3Session::Outcome::Failed;
            return outcome != Pop3Session::Outcome::Reply;
        };

        qint64 count = 0;
        if (!stopped(session.command(QStringLiteral("STAT"), Pop3Session::kSingleReply)))
            count = qMin<qint64>(LeadingNumber(GetReplyWord(session.ServerReply, 2)),
                                 std::numeric_limits<qint32>::max());
        QHash<qint32, QString> uids;
        if (count > 0 && !stopped(session.command(QStringLiteral("UIDL"), Pop3Session::kMultiLineReply)))
            uids = parseUidList(session.ServerReply);
        else
            count = 0;

        if (count > 0) {
            const qint32 n = qint32(count);
            status.setProgressMaximum(n);

            // With PIPELINING the same commands, in the same order, go out
            // ahead of their replies; the replies are handled below exactly
            // as when each is awaited in turn.
            std::optional<CommandPipeline> pipeline;
            if (session.hasCapability(QStringLiteral("PIPELINING"))) {
                qint32 nextMessage = 1;
                bool topNext = true;
                pipeline.emplace(session, [n, nextMessage, topNext]() mutable
                                 -> std::optional<CommandPipeline::Command> {
                    if (nextMessage > n)
                        return std::nullopt;
                    if (topNext) {
                        topNext = false;
                        return CommandPipeline::Command{topCommand(nextMessage), Pop3Session::kMultiLineReply};
                    }
                    topNext = true;
                    return CommandPipeline::Command{listCommand(nextMessage++), Pop3Session::kSingleReply};
                });
            }
            auto exchange = [&](const QString &text, qint16 mode) {
                return pipeline ? pipeline->next() : session.command(text, mode);
            };

            for (qint32 i = 1; i <= n; ++i) {
                if (stopped(exchange(topCommand(i), Pop3Session::kMultiLineReply)))
                    break;
                if (Global::CancelRequested().isSet())
                    break; // cancelled as the reply came: this message is not listed
                MessageEntry entry;
                Folder folder = Folder::Inbox;
                // A refused TOP leaves the row's texts empty: keep it, never filter it.
                const QString headers = session.ServerReply;
                if (!headers.startsWith(QLatin1Char('-'))) {
                    entry.sender = GetHeaderValue(headers, QStringLiteral("From:"));
                    entry.subject = GetHeaderValue(headers, QStringLiteral("Subject:"));
                    entry.date = GetHeaderValue(headers, QStringLiteral("Date:"));
                    entry.priority = GetHeaderValue(headers, QStringLiteral("Priority:"));
                    folder = classify(entry.sender, isInList);
                }
                entry.number = i;
                entry.uid = uids.value(i);
                entry.iconKey = folder == Folder::Inbox ? QStringLiteral("inbox") : QStringLiteral("recycle");

                const bool listed = !stopped(exchange(listCommand(i), Pop3Session::kSingleReply));
                if (listed)
                    entry.size = SizeText(LeadingNumber(GetReplyWord(session.ServerReply, 3)));

                // The header has been read: the row is kept even when the
                // size could not be had.
                if (folder == Folder::Inbox) {
                    inbox.append(entry);
                    status.setNodeText(QStringLiteral("Inbox"), QStringLiteral("Inbox (%1)").arg(inbox.count()));
                } else {
                    recycle.append(entry);
                    status.setNodeText(QStringLiteral("Recycle Bin"),
                                       QStringLiteral("Recycle Bin (%1)").arg(recycle.count()));
                }
                status.setStatusText(QStringLiteral("Fetched %1 of %2").arg(i).arg(n));
                status.setProgressValue(i);
                if (!listed)
                    break;
            }
            // Replies still owed after a Cancel are read and dropped, so that
            // QUIT's reply is the one judged; a server that stalls meanwhile
            // ends the session like any silent wait, while a further Cancel
            // goes on to QUIT all the same.
            if (pipeline && !failed)
                failed = pipeline->drain() == Pop3Session::Outcome::Failed;
        }

        if (failed) {
            session.showFailure();
        } else if (session.QuitServer() == Pop3Session::Outcome::Failed) {
            session.showFailure();
        }
        session.CloseServer();
        status.setProgressValue(0);
    } catch (const std::exception &e) {
        MessageBox::show(QString::fromLocal8Bit(e.what()), QStringLiteral("Error"), MessageBox::Icon::Critical);
        session.CloseServer();
        status.setProgressValue(0);
    }
}
