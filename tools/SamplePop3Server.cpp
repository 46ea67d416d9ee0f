#include "SamplePop3Server.h"

#include <QDir>
#include <algorithm>
#include <functional>
#include <memory>
#include <utility>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

struct SamplePop3Server::Session {
    enum class State { Authorization, Transaction };
    State state = State::Authorization;
    QByteArray user;
    QSet<int> deleted;
    QByteArray input;
};

namespace {
constexpr int kMaxLine = 1024; // longer command lines are refused
constexpr qsizetype kWriteChunk = 256 * 1024;

QByteArray uidFromName(const QString &name, int index)
{
    QByteArray uid;
    for (const char c : name.toUtf8())
        if (c > 0x20 && c < 0x7f)
            uid += c;
    return uid.isEmpty() ? "msg" + QByteArray::number(index) : uid.left(70);
}

// Lines starting with "." get another one, as POP3 transfers require.
QByteArray dotStuffed(const QByteArray &text)
{
    // Most messages have no line to stuff: they go out as they are, uncopied.
    if (!text.startsWith('.') && !text.contains("\n.")) {
        if (text.endsWith("\r\n"))
            return text;
        return text + "\r\n";
    }
    QByteArray out;
    out.reserve(text.size() + 16);
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype eol = text.indexOf("\r\n", pos);
        const qsizetype end = eol < 0 ? text.size() : eol + 2;
        if (text.at(pos) == '.')
            out += '.';
        out += text.mid(pos, end - pos);
        pos = end;
    }
    if (!out.endsWith("\r\n"))
        out += "\r\n";
    return out;
}
} // namespace

SamplePop3Server::SamplePop3Server(QList<Message> messages, QByteArray user, QByteArray password, QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_messages(std::move(messages))
    , m_user(std::move(user))
    , m_password(std::move(password))
{
    connect(m_server, &QTcpServer::newConnection, this, &SamplePop3Server::onNewConnection);
}

QByteArray SamplePop3Server::toCrLf(const QByteArray &text)
{
    QByteArray out;
    out.reserve(text.size() + text.count('\n'));
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == '\n' && (i == 0 || text.at(i - 1) != '\r'))
            out += '\r';
        out += text.at(i);
    }
    return out;
}

QList<SamplePop3Server::Message> SamplePop3Server::loadFolder(const QString &folder, QString *error)
{
    QList<Message> messages;
    const QDir dir(folder);
    if (!dir.exists()) {
        if (error)
            *error = QStringLiteral("no such folder: ") + folder;
        return messages;
    }
    const QFileInfoList files = dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &info : files) {
        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        messages.append({toCrLf(file.readAll()),
                         QString::fromLatin1(uidFromName(info.completeBaseName(), int(messages.size()) + 1)),
                         info.filePath()});
    }
    return messages;
}

bool SamplePop3Server::listen(const QHostAddress &address, quint16 port)
{
    return m_server->listen(address, port);
}

quint16 SamplePop3Server::port() const
{
    return m_server->serverPort();
}

void SamplePop3Server::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        auto session = std::make_shared<Session>();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, session] {
            session->input += socket->readAll();
            // A pipelining client sends many commands at once: they are
            // answered in order, together, in one write.
            QByteArray answers;
            bool close = false;
            qsizetype pos = 0;
            qsizetype eol;
            while (!close && (eol = session->input.indexOf('\n', pos)) >= 0) {
                QByteArray line = session->input.mid(pos, eol - pos);
                pos = eol + 1;
                if (line.endsWith('\r'))
                    line.chop(1);
                answers += handle(*session, line, &close);
                // Long runs of answers go out as they are made, so that the
                // client reads the first while the rest are made.
                if (answers.size() >= kWriteChunk && !close && m_replyDelayMs == 0) {
                    reply(socket, std::exchange(answers, {}), false);
                    socket->flush();
                }
            }
            session->input.remove(0, pos); // once, not once per command
            if (!answers.isEmpty())
                reply(socket, answers, close);
            if (close)
                return;
            if (session->input.size() > kMaxLine) {
                reply(socket, "-ERR line too long\r\n", true);
                session->input.clear();
            }
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        reply(socket, "+OK Trelvik sample POP3 server ready\r\n", false);
    }
}

void SamplePop3Server::reply(QTcpSocket *socket, const QByteArray &text, bool close)
{
    QPointer<QTcpSocket> guard(socket);
    auto send = [guard, text, close] {
        if (!guard)
            return;
        guard->write(text);
        if (close)
            guard->disconnectFromHost();
    };
    if (m_replyDelayMs > 0)
        QTimer::singleShot(m_replyDelayMs, this, send);
    else
        send();
}

const SamplePop3Server::Message *SamplePop3Server::messageFor(const Session &session, const QByteArray &arg, int *index,
                                                              QByteArray *error) const
{
    bool ok = false;
    const int number = arg.toInt(&ok);
    if (!ok || number < 1 || number > m_messages.size()) {
        *error = "-ERR no such message\r\n";
        return nullptr;
    }
    if (session.deleted.contains(number)) {
        *error = "-ERR message " + QByteArray::number(number) + " already deleted\r\n";
        return nullptr;
    }
    *index = number;
    return &m_messages.at(number - 1);
}

QByteArray SamplePop3Server::handle(Session &session, const QByteArray &line, bool *close)
{
    const QList<QByteArray> words = line.split(' ');
    const QByteArray command = words.value(0).toUpper();
    const QByteArray arg1 = words.value(1);
    const QByteArray arg2 = words.value(2);

    if (command == "CAPA")
        return QByteArray("+OK capability list follows\r\nUSER\r\nTOP\r\nUIDL\r\n")
            + (m_offerPipelining ? "PIPELINING\r\n" : "") + ".\r\n";
    if (command == "NOOP")
        return "+OK\r\n";
    if (command == "QUIT") {
        *close = true;
        if (session.state == Session::State::Transaction) {
            // Deletions take effect now; the files go too.
            QList<int> numbers(session.deleted.begin(), session.deleted.end());
            std::sort(numbers.begin(), numbers.end(), std::greater<int>());
            for (int n : numbers) {
                const Message message = m_messages.takeAt(n - 1);
                if (!message.path.isEmpty())
                    QFile::remove(message.path);
            }
            return "+OK " + QByteArray::number(numbers.size()) + " messages deleted, bye\r\n";
        }
        return "+OK bye\r\n";
    }

    if (session.state == Session::State::Authorization) {
        if (command == "USER") {
            session.user = line.mid(5);
            return "+OK send the password\r\n";
        }
        if (command == "PASS") {
            if (!session.user.isEmpty() && session.user == m_user && line.mid(5) == m_password) {
                session.state = Session::State::Transaction;
                return "+OK maildrop has " + QByteArray::number(m_messages.size()) + " messages\r\n";
            }
            session.user.clear();
            return "-ERR invalid user or password\r\n";
        }
        return "-ERR log in first\r\n";
    }

    QByteArray error;
    int number = 0;
    if (command == "STAT") {
        qint64 octets = 0;
        int count = 0;
        for (int i = 0; i < m_messages.size(); ++i) {
            if (!session.deleted.contains(i + 1)) {
                ++count;
                octets += m_messages.at(i).data.size();
            }
        }
        return "+OK " + QByteArray::number(count) + ' ' + QByteArray::number(octets) + "\r\n";
    }
    if (command == "LIST" || command == "UIDL") {
        const bool list = command == "LIST";
        auto value = [&](int i) {
            return list ? QByteArray::number(m_messages.at(i - 1).data.size()) : m_messages.at(i - 1).uid.toLatin1();
        };
        if (!arg1.isEmpty()) {
            if (!messageFor(session, arg1, &number, &error))
                return error;
            return "+OK " + QByteArray::number(number) + ' ' + value(number) + "\r\n";
        }
        QByteArray out = "+OK\r\n";
        for (int i = 1; i <= m_messages.size(); ++i)
            if (!session.deleted.contains(i))
                out += QByteArray::number(i) + ' ' + value(i) + "\r\n";
        return out + ".\r\n";
    }
    if (command == "TOP" || command == "RETR") {
        const Message *message = messageFor(session, arg1, &number, &error);
        if (!message)
            return error;
        QByteArray text = message->data;
        if (command == "TOP") {
            bool ok = false;
            const int lines = arg2.toInt(&ok);
            if (!ok || lines < 0)
                return "-ERR TOP needs a message number and a line count\r\n";
            qsizetype end = text.indexOf("\r\n\r\n");
            end = end < 0 ? text.size() : end + 4;
            for (int i = 0; i < lines && end < text.size(); ++i) {
                const qsizetype eol = text.indexOf("\r\n", end);
                end = eol < 0 ? text.size() : eol + 2;
            }
            text = text.left(end);
        }
        return "+OK " + QByteArray::number(message->data.size()) + " octets\r\n" + dotStuffed(text) + ".\r\n";
    }
    if (command == "DELE") {
        if (!messageFor(session, arg1, &number, &error))
            return error;
        session.deleted.insert(number);
        return "+OK message " + QByteArray::number(number) + " deleted\r\n";
    }
    if (command == "RSET") {
        session.deleted.clear();
        return "+OK\r\n";
    }
    return "-ERR unknown command\r\n";
}
