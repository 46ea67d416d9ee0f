#include "DataFolderLock.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString reason(const QString &what, const QString &path, int err)
{
    return QStringLiteral("%1 \"%2\": %3").arg(what, path, QString::fromLocal8Bit(std::strerror(err)));
}

int openLockFile(const QByteArray &name)
{
    return ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR);
}

// Renames `path` to "<path>.left-<time>" (with a number when taken), never
// over anything already there.
void moveAside(const QString &path)
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QByteArray from = QFile::encodeName(path);
    for (int n = 0; n < 100; ++n) {
        QString target = path + QStringLiteral(".left-") + stamp;
        if (n > 0)
            target += QLatin1Char('-') + QString::number(n);
        if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, QFile::encodeName(target).constData(), RENAME_NOREPLACE)
                == 0
            || errno != EEXIST)
            return;
    }
}

} // namespace

DataFolderLock::DataFolderLock(const QString &folder)
    : m_folder(folder)
{
}

DataFolderLock::~DataFolderLock()
{
    release();
}

QString DataFolderLock::lockPath() const
{
    return m_folder + QLatin1Char('/') + QLatin1String(kFileName);
}

DataFolderLock::Result DataFolderLock::tryAcquire(QString *error)
{
    if (m_fd >= 0)
        return Result::Acquired;
    if (!QDir(m_folder).exists()) {
        if (!QDir().mkpath(m_folder)) {
            if (error)
                *error = reason(QStringLiteral("Cannot create the folder"), m_folder, errno);
            return Result::Failed;
        }
        QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const QString path = lockPath();
    const QByteArray name = QFile::encodeName(path);
    int fd = openLockFile(name);
    if (fd < 0 && errno != ENOENT) {
        // A leftover that cannot be opened (another owner's file, a folder
        // or a link of that name) is only in the way: the lock is the
        // kernel's, never the file's content.
        // A folder that still holds something is moved aside whole, never
        // emptied: what is in it may be someone's.
        if (::unlink(name.constData()) != 0 && (errno == EISDIR || errno == EPERM) && ::rmdir(name.constData()) != 0
            && (errno == ENOTEMPTY || errno == EEXIST))
            moveAside(path);
        fd = openLockFile(name);
    }
    if (fd < 0) {
        if (error)
            *error = reason(QStringLiteral("Cannot open the lock file"), path, errno);
        return Result::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK)
            return Result::Busy;
        if (error)
            *error = reason(QStringLiteral("Cannot lock"), path, err);
        return Result::Failed;
    }
    m_fd = fd;
    return Result::Acquired;
}

void DataFolderLock::release()
{
    if (m_fd < 0)
        return;
    // The file stays: removing it would let a third copy lock a new file
    // while a second still waits on the old one.
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}
