#include "Pop3Listing.h"

#include "Pop3Parsers.h"

#include <QHash>
#include <QSet>
#include <QStringList>
#include <algorithm>

namespace {

// The messages a listing ("n uid" or "n size" lines) names, by number. An id
// listed more than once, or a number listed twice, is no identity: such
// messages are fetched without an id, so that their deletion checks the
// header instead of trusting the id.
QList<ListedMessage> listedMessages(const Pop3Pairs &pairs, bool withIds)
{
    QHash<QString, int> idCount;
    QHash<qint32, int> numberCount;
    for (const auto &[number, id] : pairs) {
        ++idCount[id];
        ++numberCount[number];
    }
    QList<ListedMessage> out;
    out.reserve(numberCount.size());
    for (const auto &[number, id] : pairs) {
        const int times = numberCount.value(number);
        if (times == 0)
            continue; // already taken
        numberCount[number] = 0;
        const bool unique = withIds && times == 1 && idCount.value(id) == 1;
        out.append({number, unique ? id : QString(), -1, {}});
    }
    std::sort(out.begin(), out.end(),
              [](const ListedMessage &a, const ListedMessage &b) { return a.number < b.number; });
    return out;
}

} // namespace

bool numbersAreOneTo(const Pop3Pairs &pairs, qint64 n)
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

namespace {

QSet<qint32> numbersOf(const Pop3Pairs &pairs)
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
QList<ListedMessage> mailboxListing(const std::optional<Pop3Pairs> &uids, const std::optional<Pop3Pairs> &sizes,
                                    qint64 statCount)
{
    QList<ListedMessage> out = uids ? listedMessages(*uids, true) : QList<ListedMessage>{};
    if (uids && numbersAreOneTo(*uids, statCount))
        return out;
    QSet<qint32> known;
    for (const ListedMessage &l : out)
        known.insert(l.number);
    auto add = [&](qint32 number) {
        if (!known.contains(number)) {
            known.insert(number);
            out.append({number, QString(), -1, {}});
        }
    };
    if (sizes) {
        for (const auto &pair : *sizes)
            add(pair.first);
    } else if (statCount <= out.size() + kUnlistedBelieved) {
        for (qint64 n = 1; n <= statCount; ++n)
            add(qint32(n));
    }
    std::sort(out.begin(), out.end(),
              [](const ListedMessage &a, const ListedMessage &b) { return a.number < b.number; });
    return out;
}

// The end text's note when STAT, LIST and UIDL do not name the same
// messages; empty when they agree.
QString listingDisagreement(const std::optional<Pop3Pairs> &uids, const std::optional<Pop3Pairs> &sizes,
                            qint64 statCount)
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

} // namespace

MailboxListing pop3Listing(const std::optional<Pop3Pairs> &uids, const std::optional<Pop3Pairs> &sizes,
                           qint64 statCount)
{
    MailboxListing listing;
    listing.count = statCount;
    listing.listed = uids || sizes;
    if (listing.listed) {
        listing.messages = mailboxListing(uids, sizes, statCount);
        listing.disagreement = listingDisagreement(uids, sizes, statCount);
    }
    return listing;
}

void takeListedSizes(MailboxListing &listing, const Pop3Pairs &sizes)
{
    QHash<qint32, qint64> sizeOf;
    sizeOf.reserve(sizes.size());
    for (const auto &[number, text] : sizes) {
        const auto found = sizeOf.constFind(number);
        sizeOf.insert(number, found == sizeOf.constEnd() ? ListedSize(text) : -1);
    }
    for (ListedMessage &message : listing.messages)
        message.bytes = sizeOf.value(message.number, -1);
}
