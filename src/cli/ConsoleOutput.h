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

// One line, UTF-8, to standard output or standard error. Error lines get
// the program's name in front.
void out(const QString &line);
void error(const QString &line);
// A piece of a longer output (no line break added), written to standard
// output as it comes; flushOut() once it is all there.
void outPiece(QByteArrayView bytes);
void flushOut();

// What this run has written so far: whether anything went to standard
// output, and the error lines (without the program's name), so that a run
// asked for JSON can still end with one JSON document.
bool wroteOut();
QStringList errorsSoFar();

// Whether standard error is a terminal (where a progress line belongs).
bool errorIsTerminal();
// Writes a text over the current line of standard error (no line break).
void overwriteErrorLine(const QString &text);

} // namespace ConsoleOutput
