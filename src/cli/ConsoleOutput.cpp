#include "ConsoleOutput.h"

#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace ConsoleOutput {

namespace {

bool s_wroteOut = false;
QString s_outFailure;
QStringList s_errors; // the newest kKeptErrors
qsizetype s_errorCount = 0;

void write(std::FILE *stream, const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

// Notes the first failure of standard output, with the system's reason.
void outFailed()
{
    if (s_outFailure.isEmpty())
        s_outFailure = QString::fromLocal8Bit(std::strerror(errno ? errno : EIO));
}

void writeOut(QByteArrayView bytes, bool flush)
{
    s_wroteOut = true;
    if (!s_outFailure.isEmpty())
        return;
    errno = 0;
    if (std::fwrite(bytes.data(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size())
        || (flush && std::fflush(stdout) != 0))
        outFailed();
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

QString sentences(const QString &text)
{
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\n|\r"));
    QString joined;
    for (const QString &piece : text.split(lineBreak)) {
        const QString line = piece.trimmed();
        if (line.isEmpty())
            continue;
        if (!joined.isEmpty()) {
            if (!QStringLiteral(".!?:;").contains(joined.back()))
                joined += QLatin1Char('.');
            joined += QLatin1Char(' ');
        }
        joined += line;
    }
    return joined;
}

void out(const QString &line)
{
    writeOut(QByteArray(line.toUtf8() + '\n'), true);
}

void outPiece(QByteArrayView bytes)
{
    writeOut(bytes, false);
}

void flushOut()
{
    errno = 0;
    if (s_outFailure.isEmpty() && (std::fflush(stdout) != 0 || std::ferror(stdout)))
        outFailed();
}

QString outFailure()
{
    return s_outFailure;
}

void error(const QString &line)
{
    if (s_errors.size() == kKeptErrors)
        s_errors.removeFirst();
    s_errors.append(line);
    ++s_errorCount;
    write(stderr, "trelvik: " + line.toUtf8() + '\n');
}

bool wroteOut()
{
    return s_wroteOut;
}

qsizetype errorCount()
{
    return s_errorCount;
}

QStringList errorsSince(qsizetype first)
{
    const qsizetype oldestKept = s_errorCount - s_errors.size();
    return s_errors.mid(qMax<qsizetype>(0, first - oldestKept));
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
