#include "MailOperations.h"

#include "CommandPipeline.h"

#include "Global.h"
#include "HeaderDigest.h"
#include "MessageBox.h"
#include "MessageFolderModel.h"
#include "Pop3Parsers.h"
#include "RunStatus.h"
#include "StringHelpers.h"

#include <QHash>
#include <QSet>
#include <QStringList>
#include <algorithm>
#include <exception>
#include <limits>
#include <optional>
#include <utility>

namespace {

enum class Folder { Inbox, RecycleBin };

struct Listed {
    qint32 number;
    QString uid; // empty when the listing gives it no id of its own
};

// The messages a listing ("n uid" or "n size" lines) names, by number. An id
// listed more than once, or a number listed twice, is no identity: such
// messages are fetched without an id, so that their deletion checks the
// header instead of trusting the id.
QList<Listed> listedMessages(const QList<QPair<qint32, QString>> &pairs, bool withIds)
{
    QHash<QString, int> idCount;
    QHash<qint32, int> numberCount;
    for (const auto &[number, id] : pairs) {
        ++idCount[id];
        ++numberCount[number];
    }
    QList<Listed> out;
    out.reserve(numberCount.size());
    for (const auto &[number, id] : pairs) {
        const int times = numberCount.value(number);
        if (times == 0)
            continue; // already taken
        numberCount[number] = 0;
        const bool unique = withIds && times == 1 && idCount.value(id) == 1;
        out.append({number, unique ? id : QString()});
    }
    std::sort(out.begin(), out.end(), [](const Listed &a, const Listed &b) { return a.number < b.number; });
    return out;
}

// Whether a listing names exactly the messages 1 to n, each once.
bool numbersAreOneTo(const QList<QPair<qint32, QString>> &pairs, qint64 n)
{
    if (pairs.size() != n)
        return false;
    QList<bool> seen(pairs.size(), false);
    for (const auto &[number, text] : pairs) {
        if (number > n || seen.at(number - 1))
            return false;
        seen[number - 1] = true;
    }
    return true;
}

QSet<qint32> numbersOf(const QList<QPair<qint32, QString>> &pairs)
{
    QSet<qint32> numbers;
    numbers.reserve(pairs.size());
    for (const auto &pair : pairs)
        numbers.insert(pair.first);
    return numbers;
}

// Whether a set of numbers is exactly 1 to n.
bool isOneTo(const QSet<qint32> &numbers, qint64 n)
{
    return numbers.size() == n && std::all_of(numbers.cbegin(), numbers.cend(), [n](qint32 k) { return k <= n; });
}

// How far beyond what the listings name a STAT count is believed when LIST
// was refused: a count far above them is no mailbox to read.
constexpr qint64 kUnlistedBelieved = 1000;

// Every message UIDL or LIST names (STAT's count standing in for a LIST that
// was refused): those UIDL gives one id of their own keep it.
QList<Listed> mailboxListing(const std::optional<QList<QPair<qint32, QString>>> &uids,
                             const std::optional<QList<QPair<qint32, QString>>> &sizes, qint64 statCount)
{
    QList<Listed> out = uids ? listedMessages(*uids, true) : QList<Listed>{};
    if (uids && numbersAreOneTo(*uids, statCount))
        return out;
    QSet<qint32> known;
    for (const Listed &l : out)
        known.insert(l.number);
    auto add = [&](qint32 number) {
        if (!known.contains(number)) {
            known.insert(number);
            out.append({number, QString()});
        }
    };
    if (sizes) {
        for (const auto &pair : *sizes)
            add(pair.first);
    } else if (statCount <= out.size() + kUnlistedBelieved) {
        for (qint64 n = 1; n <= statCount; ++n)
            add(qint32(n));
    }
    std::sort(out.begin(), out.end(), [](const Listed &a, const Listed &b) { return a.number < b.number; });
    return out;
}

// The end text's note when STAT, LIST and UIDL do not name the same
// messages; empty when they agree.
QString listingDisagreement(const std::optional<QList<QPair<qint32, QString>>> &uids,
                            const std::optional<QList<QPair<qint32, QString>>> &sizes, qint64 statCount)
{
    const std::optional<QSet<qint32>> listed = sizes ? std::optional(numbersOf(*sizes)) : std::nullopt;
    const std::optional<QSet<qint32>> ids = uids ? std::optional(numbersOf(*uids)) : std::nullopt;
    const bool agree = (!listed || isOneTo(*listed, statCount)) && (!ids || isOneTo(*ids, statCount));
    if (agree)
        return {};
    QStringList counts{QStringLiteral("STAT %1").arg(statCount)};
    if (listed)
        counts << QStringLiteral("LIST %1").arg(listed->size());
    if (ids)
        counts << QStringLiteral("UIDL %1").arg(ids->size());
    return QStringLiteral("the server's listings disagree (%1)").arg(counts.join(QStringLiteral(", ")));
}

// Size texts made once for each shown size, so that the rows share them.
class SizeTexts {
public:
    QString text(qint64 bytes)
    {
        const qint64 thousands = bytes / 1000; // all a text shows
        auto found = m_texts.constFind(thousands);
        if (found == m_texts.constEnd())
            found = m_texts.insert(thousands, SizeText(bytes));
        return *found;
    }

private:
    QHash<qint64, QString> m_texts;
};

QString topCommand(qint32 number)
{
    return QStringLiteral("TOP %1 0").arg(number);
}

QString listCommand(qint32 number)
{
    return QStringLiteral("LIST %1").arg(number);
}

} // namespace

MailOutcome FetchHeader(RunStatus &status, MessageFolderModel &inbox, MessageFolderModel &recycle,
                        const MessageClassifier &classify, const ProfileSettingsRecord &settings,
                        CancelFlag &cancel, SessionOptions options, QString *listingNote)
{
    if (!settings.isConfigured()) {
        MessageBox::show(QStringLiteral("Email Setting not configured\r\nPress the Setting button beside the profile box and fill in the POP server, user ID and password."), QStringLiteral("Email Setting Error"),
                         MessageBox::Icon::Critical);
        return MailOutcome::NotConfigured;
    }

    // Rows and progress reach the window in batches, whenever the event loop
    // is about to run: a view told of each row on its own lays out again for
    // every one, the status texts cost more than reading the message, and a
    // batch per turn is all the window can paint anyway.
    QList<MessageEntry> newInbox, newRecycle;
    qint32 read = 0;
    qint32 readShown = 0;
    qint32 toRead = 0; // once the listing is known
    auto showRows = [&] {
        if (!newInbox.isEmpty()) {
            inbox.appendRows(std::exchange(newInbox, {}));
            status.setNodeText(QStringLiteral("Inbox"), QStringLiteral("Inbox (%1)").arg(inbox.count()));
        }
        if (!newRecycle.isEmpty()) {
            recycle.appendRows(std::exchange(newRecycle, {}));
            status.setNodeText(QStringLiteral("Recycle Bin"),
                               QStringLiteral("Recycle Bin (%1)").arg(recycle.count()));
        }
        if (read != readShown) {
            readShown = read;
            status.setStatusText(QStringLiteral("Fetched %1 of %2").arg(read).arg(toRead));
            status.setProgressValue(read);
        }
    };
    Pop3Session session(status, settings, cancel, options);
    QObject::connect(&session, &Pop3Session::aboutToWait, &session, showRows);
    try {
        MailResult opened = session.ConnectServer();
        if (opened.ok())
            opened = session.LoginServer();
        if (!opened.ok()) {
            if (opened.hasMessage())
                MessageBox::show(opened.text, opened.title, MessageBox::Icon::Critical);
            session.CloseServer();
            if (session.lastOutcome() == Pop3Session::Outcome::Cancelled && opened.kind != MailOutcome::Failed)
                status.setStatusText(QStringLiteral("Fetch cancelled: no messages read"));
            status.setProgressValue(0);
            if (opened.kind == MailOutcome::Failed)
                return MailOutcome::Failed;
            return session.lastOutcome() == Pop3Session::Outcome::Cancelled || cancel.isSet()
                       ? MailOutcome::Cancelled
                       : MailOutcome::ConnectionFailed;
        }

        bool failed = false;
        qint64 total = 0;
        QString disagreement;
        auto stopped = [&](Pop3Session::Outcome outcome) {
            failed = outcome == Pop3Session::Outcome::Failed;
            return outcome != Pop3Session::Outcome::Reply;
        };

        // With PIPELINING, UIDL goes out with STAT: its answer is needed
        // whenever there is a message, and harmless when there is none.
        const bool pipelining = session.hasCapability(QStringLiteral("PIPELINING"));
        quint64 uidlAhead = 0;
        Pop3Session::Outcome statOutcome = Pop3Session::Outcome::Failed;
        if (pipelining) {
            const quint64 statAhead = session.sendAhead(QStringLiteral("STAT"), Pop3Session::kSingleReply);
            uidlAhead = statAhead ? session.sendAhead(QStringLiteral("UIDL"), Pop3Session::kListingReply) : 0;
            if (uidlAhead != 0)
                statOutcome = session.awaitAhead(statAhead, true);
        } else {
            statOutcome = session.command(QStringLiteral("STAT"), Pop3Session::kSingleReply);
        }
        qint64 count = 0;
        if (!stopped(statOutcome))
            count = qMin<qint64>(LeadingNumber(GetReplyWord(session.ServerReply, 2)),
                                 std::numeric_limits<qint32>::max());
        // The messages fetched are those the server lists. A STAT count is
        // not believed beyond the listings, and UIDL is not believed to be
        // all of them: when it does not list exactly the messages STAT
        // counts, LIST is asked too, and every message either names is
        // screened (those without an id of their own rely on the header at
        // their deletion). Without any listing, the first refused TOP ends
        // the fetch.
        std::optional<QList<Listed>> listed;
        std::optional<QList<QPair<qint32, QString>>> uids, sizes;
        const qint64 statCount = count;
        if ((pipelining || count > 0) && !stopped(statOutcome)
            && !stopped(pipelining ? session.awaitAhead(uidlAhead, true)
                                   : session.command(QStringLiteral("UIDL"), Pop3Session::kListingReply)))
            uids = ParseUidl(session.ServerReply);
        if ((count > 0 || (uids && !uids->isEmpty())) && !failed && !cancel.isSet()
            && (!uids || !numbersAreOneTo(*uids, statCount))
            && !stopped(session.command(QStringLiteral("LIST"), Pop3Session::kListingReply)))
            sizes = ParseUidl(session.ServerReply);
        if (uids || sizes) {
            listed = mailboxListing(uids, sizes, statCount);
            disagreement = listingDisagreement(uids, sizes, statCount);
        }
        if (listed)
            count = listed->size();
        total = count;
        if (failed || cancel.isSet())
            count = 0;

        if (count > 0) {
            const qint32 n = qint32(count);
            toRead = n;
            status.setProgressMaximum(n);
            SizeTexts sizeTexts;
            const QStringList shownFields{QStringLiteral("From:"), QStringLiteral("Subject:"), QStringLiteral("Date:"),
                                          QStringLiteral("Priority:")};
            auto numberAt = [&listed](qint32 k) { return listed ? listed->at(k).number : k + 1; };

            // With PIPELINING the same commands, in the same order, go out
            // ahead of their replies; the replies are handled below exactly
            // as when each is awaited in turn.
            std::optional<CommandPipeline> pipeline;
            if (pipelining) {
                qint32 next = 0;
                bool topNext = true;
                pipeline.emplace(session, [n, next, topNext, numberAt]() mutable
                                 -> std::optional<CommandPipeline::Command> {
                    if (next >= n)
                        return std::nullopt;
                    if (topNext) {
                        topNext = false;
                        return CommandPipeline::Command{topCommand(numberAt(next)), Pop3Session::kMultiLineReply};
                    }
                    topNext = true;
                    return CommandPipeline::Command{listCommand(numberAt(next++)), Pop3Session::kSingleReply};
                });
            }
            // The command's text is made only when it is sent from here: the
            // pipeline has made and sent it already.
            auto exchange = [&](QString (*text)(qint32), qint32 number, qint16 mode) {
                return pipeline ? pipeline->next() : session.command(text(number), mode);
            };

            for (qint32 k = 0; k < n; ++k) {
                const qint32 i = numberAt(k);
                if (stopped(exchange(topCommand, i, Pop3Session::kMultiLineReply)))
                    break;
                if (cancel.isSet())
                    break; // cancelled as the reply came: this message is not listed
                MessageEntry entry;
                Folder folder = Folder::Inbox;
                // A refused TOP leaves the row's texts empty: keep it, never filter it.
                const QString headers = session.ServerReply;
                if (!listed && headers.startsWith(QLatin1Char('-')))
                    break; // no listing to go by: past the last message
                if (!headers.startsWith(QLatin1Char('-'))) {
                    const QStringList values = GetHeaderValues(headers, shownFields);
                    entry.sender = values.at(0);
                    entry.subject = values.at(1);
                    entry.date = values.at(2);
                    entry.priority = values.at(3);
                    QByteArray block = HeaderDigest::blockOfReply(headers);
                    entry.digest = HeaderDigest::of(block);
                    if (options.keepHeaderBlocks)
                        entry.header = std::move(block);
                }
                entry.number = i;
                entry.uid = listed ? listed->at(k).uid : QString();

                const bool sized = !stopped(exchange(listCommand, i, Pop3Session::kSingleReply));
                if (sized) {
                    entry.bytes = LeadingNumber(GetReplyWord(session.ServerReply, 3));
                    entry.size = sizeTexts.text(entry.bytes);
                }
                // Sorted once the listed size is known: size rules go by it.
                if (!headers.startsWith(QLatin1Char('-'))) {
                    entry.sortReason = classify(entry.sender, headers, entry.bytes);
                    if (entry.sortReason.kind == SortReason::Kind::Filter)
                        folder = Folder::RecycleBin;
                }
                entry.iconKey = folder == Folder::Inbox ? QStringLiteral("inbox") : QStringLiteral("recycle");

                // The header has been read: the row is kept even when the
                // size could not be had.
                (folder == Folder::Inbox ? newInbox : newRecycle).append(std::move(entry));
                read = k + 1;
                if (!sized)
                    break;
            }
            // Replies still owed after a Cancel are read and dropped, so that
            // QUIT's reply is the one judged; a server that stalls meanwhile
            // ends the session like any silent wait, while a further Cancel
            // goes on to QUIT all the same.
            if (pipeline && !failed)
                failed = pipeline->drain() == Pop3Session::Outcome::Failed;
        }
        showRows();

        // After a Cancel nothing is lost when the server does not finish
        // answering: the session just closes, and the end says so.
        const bool cancelled = cancel.isSet();
        const auto showFailure = [&session] {
            if (const MailResult r = session.failure(); r.hasMessage())
                MessageBox::show(r.text, r.title, MessageBox::Icon::Critical);
        };
        if (failed) {
            if (!cancelled)
                showFailure();
        } else if (session.QuitServer() == Pop3Session::Outcome::Failed && !cancelled) {
            showFailure();
            failed = true;
        }
        session.CloseServer();
        if (cancelled)
            status.setStatusText(QStringLiteral("Fetch cancelled: %1 of %2 messages read").arg(read).arg(total));
        else if (!disagreement.isEmpty() && !failed)
            status.setStatusText(QStringLiteral("Fetched %1 of %2; %3").arg(read).arg(total).arg(disagreement));
        if (listingNote)
            *listingNote = disagreement;
        status.setProgressValue(0);
        if (cancelled)
            return MailOutcome::Cancelled;
        return failed ? MailOutcome::ConnectionFailed : MailOutcome::Done;
    } catch (const std::exception &e) {
        showRows(); // the rows read before the failure are kept
        MessageBox::show(QString::fromLocal8Bit(e.what()), QStringLiteral("Error"), MessageBox::Icon::Critical);
        session.CloseServer();
        status.setProgressValue(0);
        return MailOutcome::Failed;
    }
}
