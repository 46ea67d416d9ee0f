#include "Pop3Mailbox.h"

#include "CancelFlag.h"
#include "CommandPipeline.h"
#include "Pop3Listing.h"
#include "Pop3Parsers.h"
#include "HeaderFields.h"

#include <limits>
#include <optional>
#include <utility>

namespace {

// STAT, UIDL and LIST: the count, the ids and the sizes, asked together.
const QList<QPair<QString, qint16>> &listingCommands()
{
    static const QList<QPair<QString, qint16>> commands{{QStringLiteral("STAT"), Pop3Session::kSingleReply},
                                                        {QStringLiteral("UIDL"), Pop3Session::kListingReply},
                                                        {QStringLiteral("LIST"), Pop3Session::kListingReply}};
    return commands;
}

QString topCommand(qint32 number)
{
    return QStringLiteral("TOP ") + QString::number(number) + QStringLiteral(" 0");
}

QString listCommand(qint32 number)
{
    return QStringLiteral("LIST %1").arg(number);
}

} // namespace

Pop3Mailbox::Pop3Mailbox(RunStatus &status, const ProfileSettingsRecord &settings, CancelFlag &cancel,
                         SessionOptions options, QObject *parent)
    : MailboxSession(parent)
    , m_session(status, settings, cancel, std::move(options))
    , m_cancel(cancel)
{
    connect(&m_session, &Pop3Session::aboutToWait, this, &MailboxSession::aboutToWait);
}

bool Pop3Mailbox::pipelining() const
{
    return m_session.hasCapability(QStringLiteral("PIPELINING"));
}

MailResult Pop3Mailbox::ended(Pop3Session::Outcome outcome) const
{
    if (outcome == Pop3Session::Outcome::Failed)
        return m_session.failure();
    return m_cancel.isSet() ? MailResult::cancelled() : MailResult::done();
}

MailResult Pop3Mailbox::open()
{
    if (MailResult connected = m_session.ConnectServer(); !connected.ok())
        return connected;
    // The listing's commands go out behind PASS where the server allows.
    if (m_listAfterOpening)
        m_session.sendBehindLogin(listingCommands());
    return m_session.LoginServer();
}

MailResult Pop3Mailbox::list(MailboxListing &listing)
{
    // With PIPELINING, UIDL and LIST go out with STAT: their answers are
    // needed whenever there is a message, and harmless when there is none.
    const bool ahead = pipelining();
    Pop3Session::Outcome outcome = Pop3Session::Outcome::Failed;
    quint64 uidlAhead = 0, listAhead = 0;
    if (ahead) {
        // Sent behind PASS already, or now.
        QList<quint64> sent = m_session.takeSentBehindLogin();
        if (sent.size() != listingCommands().size()) {
            sent.clear();
            for (const auto &[text, mode] : listingCommands()) {
                const quint64 sequence = m_session.sendAhead(text, mode);
                if (sequence == 0)
                    break;
                sent.append(sequence);
            }
        }
        if (sent.size() == listingCommands().size()) {
            uidlAhead = sent.at(1);
            listAhead = sent.at(2);
            outcome = m_session.awaitAhead(sent.at(0), true);
        }
    } else {
        outcome = m_session.command(QStringLiteral("STAT"), Pop3Session::kSingleReply);
    }
    if (outcome != Pop3Session::Outcome::Reply) {
        listing = pop3Listing(std::nullopt, std::nullopt, 0);
        return ended(outcome);
    }
    const qint64 statCount = qMin<qint64>(LeadingNumber(GetReplyWord(m_session.serverReply(), 2)),
                                          std::numeric_limits<qint32>::max());
    std::optional<Pop3Pairs> uids, sizes;
    if (ahead || statCount > 0) {
        outcome = ahead ? m_session.awaitAhead(uidlAhead, true)
                        : m_session.command(QStringLiteral("UIDL"), Pop3Session::kListingReply);
        if (outcome == Pop3Session::Outcome::Reply)
            uids = ParseNumberedListing(m_session.serverReply());
    }
    // LIST gives every message's size, so that a header is read by TOP alone.
    const bool anyListed = statCount > 0 || (uids && !uids->isEmpty());
    if (outcome == Pop3Session::Outcome::Reply && !m_cancel.isSet() && anyListed) {
        outcome = ahead ? m_session.awaitAhead(listAhead, true)
                        : m_session.command(QStringLiteral("LIST"), Pop3Session::kListingReply);
        if (outcome == Pop3Session::Outcome::Reply)
            sizes = ParseNumberedListing(m_session.serverReply());
    }
    // UIDL is not believed to be all of them: only when it does not list
    // exactly the messages STAT counts does LIST name messages too.
    const bool uidlIsAll = uids && numbersAreOneTo(*uids, statCount);
    listing = pop3Listing(uids, uidlIsAll ? std::nullopt : sizes, statCount);
    if (sizes)
        takeListedSizes(listing, *sizes);
    keyListing(listing);
    return ended(outcome == Pop3Session::Outcome::Cancelled ? Pop3Session::Outcome::Reply : outcome);
}

void Pop3Mailbox::keyListing(MailboxListing &listing) const
{
    for (ListedMessage &message : listing.messages)
        if (message.number > 0)
            message.key = makeKey(quint64(message.number));
}

namespace {

// The commands that read the listing's headers, in order: TOP n 0 for each
// message, with LIST n beside it when the listing has no size for it, and
// QUIT behind the last when `quit` (the flag then says it was handed out).
CommandPipeline::Source headerCommands(const MailboxListing &listing, bool quit, bool &quitHandedOut)
{
    return [&listing, quit, &quitHandedOut, n = listing.size(), next = qint64(0),
            sizeOf = qint32(0)]() mutable -> std::optional<CommandPipeline::Command> {
        if (sizeOf != 0)
            return CommandPipeline::Command{listCommand(std::exchange(sizeOf, 0)), Pop3Session::kSingleReply};
        if (next < n) {
            const ListedMessage message = listing.at(next++);
            sizeOf = message.bytes < 0 ? message.number : 0;
            return CommandPipeline::Command{topCommand(message.number), Pop3Session::kMultiLineReply};
        }
        if (!quit || quitHandedOut)
            return std::nullopt;
        quitHandedOut = true;
        return CommandPipeline::Command{QStringLiteral("QUIT"), Pop3Session::kSingleReply};
    };
}

} // namespace

MailResult Pop3Mailbox::readHeaders(const MailboxListing &listing, const HeaderSink &sink)
{
    const bool quitBehind = std::exchange(m_commitAfterReading, false) && pipelining();
    const qint64 n = listing.size();
    if (n <= 0)
        return MailResult::done();
    // With PIPELINING the same commands, in the same order, go out ahead of
    // their replies; the replies are handled exactly as when each is awaited
    // in turn.
    std::optional<CommandPipeline> pipeline;
    bool quitHandedOut = false;
    if (pipelining())
        pipeline.emplace(m_session, headerCommands(listing, quitBehind, quitHandedOut));
    // The command's text is made only when it is sent from here: the
    // pipeline has made and sent it already.
    auto exchange = [&](QString (*text)(qint32), qint32 number, qint16 mode) {
        return pipeline ? pipeline->next() : m_session.command(text(number), mode);
    };
    Pop3Session::Outcome outcome = Pop3Session::Outcome::Reply;
    for (qint64 k = 0; k < n; ++k) {
        const ListedMessage listed = listing.at(k);
        const qint32 number = listed.number;
        if ((outcome = exchange(topCommand, number, Pop3Session::kMultiLineReply)) != Pop3Session::Outcome::Reply)
            break;
        if (m_cancel.isSet())
            break; // cancelled as the reply came: this message is not read
        ArrivedHeader arrived{k, m_session.reply()};
        arrived.refused = arrived.header.startsWith('-');
        if (!listing.listed && arrived.refused)
            break; // no listing to go by: past the last message
        if (listed.bytes >= 0) {
            arrived.sized = true;
            arrived.bytes = listed.bytes;
        } else {
            outcome = exchange(listCommand, number, Pop3Session::kSingleReply);
            arrived.sized = outcome == Pop3Session::Outcome::Reply;
            if (arrived.sized)
                arrived.bytes = ListReplySize(m_session.serverReply());
        }
        if (!sink(arrived) || !arrived.sized)
            break;
    }
    // Replies still owed are read and dropped, so that QUIT's reply is the
    // one judged; a server that stalls meanwhile ends the session like any
    // silent wait. After a Cancel they are not awaited: the session closes.
    // QUIT sent behind the reads is judged by commit() as it came.
    if (pipeline) {
        const Pop3Session::Outcome drained = outcome == Pop3Session::Outcome::Failed ? outcome : pipeline->drain();
        if (quitHandedOut && pipeline->sentAll())
            m_quitBehind = drained;
        outcome = drained == Pop3Session::Outcome::Failed ? drained : Pop3Session::Outcome::Reply;
    }
    return ended(outcome);
}

void Pop3Mailbox::commitAfterReading()
{
    m_commitAfterReading = true;
}

MailResult Pop3Mailbox::commit()
{
    // After a Cancel with no removal accepted QUIT has nothing to carry out,
    // so nothing about it is unknown: its answer is not worth the cancel
    // grace (a run past its deadline would end late for it), and the
    // session just closes.
    if (m_cancel.isSet() && m_accepted == 0 && !m_quitBehind)
        return MailResult::done();
    const Pop3Session::Outcome outcome = m_quitBehind ? *std::exchange(m_quitBehind, std::nullopt)
                                                      : m_session.QuitServer();
    if (outcome == Pop3Session::Outcome::Cancelled) {
        MailResult result = m_session.failure();
        result.kind = MailOutcome::Cancelled;
        return result;
    }
    if (outcome == Pop3Session::Outcome::Failed)
        return m_session.failure();
    if (m_accepted == 0 || m_session.reply().startsWith("+OK"))
        return MailResult::done();
    // The server may have removed some, all or none: it did not say.
    const QString said = m_session.serverReply().trimmed().left(200);
    return MailResult::failure(MailOutcome::ConnectionFailed, QStringLiteral("Error"),
                               QStringLiteral("The server did not confirm the deletions.\r\nThe server said: ") + said,
                               said);
}

void Pop3Mailbox::close()
{
    m_session.CloseServer();
}
