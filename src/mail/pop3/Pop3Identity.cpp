#include "Pop3Identity.h"

Pop3IdListing Pop3IdListing::of(const Pop3Pairs &pairs)
{
    QHash<qint32, int> times;
    for (const auto &pair : pairs)
        ++times[pair.first];
    Pop3IdListing listing;
    for (const auto &[number, id] : pairs) {
        if (times.value(number) != 1)
            continue;
        listing.idAt.insert(number, id);
        listing.numbersOf[id].append(number);
    }
    return listing;
}

qint32 resolvePop3Number(const MessageIdentity &row, const std::optional<Pop3IdListing> &listing)
{
    if (row.digest.isEmpty() || row.number <= 0)
        return 0; // its header was never read: nothing to confirm it by
    if (!listing || row.uid.isEmpty())
        return row.number;
    const QList<qint32> numbers = listing->numbersOf.value(row.uid);
    if (numbers.size() == 1)
        return numbers.first();
    if (numbers.size() > 1)
        return 0; // the id names several messages
    // Missing from the listing is no proof that it is gone: the header at
    // its old number decides, unless the listing gives that number another id.
    return listing->idAt.contains(row.number) ? 0 : row.number;
}
