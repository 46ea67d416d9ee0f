#include "ConsoleOutput.h"

#include <cstdio>
#include <unistd.h>

namespace ConsoleOutput {

namespace {

bool s_wroteOut = false;
QStringList s_errors;

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
    s_wroteOut = true;
    write(stdout, line.toUtf8() + '\n');
}

void outPiece(QByteArrayView bytes)
{
    s_wroteOut = true;
    std::fwrite(bytes.data(), 1, size_t(bytes.size()), stdout);
}

void flushOut()
{
    std::fflush(stdout);
}

void error(const QString &line)
{
    s_errors.append(line);
    write(stderr, "trelvik: " + line.toUtf8() + '\n');
}

bool wroteOut()
{
    return s_wroteOut;
}

QStringList errorsSoFar()
{
    return s_errors;
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
