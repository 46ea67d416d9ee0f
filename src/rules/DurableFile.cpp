#include "DurableFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DurableFile {

namespace {

bool fail(QString *error, const QString &what, const QString &path, int err)
{
    if (error)
        *error = QStringLiteral("%1 \"%2\": %3").arg(what, path, QString::fromLocal8Bit(std::strerror(err)));
    return false;
}

} // namespace

bool createPrivate(const QString &path, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    if (::unlink(name.constData()) != 0 && errno != ENOENT)
        return fail(error, QStringLiteral("Cannot replace"), path, errno);
    const int fd = ::open(name.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return fail(error, QStringLiteral("Cannot create"), path, errno);
    // The umask may only take bits away; make sure nothing else remains.
    ::fchmod(fd, S_IRUSR | S_IWUSR);
    ::close(fd);
    return true;
}

bool sync(const QString &path, QString *error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return fail(error, QStringLiteral("Cannot open"), path, errno);
    const bool ok = ::fsync(fd) == 0;
    const int err = errno;
    ::close(fd);
    return ok || fail(error, QStringLiteral("Cannot flush"), path, err);
}

bool replace(const QString &from, const QString &to, QString *error)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        return fail(error, QStringLiteral("Cannot rename to \"%1\"").arg(to), from, errno);
    return true;
}

bool exists(const QString &path)
{
    return QFileInfo(path).exists();
}

bool remove(const QString &path, QString *error)
{
    if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT)
        return fail(error, QStringLiteral("Cannot delete"), path, errno);
    return true;
}

} // namespace DurableFile
