#include "MessageFiles.h"

#include "HeaderTokens.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr qsizetype kBound = HeaderTokens::kMaxHeaderBytes;

// Reads a single message's start: no more than the header can be.
QByteArray headOfFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return {};
    }
    return file.read(kBound + 1);
}

// mbox: messages start at lines "From "; a header runs to its blank line.
void readMbox(QFile &file, MessageFiles::Headers &out)
{
    QByteArray header;
    bool inHeader = false;
    bool overflow = false;
    auto finish = [&] {
        if (inHeader || !header.isEmpty()) {
            QString why;
            if (overflow || MessageFiles::headerOf(header + "\n", &why).isEmpty())
                ++out.refused;
            else
                out.headers.append(header);
        }
        header.clear();
        inHeader = false;
        overflow = false;
    };
    while (!file.atEnd()) {
        QByteArray line = file.readLine(kBound);
        if (line.startsWith("From ")) {
            finish();
            inHeader = true;
            continue;
        }
        if (!inHeader)
            continue;
        if (line == "\n" || line == "\r\n") {
            finish();
            continue;
        }
        if (header.size() + line.size() > kBound)
            overflow = true;
        else
            header += line;
    }
    finish();
}

void readOne(const QString &path, MessageFiles::Headers &out)
{
    QString error;
    const QByteArray head = headOfFile(path, &error);
    QString why;
    const QByteArray header = error.isEmpty() ? MessageFiles::headerOf(head, &why) : QByteArray();
    if (header.isEmpty())
        ++out.refused;
    else
        out.headers.append(header);
}

} // namespace

QByteArray MessageFiles::headerOf(const QByteArray &bytes, QString *why)
{
    const QByteArrayView head = QByteArrayView(bytes).first(std::min(bytes.size(), kBound + 1));
    qsizetype end = HeaderTokens::headerEnd(head);
    if (end < 0) {
        if (bytes.size() > kBound) {
            *why = QStringLiteral("its header does not end within the first %1 KB").arg(kBound / 1024);
            return {};
        }
        end = bytes.size();
    }
    const QByteArrayView header = head.first(end);
    if (header.trimmed().isEmpty()) {
        *why = QStringLiteral("it holds no header");
        return {};
    }
    if (header.contains('\0')) {
        *why = QStringLiteral("its header holds a NUL byte, which no mail header may");
        return {};
    }
    return header.toByteArray();
}

MessageFiles::Headers MessageFiles::read(const QString &path)
{
    Headers out;
    const QFileInfo info(path);
    if (info.isDir()) {
        QStringList folders;
        for (const QString &sub : {QStringLiteral("cur"), QStringLiteral("new")}) {
            if (QFileInfo(path + u'/' + sub).isDir())
                folders << path + u'/' + sub;
        }
        if (folders.isEmpty())
            folders << path;
        for (const QString &folder : folders) {
            const QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name);
            for (const QString &name : names)
                readOne(folder + u'/' + name, out);
        }
        return out;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        out.error = file.errorString();
        return out;
    }
    if (file.peek(5) == "From ")
        readMbox(file, out);
    else
        readOne(path, out);
    return out;
}
