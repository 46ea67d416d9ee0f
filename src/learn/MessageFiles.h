#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

// Message headers read from files a user points at: an mbox file, a Maildir
// (its cur and new folders, or any folder of one message a file) or a single
// message (.eml). Only the headers are kept, each bounded as the tokenizer
// reads it, so a hostile file costs bounded memory.
namespace MessageFiles {

// What read() went through.
struct Totals {
    int refused = 0; // messages not read: no header end within the bound, a NUL byte, nothing at all
    int unreadable = 0; // files of a folder that could not be opened
    QString unreadableWhy; // the first of them's error
    QString error; // set when the path could not be read at all
};

// Hands the headers on in batches (at most kBatchHeaders, or about
// kBatchBytes), so that a mailbox of any size costs one batch's memory;
// stops when `take` returns false.
using Take = std::function<bool(const QList<QByteArray> &headers)>;
constexpr qsizetype kBatchHeaders = 1000;
constexpr qsizetype kBatchBytes = 16 * 1024 * 1024;
Totals read(const QString &path, const Take &take);

// One message's header from its bytes (a single message, or stdin). Empty
// with *why set when it is refused: empty, a NUL byte in the header, or no
// header end within HeaderTokens::kMaxHeaderBytes. A message of only header
// lines (no blank line, within the bound) is all header.
QByteArray headerOf(const QByteArray &bytes, QString *why);

} // namespace MessageFiles
