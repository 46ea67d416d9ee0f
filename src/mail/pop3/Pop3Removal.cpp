// The removal half of Pop3Mailbox: finding rows' messages again, confirming
// them by id and header, DELE.
#include "Pop3Mailbox.h"

#include "CancelFlag.h"
#include "CommandPipeline.h"
#include "HeaderDigest.h"
#include "Pop3Identity.h"
#include "Pop3Parsers.h"

#include <QQueue>
#include <QSet>
#include <algorithm>
#include <limits>

namespace {

QString topCommand(qint32 number)
{
    return QStringLiteral("TOP %1 0").arg(number);
}

QString deleCommand(qint32 number)
{
    return QStringLiteral("DELE %1").arg(number);
}

// Which number each row resolves to now (by its id when the listing gives
// that id one number, else its number in the fetch), and whether the header
// there is the row's. A number whose header is read, and the rows that
// resolve to it: more than one only when ids or numbers collide, and the
// header must then single out one.
class Confirmation {
public:
    Confirmation(const QList<MessageIdentity> &rows, QList<qint32> &numbers)
        : m_rows(rows)
        , m_numbers(numbers)
    {
        m_numbers = QList<qint32>(rows.size(), -1);
        // Usually a row is still at its number in the fetch: those numbers
        // can be read before the listing has come.
        for (const MessageIdentity &row : rows) {
            haveUids = haveUids || !row.uid.isEmpty();
            if (!row.digest.isEmpty() && row.number > 0 && !m_guessed.contains(row.number)) {
                m_guessed.insert(row.number);
                guesses.append(row.number);
            }
        }
    }

    void plan()
    {
        for (qsizetype i = 0; i < m_rows.size(); ++i) {
            const qint32 number = resolvePop3Number(m_rows.at(i), m_listing);
            if (number == 0) {
                m_numbers[i] = 0;
                continue;
            }
            const auto found = m_targetAt.constFind(number);
            if (found == m_targetAt.constEnd()) {
                m_targetAt.insert(number, m_targets.size());
                m_targets.append(Target{number, QList<qsizetype>{i}});
                if (!m_guessed.contains(number))
                    moved.append(number);
            } else {
                m_targets[*found].rows.append(i);
            }
        }
    }
    void takeListing(const QString &reply)
    {
        if (const auto pairs = ParseNumberedListing(reply))
            m_listing = Pop3IdListing::of(*pairs);
        plan();
    }
    void takeHeader(qint32 number, const QByteArray &reply)
    {
        m_digestAt.insert(number,
                          reply.startsWith("+OK") ? HeaderDigest::of(HeaderDigest::blockOfReply(QByteArrayView(reply)))
                                                  : QByteArray());
    }
    bool isTarget(qint32 number) const { return m_targetAt.contains(number); }

    // A row is confirmed only when it is the one row of its number whose
    // header digest the message there gives.
    void decide()
    {
        for (const Target &target : std::as_const(m_targets)) {
            const QByteArray digest = m_digestAt.value(target.number);
            qsizetype match = -1;
            int matches = 0;
            for (const qsizetype row : target.rows) {
                if (!digest.isEmpty() && m_rows.at(row).digest == digest) {
                    ++matches;
                    match = row;
                }
            }
            for (const qsizetype row : target.rows)
                m_numbers[row] = matches == 1 && row == match ? target.number : 0;
        }
    }

    bool haveUids = false;
    QList<qint32> guesses; // the rows' numbers in the fetch, in the rows' order
    QList<qint32> moved; // numbers of targets that are no row's number in the fetch

private:
    struct Target {
        qint32 number;
        QList<qsizetype> rows;
    };
    const QList<MessageIdentity> &m_rows;
    QList<qint32> &m_numbers;
    QSet<qint32> m_guessed;
    std::optional<Pop3IdListing> m_listing;
    QList<Target> m_targets;
    QHash<qint32, qsizetype> m_targetAt;
    QHash<qint32, QByteArray> m_digestAt; // of the header TOP n gave; empty when refused
};

} // namespace

MailResult Pop3Mailbox::locate(const QList<MessageIdentity> &rows, QList<LocatedMessage> &found)
{
    found = QList<LocatedMessage>(rows.size());
    // Rows this session listed keep their numbers: POP3 numbers hold for a
    // whole session.
    const bool listedHere = !rows.isEmpty()
        && std::all_of(rows.cbegin(), rows.cend(),
                       [this](const MessageIdentity &r) { return keyValue(r.key).has_value(); });
    if (listedHere) {
        for (qsizetype i = 0; i < rows.size(); ++i)
            found[i] = {LocatedMessage::State::Found, rows.at(i).key};
        return MailResult::done();
    }
    QList<qint32> numbers;
    const MailResult result = locateNumbers(rows, numbers);
    for (qsizetype i = 0; i < numbers.size(); ++i) {
        if (numbers.at(i) > 0)
            found[i] = {LocatedMessage::State::Found, makeKey(quint64(numbers.at(i)))};
        else if (numbers.at(i) == 0)
            found[i].state = LocatedMessage::State::Changed;
    }
    return result;
}

MailResult Pop3Mailbox::locateNumbers(const QList<MessageIdentity> &rows, QList<qint32> &numbers)
{
    Confirmation confirmation(rows, numbers);
    Pop3Session::Outcome outcome = Pop3Session::Outcome::Reply;
    if (!confirmation.haveUids)
        confirmation.plan();
    if (pipelining()) {
        // The TOPs at the rows' numbers in the fetch go out with UIDL, ahead
        // of its reply; only the numbers the listing moves rows to wait for it.
        QQueue<qint32> awaited; // what each reply answers: a TOP's number, 0 for UIDL
        bool uidlSent = !confirmation.haveUids;
        qsizetype nextGuess = 0;
        qsizetype nextMoved = 0;
        const auto &c = confirmation;
        CommandPipeline reading(m_session, [&]() -> std::optional<CommandPipeline::Command> {
            if (!uidlSent) {
                uidlSent = true;
                awaited.enqueue(0);
                return CommandPipeline::Command{QStringLiteral("UIDL"), Pop3Session::kListingReply};
            }
            const qint32 number = nextGuess < c.guesses.size() ? c.guesses.at(nextGuess++)
                : nextMoved < c.moved.size()                   ? c.moved.at(nextMoved++)
                                                               : 0;
            if (number == 0)
                return std::nullopt;
            awaited.enqueue(number);
            return CommandPipeline::Command{topCommand(number), Pop3Session::kMultiLineReply};
        });
        while (!awaited.isEmpty() || !uidlSent || nextGuess < c.guesses.size() || nextMoved < c.moved.size()) {
            if ((outcome = reading.next()) != Pop3Session::Outcome::Reply)
                break;
            if (const qint32 number = awaited.dequeue())
                confirmation.takeHeader(number, m_session.reply());
            else
                confirmation.takeListing(m_session.serverReply());
        }
        // A Cancel here sends no DELE. The replies still owed answer reads
        // only: they are not awaited, and the session closes without QUIT.
    } else {
        if (confirmation.haveUids
            && (outcome = m_session.command(QStringLiteral("UIDL"), Pop3Session::kListingReply))
                == Pop3Session::Outcome::Reply)
            confirmation.takeListing(m_session.serverReply());
        // In the order the pipelined TOPs go out, without those not needed.
        QList<qint32> asked;
        for (const qint32 number : std::as_const(confirmation.guesses))
            if (confirmation.isTarget(number))
                asked.append(number);
        asked += confirmation.moved;
        for (const qint32 number : std::as_const(asked)) {
            if (outcome != Pop3Session::Outcome::Reply)
                break;
            outcome = m_session.command(topCommand(number), Pop3Session::kMultiLineReply);
            if (outcome == Pop3Session::Outcome::Reply)
                confirmation.takeHeader(number, m_session.reply());
        }
    }
    if (outcome == Pop3Session::Outcome::Reply)
        confirmation.decide();
    return ended(outcome);
}

MailResult Pop3Mailbox::remove(const QList<MessageKey> &keys, const RemovalSink &sink)
{
    // Only this session's keys name its messages; any other is never acted on.
    QList<qint32> numbers;
    QList<qsizetype> asked; // the index in `keys` of each number
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const std::optional<quint64> number = keyValue(keys.at(i));
        if (number && *number > 0 && *number <= quint64(std::numeric_limits<qint32>::max())) {
            numbers.append(qint32(*number));
            asked.append(i);
        } else {
            sink(i, RemovalAnswer::Gone);
        }
    }
    std::optional<CommandPipeline> deleting;
    if (pipelining() && !numbers.isEmpty()) {
        deleting
            .emplace(m_session, [&numbers, next = qsizetype(0)]() mutable -> std::optional<CommandPipeline::Command> {
                if (next >= numbers.size())
                    return std::nullopt;
                return CommandPipeline::Command{deleCommand(numbers.at(next++)), Pop3Session::kSingleReply};
            });
    }
    Pop3Session::Outcome outcome = Pop3Session::Outcome::Reply;
    for (qsizetype i = 0; i < numbers.size(); ++i) {
        if (deleting) {
            outcome = deleting->next();
            // A Cancel stops the sending. A DELE already written is carried
            // out at QUIT, so its reply is still read (within the cancel
            // grace) and decides the row; a DELE never written was cancelled,
            // and so are all after it.
            if (outcome == Pop3Session::Outcome::Cancelled) {
                deleting->stop();
                outcome = deleting->next();
            }
        } else {
            outcome = m_session.command(deleCommand(numbers.at(i)), Pop3Session::kSingleReply, false);
        }
        if (outcome != Pop3Session::Outcome::Reply)
            break;
        const bool accepted = m_session.reply().startsWith("+OK");
        m_accepted += accepted ? 1 : 0;
        sink(asked.at(i), accepted ? RemovalAnswer::Removed : RemovalAnswer::Refused);
    }
    // Every DELE written must have had its reply before QUIT: the server
    // then removes exactly the messages accepted.
    if (outcome == Pop3Session::Outcome::Failed || (deleting && deleting->owed() > 0))
        return m_session.failure();
    return ended(Pop3Session::Outcome::Reply);
}
