#include "ConsoleOutput.h"

#include <cstdio>
#include <unistd.h>

namespace ConsoleOutput {

namespace {

void write(std::FILE *stream, const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

QString plain(const QString &text)
{
    QString result = text;
    for (QChar &c : result) {
        const char16_t u = c.unicode();
        // C0, DEL and C1 controls, and the line and paragraph separators.
        if (u < 0x20 || (u >= 0x7f && u < 0xa0) || u == 0x2028 || u == 0x2029)
            c = QLatin1Char(' ');
    }
    return result;
}

void out(const QString &line)
{
    write(stdout, line.toUtf8() + '\n');
}

void outPiece(QByteArrayView bytes)
{
    std::fwrite(bytes.data(), 1, size_t(bytes.size()), stdout);
}

void flushOut()
{
    std::fflush(stdout);
}

void error(const QString &line)
{
    write(stderr, "trelvik: " + line.toUtf8() + '\n');
}

bool errorIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

void overwriteErrorLine(const QString &text)
{
    // Carriage return, the text, then erase the rest of the line.
    write(stderr, '\r' + text.toUtf8() + "\x1b[K");
}

} // namespace ConsoleOutput
