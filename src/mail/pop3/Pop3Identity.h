#pragma once

#include "MailboxSession.h"
#include "Pop3Listing.h"

#include <QHash>
#include <optional>

// The deletion's UIDL listing. A number listed more than once is no
// identity: no id of it counts, for it or for any row.
struct Pop3IdListing {
    QHash<qint32, QString> idAt; // numbers listed once
    QHash<QString, QList<qint32>> numbersOf; // over those numbers only

    static Pop3IdListing of(const Pop3Pairs &pairs);
};

// The number a row's message should be at now, whose header then decides;
// 0 when the row cannot be confirmed at all.
qint32 resolvePop3Number(const MessageIdentity &row, const std::optional<Pop3IdListing> &listing);
