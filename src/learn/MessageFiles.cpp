#include "MessageFiles.h"

#include "HeaderTokens.h"
#include "HeaderWalk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <string_view>

namespace {

constexpr qsizetype kBound = HeaderTokens::kMaxHeaderBytes;

// The headers of one read() on their way out, a batch at a time.
class Batches {
public:
    explicit Batches(const MessageFiles::Take &take)
        : m_take(take)
    {
    }
    void add(const QByteArray &header)
    {
        m_batch.append(header);
        m_bytes += header.size();
        if (m_batch.size() >= MessageFiles::kBatchHeaders || m_bytes >= MessageFiles::kBatchBytes)
            handOn();
    }
    // False once the taker stopped: nothing more is read.
    bool handOn()
    {
        if (!m_batch.isEmpty() && m_going)
            m_going = m_take(m_batch);
        m_batch.clear();
        m_bytes = 0;
        return m_going;
    }
    bool going() const { return m_going; }

    MessageFiles::Totals totals;

private:
    const MessageFiles::Take &m_take;
    QList<QByteArray> m_batch;
    qsizetype m_bytes = 0;
    bool m_going = true;
};

// mbox: messages start at lines "From "; a header runs to its blank line.
void readMbox(QFile &file, Batches &out)
{
    QByteArray header;
    bool inHeader = false;
    bool overflow = false;
    auto finish = [&] {
        if (inHeader || !header.isEmpty()) {
            QString why;
            if (overflow || MessageFiles::headerOf(header + "\n", &why).isEmpty())
                ++out.totals.refused;
            else
                out.add(header);
        }
        header.clear();
        inHeader = false;
        overflow = false;
    };
    // A line longer than a read comes in pieces; only a piece that begins a
    // line can start a message or end a header, or a long body line could
    // pass off its tail as a message of its own. In a body, only a "From "
    // line after a blank one starts the next message: a writer that did not
    // quote "From here on..." still wrote a blank line before its separators.
    bool lineStart = true;
    bool afterBlank = true;
    while (!file.atEnd() && out.going()) {
        const QByteArray line = file.readLine(kBound);
        if (line.isEmpty()) {
            // Not at the end, yet nothing read: the file failed, and asking
            // again would only fail again. The message it was in is left out.
            out.totals.error = file.errorString();
            return;
        }
        const bool whole = lineStart;
        const bool blank = whole && (line == "\n" || line == "\r\n");
        const bool separates = afterBlank || inHeader;
        lineStart = line.endsWith('\n');
        afterBlank = blank;
        if (whole && separates && line.startsWith("From ")) {
            finish();
            inHeader = true;
            continue;
        }
        if (!inHeader)
            continue;
        if (blank) {
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

// Whether the block holds a field that mail carries. Any line with a colon
// reads as a field ("Notes: ...", a JSON record's "{"id":"): only a name
// that every message has at least one of tells a header from other text.
bool hasMailField(QByteArrayView header)
{
    static constexpr std::string_view kMailFields[] = {"cc",          "date",         "delivered-to", "from",
                                                       "message-id",  "mime-version", "received",     "reply-to",
                                                       "return-path", "sender",       "subject",      "to"};
    bool found = false;
    HeaderWalk::forEach(header, [&found](QByteArrayView name, QByteArrayView) {
        found = found || std::any_of(std::begin(kMailFields), std::end(kMailFields), [name](std::string_view field) {
                    return name == QByteArrayView(field);
                });
    });
    return found;
}

// A single message from the file as opened: its start, no more than the
// header can be. Read from the same handle that was peeked at, so that a
// pipe ("/dev/stdin") gives what it held.
void readOne(QFile &file, Batches &out)
{
    QString why;
    const QByteArray header = MessageFiles::headerOf(file.read(kBound + 1), &why);
    if (header.isEmpty())
        ++out.totals.refused;
    else
        out.add(header);
}

void readOpened(QFile &file, Batches &out)
{
    if (file.peek(5) == "From ")
        readMbox(file, out);
    else
        readOne(file, out);
}

// A file of a folder: an mbox among them (a mail program's folder of
// mailboxes) gives every message it holds, not just its first. Only plain
// files are opened: a link to a pipe or a device would wait for ever.
void readFile(const QString &path, Batches &out)
{
    if (!QFileInfo(path).isFile())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (out.totals.unreadable++ == 0)
            out.totals.unreadableWhy = file.errorString();
        return;
    }
    readOpened(file, out);
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
    if (!hasMailField(header)) {
        *why = QStringLiteral("it holds none of a mail header's fields (From, To, Date, Subject...)");
        return {};
    }
    return header.toByteArray();
}

MessageFiles::Totals MessageFiles::read(const QString &path, const Take &take)
{
    Batches out(take);
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
            // An empty listing is all QDir gives for a folder it may not
            // read: told apart here, it is no folder without mail.
            const QFileInfo listed(folder);
            if (!listed.isReadable() || !listed.isExecutable()) {
                out.totals.error = QStringLiteral("the folder \"%1\" cannot be listed").arg(folder);
                break;
            }
            const QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name);
            for (const QString &name : names) {
                if (!out.going())
                    break;
                readFile(folder + u'/' + name, out);
            }
        }
        out.handOn();
        return out.totals;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        out.totals.error = file.errorString();
        return out.totals;
    }
    readOpened(file, out);
    out.handOn();
    return out.totals;
}
