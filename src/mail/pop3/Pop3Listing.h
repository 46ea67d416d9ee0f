#pragma once

#include "MailboxSession.h"

#include <QList>
#include <QPair>
#include <QString>
#include <optional>

// A listing as UIDL or LIST gives it: (number, id or size text) pairs.
using Pop3Pairs = QList<QPair<qint32, QString>>;

// Whether a listing names exactly the messages 1 to n, each once.
bool numbersAreOneTo(const Pop3Pairs &pairs, qint64 n);

// What STAT's count, UIDL and LIST (either may be missing: refused, or not
// asked) say waits in the mailbox. The messages fetched are those the
// server lists: a STAT count is not believed beyond the listings, and every
// message either listing names is screened; those without an id of their
// own rely on the header at their deletion.
MailboxListing pop3Listing(const std::optional<Pop3Pairs> &uids, const std::optional<Pop3Pairs> &sizes,
                           qint64 statCount);

// Gives each message of the listing the size LIST gives it. A number LIST
// names more than once, or not at all, or with no size (ListedSize), keeps
// no size: its own LIST n asks.
void takeListedSizes(MailboxListing &listing, const Pop3Pairs &sizes);
