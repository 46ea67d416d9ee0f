#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class RuleDatabase;

// Mail of the size and shape real mailboxes hold today, for the benchmarks:
// headers of 2 to 8 KB (mean about 5.35 KB) carrying the relay chain, the
// signatures, the ARC sets and the list fields that mail from shops, lists
// and people brings, then a short body. Message i (counted from 1) is the
// same on every run and for every count.
//
// Every tenth message is spam that the rule lists below send to the Recycle
// Bin, caught in turn by an exact address, a whole From value, a "*@domain"
// rule, an address pattern and a header rule. A few others come from a
// filtered domain but from exempted addresses, so they stay in the Inbox.
namespace RealMailbox {

// Message i, lines ended by CR LF: its header, a blank line, a short body.
QByteArray message(int i);
// The name message i is written under: files sort in message order, and the
// base name (the sample server's unique id) is unique.
QString fileName(int i);
bool isSpam(int i);
// How many of messages 1..count the rules send to the Recycle Bin.
int spamCount(int count);

// The sizes of the header blocks (up to and including the blank line).
struct HeaderSizes {
    int count = 0;
    qint64 total = 0;
    qint64 min = 0;
    qint64 max = 0;
    void add(qsizetype bytes);
    double mean() const { return count ? double(total) / count : 0; }
    // A "#" line naming the mailbox, its mean and range.
    void print(const char *what) const;
};

// Writes messages 1..count into `folder` (created when missing), one file
// each, and counts their header sizes into *sizes when given.
bool writeFolder(const QString &folder, int count, HeaderSizes *sizes = nullptr);

// The rule lists a user accumulates over the years: a few thousand filter
// rules of every form (exact addresses, whole From values, "*@domain",
// address patterns, a handful of header rules, a size rule) and a few
// hundred exempted addresses.
QStringList filterRules();
QStringList exemptedRules();
// Adds both lists to an open rule database.
bool writeRules(RuleDatabase &rules, QString *error = nullptr);

} // namespace RealMailbox
