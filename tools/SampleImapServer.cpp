#include "SampleImapServer.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <utility>

namespace {

constexpr qsizetype kMaxLine = 64 * 1024; // longer command lines end the session
constexpr qsizetype kMaxLiteral = 1024 * 1024;
constexpr qsizetype kWriteChunk = 256 * 1024;
const QByteArray kInternalDate = "\"06-Dec-2026 10:00:00 +0000\"";

// The command's arguments as words: atoms, quoted strings (unquoted) and
// parenthesised lists (kept whole, parentheses included).
QList<QByteArray> wordsOf(const QByteArray &text)
{
    QList<QByteArray> words;
    qsizetype i = 0;
    while (i < text.size()) {
        if (text.at(i) == ' ') {
            ++i;
            continue;
        }
        QByteArray word;
        if (text.at(i) == '"') {
            for (++i; i < text.size() && text.at(i) != '"'; ++i) {
                if (text.at(i) == '\\' && i + 1 < text.size())
                    ++i;
                word += text.at(i);
            }
            ++i;
        } else {
            int depth = 0;
            for (; i < text.size() && (depth > 0 || text.at(i) != ' '); ++i) {
                depth += text.at(i) == '(' ? 1 : text.at(i) == ')' ? -1 : 0;
                word += text.at(i);
            }
        }
        words.append(word);
    }
    return words;
}

QByteArray quotedString(const QByteArray &text)
{
    QByteArray out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

qsizetype headerLength(const QByteArray &data)
{
    const qsizetype end = data.indexOf("\r\n\r\n");
    return end < 0 ? data.size() : end + 4;
}

QByteArray subjectOf(const QByteArray &header)
{
    for (const QByteArray &line : header.split('\n')) {
        if (line.size() > 8 && line.first(8).compare("Subject:", Qt::CaseInsensitive) == 0)
            return line.sliced(8).trimmed();
    }
    return {};
}

} // namespace

struct SampleImapServer::Session {
    QTcpSocket *socket = nullptr;
    QByteArray input;
    bool authenticated = false;
    QString selected; // empty: no folder selected
    bool readOnly = false;
    QByteArray idleTag; // while idling
    QByteArray authTag; // while AUTHENTICATE awaits the client's response
    qsizetype known = 0; // messages of the selected folder the client was told of
    qsizetype prompted = -1; // where a literal was last asked for
};

// What goes back to the client, written out in pieces as it grows.
struct SampleImapServer::Reply {
    QTcpSocket *socket;
    QByteArray bytes;
    bool close = false;

    void add(const QByteArray &text)
    {
        bytes += text;
        if (bytes.size() >= kWriteChunk)
            flush();
    }
    void flush()
    {
        if (bytes.isEmpty())
            return;
        socket->write(std::exchange(bytes, {}));
        socket->flush();
    }
};

SampleImapServer::SampleImapServer(QList<QByteArray> messages, QByteArray user, QByteArray password, QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_user(std::move(user))
    , m_password(std::move(password))
{
    m_folders.insert(QStringLiteral("INBOX"), Folder{{}, 1, 1, {}});
    m_folders.insert(QStringLiteral("Junk"), Folder{{}, 1, 2, "\\Junk"});
    m_folders.insert(QStringLiteral("Trash"), Folder{{}, 1, 3, "\\Trash"});
    Folder &inbox = m_folders[QStringLiteral("INBOX")];
    inbox.messages.reserve(messages.size());
    for (QByteArray &data : messages) {
        const qsizetype header = headerLength(data);
        inbox.messages.append({std::move(data), header, inbox.uidNext++});
    }
    connect(m_server, &QTcpServer::newConnection, this, &SampleImapServer::onNewConnection);
}

SampleImapServer::~SampleImapServer()
{
    qDeleteAll(std::exchange(m_sessions, {}));
}

QList<QByteArray> SampleImapServer::generated(int count)
{
    QList<QByteArray> messages;
    messages.reserve(count);
    for (int i = 1; i <= count; ++i) {
        const QByteArray n = QByteArray::number(i);
        messages.append("From: Sender " + n + " <sender" + n
                        + "@example.com>\r\nTo: user@example.org\r\nSubject: "
                          "Message "
                        + n + "\r\nDate: Sun, 6 Dec 2026 10:00:00 +0000\r\nMessage-ID: <" + n
                        + "@sample.example>\r\n\r\nBody of message " + n + ".\r\n");
    }
    return messages;
}

bool SampleImapServer::listen(const QHostAddress &address, quint16 port)
{
    return m_server->listen(address, port);
}

quint16 SampleImapServer::port() const
{
    return m_server->serverPort();
}

QByteArray SampleImapServer::capabilities() const
{
    return QByteArray("IMAP4rev1") + (m_offerIdle ? " IDLE" : "") + (m_offerMove ? " MOVE" : "")
        + " UIDPLUS SPECIAL-USE SASL-IR AUTH=PLAIN LITERAL+";
}

int SampleImapServer::messageCount(const QString &folder) const
{
    return int(m_folders.value(folder).messages.size());
}

QList<QByteArray> SampleImapServer::subjects(const QString &folder) const
{
    QList<QByteArray> out;
    for (const Message &m : m_folders.value(folder).messages)
        out.append(subjectOf(m.data.first(m.headerBytes)));
    return out;
}

bool SampleImapServer::anySeen(const QString &folder) const
{
    const QList<Message> &messages = m_folders.value(folder).messages;
    return std::any_of(messages.cbegin(), messages.cend(), [](const Message &m) { return m.seen; });
}

void SampleImapServer::deliver(const QByteArray &message, const QString &folder)
{
    Folder &f = m_folders[folder];
    f.messages.append({message, headerLength(message), f.uidNext++});
    for (Session *session : std::as_const(m_sessions)) {
        if (session->selected != folder || session->idleTag.isEmpty())
            continue;
        Reply reply{session->socket, {}, false};
        announce(*session, reply);
        reply.flush();
    }
}

void SampleImapServer::dropConnections()
{
    for (QTcpSocket *socket : std::as_const(m_sockets))
        socket->abort();
}

void SampleImapServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        ++m_connections;
        // The tail of an answer must not wait for the client's delayed ACK.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto *session = new Session;
        session->socket = socket;
        m_sockets.append(socket);
        m_sessions.insert(socket, session);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, session] { onReadyRead(socket, *session); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_sockets.removeAll(socket);
            delete m_sessions.take(socket);
            socket->deleteLater();
        });
        socket->write("* OK [CAPABILITY " + capabilities() + "] Trelvik sample IMAP server ready\r\n");
    }
}

// A command line whole, its literals taken in as quoted strings; false
// while more is to come.
bool SampleImapServer::takeCommand(Session &session, QByteArray &line)
{
    qsizetype from = 0;
    for (;;) {
        const qsizetype eol = session.input.indexOf("\r\n", from);
        if (eol < 0)
            return false;
        const qsizetype open = session.input.lastIndexOf('{', eol);
        if (open < from || !session.input.sliced(open, eol - open).endsWith('}')) {
            line = session.input.first(eol);
            session.input.remove(0, eol + 2);
            session.prompted = -1;
            return true;
        }
        const QByteArray count = session.input.sliced(open + 1, eol - open - 2);
        const bool plus = count.endsWith('+');
        const qsizetype bytes = (plus ? count.chopped(1) : count).toLongLong();
        if (bytes < 0 || bytes > kMaxLiteral)
            return false;
        if (!plus && session.prompted != eol) {
            session.socket->write("+ Ready for literal data\r\n");
            session.prompted = eol;
        }
        if (session.input.size() < eol + 2 + bytes)
            return false;
        const QByteArray literal = quotedString(session.input.sliced(eol + 2, bytes));
        session.input.replace(open, eol + 2 + bytes - open, literal);
        from = open + literal.size();
    }
}

void SampleImapServer::onReadyRead(QTcpSocket *socket, Session &session)
{
    session.input += socket->readAll();
    // Commands sent ahead are answered in order, together.
    Reply reply{socket, {}, false};
    QByteArray line;
    while (!reply.close && takeCommand(session, line))
        handle(session, line, reply);
    if (session.input.size() > kMaxLine + kMaxLiteral) {
        reply.add("* BYE command line too long\r\n");
        reply.close = true;
    }
    QPointer<QTcpSocket> guard(socket);
    reply.flush();
    if (reply.close && guard)
        guard->disconnectFromHost();
}

void SampleImapServer::announce(Session &session, Reply &reply)
{
    if (session.selected.isEmpty())
        return;
    const qsizetype count = m_folders.value(session.selected).messages.size();
    if (count > session.known)
        reply.add("* " + QByteArray::number(count) + " EXISTS\r\n");
    session.known = count;
}

void SampleImapServer::handle(Session &session, const QByteArray &line, Reply &reply)
{
    if (!session.idleTag.isEmpty()) {
        const QByteArray tag = std::exchange(session.idleTag, {});
        reply.add(line.compare("DONE", Qt::CaseInsensitive) == 0 ? tag + " OK IDLE terminated\r\n"
                                                                 : tag + " BAD expected DONE\r\n");
        return;
    }
    if (!session.authTag.isEmpty()) {
        const QByteArray tag = std::exchange(session.authTag, {});
        const QList<QByteArray> parts = QByteArray::fromBase64(line).split('\0');
        if (line == "*")
            reply.add(tag + " BAD AUTHENTICATE cancelled\r\n");
        else
            login(session, tag, parts.value(1), parts.value(2), reply);
        return;
    }
    const QList<QByteArray> head = line.split(' ');
    const QByteArray tag = head.value(0);
    QByteArray command = head.value(1).toUpper();
    qsizetype argsAt = tag.size() + command.size() + 2;
    if (command == "UID") {
        command += ' ' + head.value(2).toUpper();
        argsAt += head.value(2).size() + 1;
    }
    const QByteArray args = line.mid(argsAt);
    const QList<QByteArray> words = wordsOf(args);
    m_commands.append(line.mid(tag.size() + 1));
    if (tag.isEmpty() || command.isEmpty()) {
        reply.add("* BAD no command\r\n");
    } else if (command == "CAPABILITY") {
        reply.add("* CAPABILITY " + capabilities() + "\r\n" + tag + " OK CAPABILITY completed\r\n");
    } else if (command == "NOOP") {
        announce(session, reply);
        reply.add(tag + " OK NOOP completed\r\n");
    } else if (command == "LOGOUT") {
        reply.add("* BYE logging out\r\n" + tag + " OK LOGOUT completed\r\n");
        reply.close = true;
    } else if (!session.authenticated) {
        if (command == "LOGIN" && words.size() == 2)
            login(session, tag, words.at(0), words.at(1), reply);
        else if (command == "AUTHENTICATE" && words.value(0).toUpper() == "PLAIN" && words.size() == 2) {
            session.authTag = tag; // the initial response (SASL-IR) is the response
            handle(session, words.at(1), reply);
        } else if (command == "AUTHENTICATE" && words.value(0).toUpper() == "PLAIN") {
            session.authTag = tag;
            reply.add("+ \r\n");
        } else
            reply.add(tag + " BAD log in first\r\n");
    } else if (command == "LIST") {
        for (auto it = m_folders.cbegin(); it != m_folders.cend(); ++it)
            reply.add("* LIST (\\HasNoChildren" + (it->specialUse.isEmpty() ? QByteArray() : ' ' + it->specialUse)
                      + ") \"/\" " + quotedString(it.key().toUtf8()) + "\r\n");
        reply.add(tag + " OK LIST completed\r\n");
    } else if (command == "SELECT" || command == "EXAMINE") {
        select(session, tag, words.value(0), command == "EXAMINE", reply);
    } else if (command == "IDLE" && m_offerIdle) {
        announce(session, reply);
        session.idleTag = tag;
        reply.add("+ idling\r\n");
        // Once the "+" is out: a delivery then comes as the client idles.
        QMetaObject::invokeMethod(this, &SampleImapServer::idling, Qt::QueuedConnection);
    } else if (session.selected.isEmpty()) {
        reply.add(tag + " BAD select a folder first\r\n");
    } else {
        handleSelected(session, tag, command, args, reply);
    }
}

void SampleImapServer::login(Session &session, const QByteArray &tag, const QByteArray &user,
                             const QByteArray &password, Reply &reply)
{
    session.authenticated = user == m_user && password == m_password;
    reply.add(session.authenticated ? tag + " OK [CAPABILITY " + capabilities() + "] logged in\r\n"
                                    : tag + " NO [AUTHENTICATIONFAILED] invalid user or password\r\n");
}

void SampleImapServer::select(Session &session, const QByteArray &tag, const QByteArray &name, bool readOnly,
                              Reply &reply)
{
    const QString folder = name.compare("INBOX", Qt::CaseInsensitive) == 0 ? QStringLiteral("INBOX")
                                                                           : QString::fromUtf8(name);
    session.selected.clear();
    if (!m_folders.contains(folder)) {
        reply.add(tag + " NO [NONEXISTENT] no such folder\r\n");
        return;
    }
    const Folder &f = m_folders.value(folder);
    session.selected = folder;
    session.readOnly = readOnly;
    session.known = f.messages.size();
    reply.add("* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)\r\n* " + QByteArray::number(f.messages.size())
              + " EXISTS\r\n* 0 RECENT\r\n* OK [UIDVALIDITY " + QByteArray::number(f.uidValidity)
              + "] UIDs valid\r\n* OK [UIDNEXT " + QByteArray::number(f.uidNext) + "] next UID\r\n" + tag
              + (readOnly ? " OK [READ-ONLY] EXAMINE completed\r\n" : " OK [READ-WRITE] SELECT completed\r\n"));
}

void SampleImapServer::handleSelected(Session &session, const QByteArray &tag, const QByteArray &command,
                                      const QByteArray &args, Reply &reply)
{
    Folder &folder = m_folders[session.selected];
    const qsizetype space = args.indexOf(' ');
    const QByteArray set = space < 0 ? args : args.left(space);
    const QByteArray rest = space < 0 ? QByteArray() : args.mid(space + 1);
    const bool changes = command == "UID MOVE" || command == "UID STORE" || command == "UID EXPUNGE";
    if (changes && session.readOnly) {
        reply.add(tag + " NO the folder is read-only\r\n");
        return;
    }
    if (command == "UID FETCH") {
        fetch(session, set, rest.toUpper(), reply);
    } else if (command == "UID SEARCH") {
        const QList<QByteArray> words = wordsOf(args);
        const bool all = words.value(0).toUpper() == "ALL";
        if (!all && (words.size() != 2 || words.at(0).toUpper() != "UID")) {
            reply.add(tag + " BAD only UID SEARCH UID <set> and ALL\r\n");
            return;
        }
        QByteArray found = "* SEARCH";
        const QList<qsizetype> indexes = all ? indexesOf(folder, "1:*") : indexesOf(folder, words.at(1));
        for (const qsizetype i : indexes)
            found += ' ' + QByteArray::number(folder.messages.at(i).uid);
        reply.add(found + "\r\n");
    } else if (command == "UID MOVE" || command == "UID COPY") {
        if (command == "UID MOVE" && !m_offerMove) {
            reply.add(tag + " BAD unknown command\r\n");
            return;
        }
        transfer(session, tag, args, command == "UID MOVE", reply);
        return;
    } else if (command == "UID STORE") {
        const QList<QByteArray> words = wordsOf(rest);
        const QByteArray op = words.value(0).toUpper();
        const QByteArray flags = words.value(1).toUpper();
        const bool add = !op.startsWith('-');
        for (const qsizetype i : indexesOf(folder, set)) {
            Message &m = folder.messages[i];
            if (op.startsWith("FLAGS"))
                m.deleted = m.seen = false;
            m.deleted = flags.contains("\\DELETED") ? add : m.deleted;
            m.seen = flags.contains("\\SEEN") ? add : m.seen;
            if (!op.endsWith(".SILENT"))
                reply.add("* " + QByteArray::number(i + 1) + " FETCH (UID " + QByteArray::number(m.uid) + " FLAGS ("
                          + (m.seen ? "\\Seen" : "") + (m.seen && m.deleted ? " " : "") + (m.deleted ? "\\Deleted" : "")
                          + "))\r\n");
        }
    } else if (command == "UID EXPUNGE") {
        QList<qsizetype> marked;
        for (const qsizetype i : indexesOf(folder, set))
            if (folder.messages.at(i).deleted)
                marked.append(i);
        expunge(session, marked, reply);
    } else {
        reply.add(tag + " BAD unknown command\r\n");
        return;
    }
    announce(session, reply);
    reply.add(tag + " OK " + command + " completed\r\n");
}

void SampleImapServer::fetch(Session &session, const QByteArray &set, const QByteArray &items, Reply &reply)
{
    Folder &folder = m_folders[session.selected];
    const bool size = items.contains("RFC822.SIZE");
    const bool date = items.contains("INTERNALDATE");
    const bool flags = items.contains("FLAGS");
    const bool peek = items.contains("BODY.PEEK[HEADER]");
    const bool header = peek || items.contains("BODY[HEADER]");
    for (const qsizetype i : indexesOf(folder, set)) {
        Message &m = folder.messages[i];
        if (header && !peek && !session.readOnly)
            m.seen = true;
        QByteArray line = "* " + QByteArray::number(i + 1) + " FETCH (UID " + QByteArray::number(m.uid);
        if (size)
            line += " RFC822.SIZE " + QByteArray::number(m.data.size());
        if (date)
            line += " INTERNALDATE " + kInternalDate;
        if (flags)
            line += QByteArray(" FLAGS (") + (m.seen ? "\\Seen" : "") + ")";
        if (header) {
            reply.add(line + " BODY[HEADER] {" + QByteArray::number(m.headerBytes) + "}\r\n");
            reply.add(QByteArray::fromRawData(m.data.constData(), m.headerBytes));
            reply.add(")\r\n");
        } else {
            reply.add(line + ")\r\n");
        }
    }
}

void SampleImapServer::transfer(Session &session, const QByteArray &tag, const QByteArray &args, bool move,
                                Reply &reply)
{
    const QList<QByteArray> words = wordsOf(args);
    const QString name = words.value(1).compare("INBOX", Qt::CaseInsensitive) == 0 ? QStringLiteral("INBOX")
                                                                                   : QString::fromUtf8(words.value(1));
    if (words.size() != 2 || !m_folders.contains(name) || name == session.selected) {
        reply.add(tag + " NO [TRYCREATE] no such folder\r\n");
        return;
    }
    Folder &source = m_folders[session.selected];
    Folder &target = m_folders[name];
    const QList<qsizetype> indexes = indexesOf(source, words.at(0));
    QByteArrayList from, to;
    for (const qsizetype i : indexes) {
        Message copy = source.messages.at(i);
        from.append(QByteArray::number(copy.uid));
        copy.uid = target.uidNext++;
        copy.deleted = false;
        to.append(QByteArray::number(copy.uid));
        target.messages.append(std::move(copy));
    }
    const QByteArray code = indexes.isEmpty()
        ? QByteArray()
        : "[COPYUID " + QByteArray::number(target.uidValidity) + ' ' + from.join(',') + ' ' + to.join(',') + "] ";
    if (move) {
        reply.add("* OK " + code + "moved\r\n");
        expunge(session, indexes, reply);
    }
    announce(session, reply);
    reply.add(tag + " OK " + (move ? QByteArray() : code) + (move ? "MOVE" : "COPY") + " completed\r\n");
}

void SampleImapServer::expunge(Session &session, const QList<qsizetype> &indexes, Reply &reply)
{
    QList<Message> &messages = m_folders[session.selected].messages;
    // From the last, so that each number is still the message's own.
    for (auto i = indexes.crbegin(); i != indexes.crend(); ++i) {
        messages.removeAt(*i);
        reply.add("* " + QByteArray::number(*i + 1) + " EXPUNGE\r\n");
        --session.known;
    }
}

QList<qsizetype> SampleImapServer::indexesOf(const Folder &folder, const QByteArray &set) const
{
    QList<qsizetype> indexes;
    const QList<Message> &messages = folder.messages;
    if (messages.isEmpty())
        return indexes;
    const quint32 last = messages.constLast().uid;
    const auto number = [last](const QByteArray &text) { return text == "*" ? last : text.toUInt(); };
    for (const QByteArray &range : set.split(',')) {
        const qsizetype colon = range.indexOf(':');
        quint32 low = number(range.left(colon < 0 ? range.size() : colon));
        quint32 high = colon < 0 ? low : number(range.mid(colon + 1));
        if (low > high)
            std::swap(low, high);
        auto it = std::lower_bound(messages.cbegin(), messages.cend(), low,
                                   [](const Message &m, quint32 uid) { return m.uid < uid; });
        for (; it != messages.cend() && it->uid <= high; ++it)
            indexes.append(it - messages.cbegin());
    }
    std::sort(indexes.begin(), indexes.end());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    return indexes;
}
