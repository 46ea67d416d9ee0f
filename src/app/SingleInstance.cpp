#include "SingleInstance.h"

#include <QDir>
#include <QStandardPaths>

QString SingleInstance::lockPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + QStringLiteral("/trelvik.lock");
}

SingleInstance::SingleInstance(const QString &path)
    : m_lock(path)
{
    // Age alone must never make a live copy's lock stale: the program runs for
    // hours. QLockFile still takes over a lock whose process is gone.
    m_lock.setStaleLockTime(0);
}

bool SingleInstance::tryAcquire()
{
    if (m_lock.isLocked())
        return true;
    // tryLock takes over a lock whose process is gone (a crashed copy); it
    // never removes one whose process still runs.
    return m_lock.tryLock(0);
}
