#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

// Writing to the terminal or a pipe. Texts from a server or a rule reach a
// terminal only through plain(): a control character there could move the
// cursor, retitle the window or worse.
namespace ConsoleOutput {

// The text with every control character (line breaks and tabs included)
// shown as a space, so one value stays on its line and column.
QString plain(const QString &text);
// A text the window shows on several lines (CR LF between them) as one line
// of sentences: a line that does not end a sentence gets a full stop, so
// that "...Password" and "Correct them..." do not run together.
QString sentences(const QString &text);

// One line, UTF-8, to standard output or standard error. Error lines get
// the program's name in front.
void out(const QString &line);
void error(const QString &line);
// A piece of a longer output (no line break added), written to standard
// output as it comes; flushOut() once it is all there.
void outPiece(QByteArrayView bytes);
void flushOut();
// Why standard output could not take what was written (a full disk, a
// closed pipe); empty while every write went through. After a failure
// nothing more is written there.
QString outFailure();

// What this run has written so far: whether anything went to standard
// output, and the error lines (without the program's name), so that a run
// asked for JSON can still end with one JSON document. Only the newest
// kKeptErrors lines are kept: a watch that runs for days reports every
// reconnection.
constexpr qsizetype kKeptErrors = 64;
bool wroteOut();
// How many error lines were written so far, kept or not.
qsizetype errorCount();
// The kept error lines from the `first` written on (an errorCount() taken before).
QStringList errorsSince(qsizetype first);
inline QStringList errorsSoFar()
{
    return errorsSince(0);
}

// Whether standard error is a terminal (where a progress line belongs).
bool errorIsTerminal();
// Writes a text over the current line of standard error (no line break).
void overwriteErrorLine(const QString &text);

} // namespace ConsoleOutput
