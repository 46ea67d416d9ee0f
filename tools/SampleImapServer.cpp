#include "SampleImapServerParts.h"

#include <QPointer>
#include <QTcpServer>
#include <algorithm>
#include <utility>

using SampleImap::quotedString;
using SampleImap::wordsOf;

namespace {

constexpr qsizetype kMaxLine = 64 * 1024; // longer command lines end the session
constexpr qsizetype kMaxLiteral = 1024 * 1024;

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

QList<QByteArray> SampleImap::wordsOf(const QByteArray &text)
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

QByteArray SampleImap::quotedString(const QByteArray &text)
{
    QByteArray out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

SampleImapServer::SampleImapServer(QList<QByteArray> messages, QByteArray user, QByteArray password, QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_user(std::move(user))
    , m_password(std::move(password))
{
    // As in a mailbox with a history: UIDs far from sequence numbers, with
    // gaps where messages were expunged, and a UIDVALIDITY past 2^31.
    m_folders.insert(QStringLiteral("INBOX"), Folder{{}, 1001, 3857529045U, {}});
    m_folders.insert(QStringLiteral("Junk"), Folder{{}, 501, 2, "\\Junk"});
    m_folders.insert(QStringLiteral("Trash"), Folder{{}, 1, 3, "\\Trash"});
    Folder &inbox = m_folders[QStringLiteral("INBOX")];
    inbox.messages.reserve(messages.size());
    for (QByteArray &data : messages) {
        const qsizetype header = headerLength(data);
        if (inbox.messages.size() % 5 == 3)
            ++inbox.uidNext;
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
    if (m_silent)
        return;
    const QList<Session *> sessions = m_sessions.values();
    for (Session *session : sessions) {
        if (session->selected != folder || session->idleTag.isEmpty())
            continue;
        Reply reply{session->socket, {}, false};
        announce(*session, reply);
        reply.flush();
    }
}

void SampleImapServer::expungeElsewhere(const QList<quint32> &uids, const QString &folder)
{
    QList<Message> &messages = m_folders[folder].messages;
    messages.removeIf([&uids](const Message &m) { return uids.contains(m.uid); });
    for (Session *session : std::as_const(m_sessions))
        if (session->selected == folder)
            session->known = qMin(session->known, messages.size());
}

void SampleImapServer::markDeletedElsewhere(const QList<quint32> &uids, const QString &folder)
{
    for (Message &m : m_folders[folder].messages)
        m.deleted = m.deleted || uids.contains(m.uid);
}

QList<quint32> SampleImapServer::uids(const QString &folder) const
{
    QList<quint32> out;
    for (const Message &m : m_folders.value(folder).messages)
        out.append(m.uid);
    return out;
}

quint32 SampleImapServer::uidValidity(const QString &folder) const
{
    return m_folders.value(folder).uidValidity;
}

void SampleImapServer::status(const QByteArray &tag, const QByteArray &name, Reply &reply)
{
    const QString folder = name.compare("INBOX", Qt::CaseInsensitive) == 0 ? QStringLiteral("INBOX")
                                                                           : QString::fromUtf8(name);
    if (!m_folders.contains(folder)) {
        reply.add(tag + " NO [NONEXISTENT] no such folder\r\n");
        return;
    }
    const Folder &f = m_folders.value(folder);
    reply.add("* STATUS " + quotedString(folder.toUtf8()) + " (MESSAGES " + QByteArray::number(f.messages.size())
              + " UIDNEXT " + QByteArray::number(f.uidNext) + ")\r\n" + tag + " OK STATUS completed\r\n");
}

void SampleImapServer::dropConnections()
{
    // Each abort takes its socket off the list.
    const QList<QTcpSocket *> sockets = m_sockets;
    for (QTcpSocket *socket : sockets)
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
    if (session.selected.isEmpty() || m_silent)
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
    if (m_beforeCommand)
        m_beforeCommand(m_commands.constLast());
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
    } else if (command == "STATUS") {
        status(tag, words.value(0), reply);
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
    session.seenUpTo = f.uidNext;
    reply.add("* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)\r\n* " + QByteArray::number(f.messages.size())
              + " EXISTS\r\n* 0 RECENT\r\n* OK [UIDVALIDITY " + QByteArray::number(f.uidValidity)
              + "] UIDs valid\r\n* OK [UIDNEXT " + QByteArray::number(f.uidNext) + "] next UID\r\n" + tag
              + (readOnly ? " OK [READ-ONLY] EXAMINE completed\r\n" : " OK [READ-WRITE] SELECT completed\r\n"));
}
