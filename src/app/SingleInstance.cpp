#include "SingleInstance.h"

#include "RuleDatabase.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace {
constexpr int kWaitMs = 2000;
}

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

void SingleInstance::askHolderToShow()
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(kWaitMs))
        return;
    // The holder answers by closing; either way this copy ends now.
    if (socket.state() == QLocalSocket::ConnectedState)
        socket.waitForDisconnected(kWaitMs);
}
