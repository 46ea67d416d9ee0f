#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

// Small parsers for POP3 replies and listings.

// The n-th word (from 1) of a reply, words being separated by single spaces.
// A word ends at the next space; the last word ends at the next CR LF or at
// the end of the text. The empty text when the reply has fewer than n words.
QString GetReplyWord(const QString &reply, int n);

// A message size as a scan listing gives it ("n size", the size's word):
// decimal digits only, within 64 bits. -1, not known, for anything else: no
// word, a sign, letters, a number past 64 bits.
qint64 ListedSize(QStringView word);
// The size a "LIST n" reply gives; -1 when the server refused it or listed
// no size there.
qint64 ListReplySize(const QString &reply);

// The lines of a positive multi-line reply between its status line and the
// terminating ".", with the dot-stuffing removed; nullopt for a reply that
// is not "+OK".
std::optional<QStringList> MultiLineBody(const QString &reply);

// The (message number, second word) pairs of a numbered listing: UIDL's
// unique ids, or LIST's sizes. Lines that are not "n word" with n a positive
// 32-bit number are left out; nullopt when the server refused the listing.
std::optional<QList<QPair<qint32, QString>>> ParseNumberedListing(const QString &reply);
