#include "SingleInstance.h"

#include "RuleDatabase.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kWaitMs = 2000;

bool isSocket(const QString &path)
{
    struct stat st { };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// To make its socket private, QLocalServer binds it as "s" in a new folder
// ".XXXXXX" beside the final name and renames it into place; a kill in
// between leaves that folder for good. Only folders of exactly that shape
// go: a hidden name of six letters or digits, holding a socket "s" or
// nothing.
void removeStraySocketFolders(const QString &folder)
{
    const QDir dir(folder);
    const QStringList names = dir.entryList({QStringLiteral(".??????")},
                                            QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QString &name : names) {
        bool shaped = true;
        for (const QChar c : QStringView(name).mid(1))
            shaped = shaped && c.unicode() < 0x80 && c.isLetterOrNumber();
        if (!shaped)
            continue;
        const QString stray = dir.filePath(name);
        const QStringList inside =
            QDir(stray).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        const QString socket = stray + QStringLiteral("/s");
        if (inside.isEmpty() || (inside == QStringList{QStringLiteral("s")} && isSocket(socket))) {
            ::unlink(QFile::encodeName(socket).constData());
            ::rmdir(QFile::encodeName(stray).constData());
        }
    }
}

} // namespace

SingleInstance::SingleInstance(const QString &dataFolder, QObject *parent)
    : QObject(parent)
    , m_lock(dataFolder.isEmpty() ? RuleDatabase::defaultFolder() : dataFolder)
{
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
}

QString SingleInstance::socketPath() const
{
    return m_lock.folder() + QLatin1Char('/') + QLatin1String(kSocketName);
}

DataFolderLock::Result SingleInstance::tryAcquire(QString *error)
{
    return m_lock.tryAcquire(error);
}

void SingleInstance::listen()
{
    if (!m_lock.isHeld() || m_server)
        return;
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Holding the lock, this copy is the only one: a socket file still there
    // was left by a copy that ended without closing it.
    QLocalServer::removeServer(socketPath());
    removeStraySocketFolders(m_lock.folder());
    // Without the socket a later start still ends; it only cannot show this
    // window.
    if (!m_server->listen(socketPath()))
        return;
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromServer();
            Q_EMIT showRequested();
        }
    });
}

bool SingleInstance::askHolderToShow()
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(kWaitMs))
        return false;
    // The holder answers by closing; either way this copy ends now.
    if (socket.state() == QLocalSocket::ConnectedState)
        socket.waitForDisconnected(kWaitMs);
    return true;
}
