#include "DurableFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DurableFile {

namespace {

// The temporaries of write() carry this mark and a random tail.
const QString kMark = QStringLiteral(".trelvik-unsaved-");
constexpr int kRandomLength = 6;

QString reason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

bool fail(QString *error, const QString &what, const QString &path, int err)
{
    if (error)
        *error = QStringLiteral("%1 \"%2\": %3").arg(what, path, reason(err));
    return false;
}

QString temporaryName(const QString &targetName)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString name = QLatin1Char('.') + targetName + kMark;
    for (int i = 0; i < kRandomLength; ++i)
        name += QLatin1Char(kAlphabet[QRandomGenerator::global()->bounded(int(sizeof kAlphabet) - 1)]);
    return name;
}

bool writeAll(int fd, const QByteArray &data, int *err)
{
    for (qsizetype done = 0; done < data.size();) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A write that takes nothing and names no reason: the disk is full.
            *err = n < 0 ? errno : ENOSPC;
            return false;
        }
        done += n;
    }
    return true;
}

// While it lives, a write past the file-size limit (ulimit -f) fails with
// EFBIG instead of ending the process by SIGXFSZ, which would leave the
// temporary behind: write() then removes it like any failed one.
class FileSizeSignalIgnored {
public:
    FileSizeSignalIgnored()
    {
        struct sigaction ignore { };
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        m_restore = ::sigaction(SIGXFSZ, &ignore, &m_old) == 0;
    }
    ~FileSizeSignalIgnored()
    {
        if (m_restore)
            ::sigaction(SIGXFSZ, &m_old, nullptr);
    }
    FileSizeSignalIgnored(const FileSizeSignalIgnored &) = delete;
    FileSizeSignalIgnored &operator=(const FileSizeSignalIgnored &) = delete;

private:
    struct sigaction m_old { };
    bool m_restore = false;
};

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

// ---------------------------------------------------------------------------
// Whole-file replacement.

bool write(const QString &path, const QByteArray &data, Access access, QString *error)
{
    // Only the system's reason: the caller names the file.
    const auto failWith = [error](int err) {
        if (error)
            *error = reason(err);
        return false;
    };
    // A link stays a link: its target gets the new content.
    QString target = path;
    const QFileInfo link(path);
    if (link.isSymLink()) {
        const QString canonical = link.canonicalFilePath();
        target = canonical.isEmpty() ? link.symLinkTarget() : canonical;
    }
    const QFileInfo info(target);
    const QString folder = info.absolutePath();
    const QByteArray targetName = QFile::encodeName(target);

    struct stat old { };
    const bool hadOld = ::stat(targetName.constData(), &old) == 0;
    if (hadOld && S_ISDIR(old.st_mode))
        return failWith(EISDIR);

    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = QFile::encodeName(folder + QLatin1Char('/') + temporaryName(info.fileName()));
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    access == Access::Private ? S_IRUSR | S_IWUSR : 0666);
        if (fd < 0 && errno != EEXIST)
            return failWith(errno);
    }
    if (fd < 0)
        return failWith(EEXIST);

    int err = 0;
    bool ok = true;
    const FileSizeSignalIgnored sizeLimitFails;
    if (access == Access::Private)
        ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 || (err = errno, false);
    else if (hadOld)
        ok = ::fchmod(fd, old.st_mode & 07777) == 0 || (err = errno, false);
    ok = ok && writeAll(fd, data, &err);
    // Delayed allocation may find the disk full only here.
    ok = ok && (::fsync(fd) == 0 || (err = errno, false));
    if (::close(fd) != 0 && ok) {
        err = errno;
        ok = false;
    }
    ok = ok && (::rename(temporary.constData(), targetName.constData()) == 0 || (err = errno, false));
    if (!ok) {
        ::unlink(temporary.constData());
        return failWith(err);
    }
    // The rename on disk too; the content is safe either way.
    sync(folder, nullptr);
    return true;
}

bool isTemporaryOf(const QString &fileName, const QString &targetName)
{
    const QString prefix = QLatin1Char('.') + targetName + kMark;
    if (fileName.size() != prefix.size() + kRandomLength || !fileName.startsWith(prefix))
        return false;
    for (const QChar c : QStringView(fileName).mid(prefix.size())) {
        if (!(c.isDigit() || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')))
            return false;
    }
    return true;
}

void removeLeftovers(const QString &path)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    const QDir folder = info.absoluteDir();
    const QStringList candidates = folder.entryList({QLatin1Char('.') + name + kMark + QLatin1Char('*')},
                                                    QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &candidate : candidates) {
        if (isTemporaryOf(candidate, name))
            QFile::remove(folder.filePath(candidate));
    }
}

} // namespace DurableFile
