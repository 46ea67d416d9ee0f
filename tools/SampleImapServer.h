#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>

class QTcpServer;
class QTcpSocket;

// A small IMAP server for trying Trelvik without a mail account, for the
// watch's tests and for benchmarks: the subset screening uses (login,
// LIST with special-use folders, EXAMINE/SELECT, UID FETCH/SEARCH/MOVE/
// COPY/STORE/EXPUNGE, IDLE) on a loopback address, for the one user and
// password it was given. Three folders: INBOX, Junk (\Junk) and Trash
// (\Trash). Not a mail server for real use: no TLS, everything in memory,
// sequence numbers are the folder's current ones in every session, and a
// session hears of new mail (EXISTS) but not of another session's expunges.
class SampleImapServer : public QObject {
    Q_OBJECT
public:
    SampleImapServer(QList<QByteArray> messages, QByteArray user, QByteArray password, QObject *parent = nullptr);
    ~SampleImapServer() override;

    // `count` small messages, each with a distinct sender and subject.
    static QList<QByteArray> generated(int count);

    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    quint16 port() const;

    // Leaves IDLE and MOVE out of the capabilities (and refuses them).
    void setOfferIdle(bool offer) { m_offerIdle = offer; }
    void setOfferMove(bool offer) { m_offerMove = offer; }
    // Like some servers, tells a selected folder of nothing: no EXISTS, and
    // a session sees only the messages there when it opened the folder,
    // until it opens it again (STATUS still tells the truth).
    void setSilent(bool silent) { m_silent = silent; }
    // Called with each command (without its tag) before it is answered:
    // another client's doings between any two commands.
    void setBeforeCommand(std::function<void(const QByteArray &command)> hook) { m_beforeCommand = std::move(hook); }
    // Adds a message to a folder; sessions idling on it hear of it at once,
    // the others with the answer to their next command.
    void deliver(const QByteArray &message, const QString &folder = QStringLiteral("INBOX"));
    // Another client's expunge of these UIDs; sessions are not told.
    void expungeElsewhere(const QList<quint32> &uids, const QString &folder = QStringLiteral("INBOX"));
    // Another client's \Deleted flag on these UIDs.
    void markDeletedElsewhere(const QList<quint32> &uids, const QString &folder = QStringLiteral("INBOX"));
    // The UIDs of a folder, ascending, and its UIDVALIDITY.
    QList<quint32> uids(const QString &folder = QStringLiteral("INBOX")) const;
    quint32 uidValidity(const QString &folder = QStringLiteral("INBOX")) const;
    // Closes every client connection without a word (a lost network).
    void dropConnections();
    // How many messages a folder holds, and their headers' Subject values.
    int messageCount(const QString &folder = QStringLiteral("INBOX")) const;
    QList<QByteArray> subjects(const QString &folder) const;
    // Whether any message of the folder carries \Seen.
    bool anySeen(const QString &folder) const;
    // Connections accepted so far; commands received (without tags).
    int connectionCount() const { return m_connections; }
    const QList<QByteArray> &commands() const { return m_commands; }

Q_SIGNALS:
    // A session started idling (for tests that deliver once a client waits).
    void idling();

private:
    struct Message {
        QByteArray data;
        qsizetype headerBytes = 0; // up to and including the empty line
        quint32 uid = 0;
        bool seen = false;
        bool deleted = false;
    };
    struct Folder {
        QList<Message> messages; // ascending UIDs
        quint32 uidNext = 1;
        quint32 uidValidity = 1;
        QByteArray specialUse;
    };
    struct Session;
    struct Reply;

    void onNewConnection();
    void onReadyRead(QTcpSocket *socket, Session &session);
    bool takeCommand(Session &session, QByteArray &line);
    void handle(Session &session, const QByteArray &line, Reply &reply);
    void handleSelected(Session &session, const QByteArray &tag, const QByteArray &command, const QByteArray &args,
                        Reply &reply);
    void login(Session &session, const QByteArray &tag, const QByteArray &user, const QByteArray &password,
               Reply &reply);
    void select(Session &session, const QByteArray &tag, const QByteArray &name, bool readOnly, Reply &reply);
    void fetch(Session &session, const QByteArray &set, const QByteArray &items, Reply &reply);
    void transfer(Session &session, const QByteArray &tag, const QByteArray &args, bool move, Reply &reply);
    void expunge(Session &session, const QList<qsizetype> &indexes, Reply &reply);
    QList<qsizetype> indexesOf(const Session &session, const Folder &folder, const QByteArray &set) const;
    bool search(const Session &session, const QByteArray &tag, const QByteArray &args, Reply &reply);
    void status(const QByteArray &tag, const QByteArray &name, Reply &reply);
    void announce(Session &session, Reply &reply);
    QByteArray capabilities() const;

    QTcpServer *m_server;
    QHash<QString, Folder> m_folders;
    QByteArray m_user;
    QByteArray m_password;
    bool m_offerIdle = true;
    bool m_offerMove = true;
    bool m_silent = false;
    std::function<void(const QByteArray &)> m_beforeCommand;
    int m_connections = 0;
    QList<QByteArray> m_commands;
    QList<QTcpSocket *> m_sockets;
    QHash<QTcpSocket *, Session *> m_sessions;
};
