#include "BenchDovecot.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <unistd.h>

namespace {

// The unprivileged owner of the mail; Dovecot refuses to serve mail as root.
constexpr int kMailUid = 65534;
constexpr int kMailGid = 65534;
// Indexing 100,000 messages on a busy machine takes a while.
constexpr int kIndexMs = 1200000;

bool run(const QString &program, const QStringList &arguments, QString *error)
{
    QProcess process;
    process.start(program, arguments);
    if (process.waitForFinished(600000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
    *error = program + QStringLiteral(" failed: ") + QString::fromLocal8Bit(process.readAllStandardError());
    return false;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

// A copy of `maildir`'s Maildir in `home`: message files linked, the rest
// (Dovecot's index and list files) copied, everything the mail user's.
bool copyMaildir(const QString &maildir, const QString &home, QString *error)
{
    const QString from = maildir + QStringLiteral("/Maildir");
    const QString to = home + QStringLiteral("/Maildir");
    if (!run(QStringLiteral("cp"), {QStringLiteral("-al"), from, to}, error)) {
        QDir(to).removeRecursively(); // another file system: no links across it
        if (!run(QStringLiteral("cp"), {QStringLiteral("-a"), from, to}, error))
            return false;
    }
    QDirIterator files(to, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString file = files.next();
        const QString dir = files.fileInfo().dir().dirName();
        if (dir == QLatin1String("cur") || dir == QLatin1String("new") || dir == QLatin1String("tmp"))
            continue;
        const QString copy = file + QStringLiteral(".copy");
        if (!QFile::copy(file, copy) || !QFile::remove(file) || !QFile::rename(copy, file)
            || ::chown(QFile::encodeName(file).constData(), kMailUid, kMailGid) != 0) {
            *error = QStringLiteral("cannot copy ") + file;
            return false;
        }
    }
    return ::chown(QFile::encodeName(home).constData(), kMailUid, kMailGid) == 0;
}

// One session that selects INBOX and lists it: Dovecot indexes the folder.
bool indexOnce(quint16 port, QString *error)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(10000) || !socket.waitForReadyRead(10000)) {
        *error = QStringLiteral("dovecot did not greet");
        return false;
    }
    socket.readAll();
    socket.write("a LOGIN bench bench\r\nb SELECT INBOX\r\nc UID FETCH 1:* (UID RFC822.SIZE FLAGS)\r\n"
                 "d LIST \"\" \"*\"\r\ne LOGOUT\r\n");
    QByteArray tail;
    QDeadlineTimer deadline(kIndexMs);
    while (!tail.contains("\r\ne OK") && !deadline.hasExpired()) {
        if (!socket.waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), 60000))))
            break;
        tail = (tail + socket.readAll()).right(256);
    }
    if (!tail.contains("\r\ne OK"))
        *error = QStringLiteral("dovecot did not index the prepared mail");
    return tail.contains("\r\ne OK");
}

} // namespace

BenchDovecot::BenchDovecot()
{
    for (const char *sub : {"run", "state", "home"})
        QDir(m_dir.path()).mkpath(QString::fromLatin1(sub));
}

BenchDovecot::~BenchDovecot()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool BenchDovecot::available(QString *why)
{
    if (QStandardPaths::findExecutable(QStringLiteral("dovecot"),
                                       {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")})
            .isEmpty()) {
        *why = QStringLiteral("dovecot is not installed");
        return false;
    }
    if (::geteuid() != 0) {
        *why = QStringLiteral("a private dovecot needs root");
        return false;
    }
    return true;
}

bool BenchDovecot::writeMessage(const QString &curFolder, int i, const QByteArray &message)
{
    // The size in the name spares Dovecot reading the file for it.
    const QString name = QStringLiteral("%1.bench,S=%2,W=%2:2,").arg(i, 7, 10, QLatin1Char('0')).arg(message.size());
    return writeFile(curFolder + QLatin1Char('/') + name, message);
}

QString BenchDovecot::prepared(const QString &name, const std::function<bool(const QString &)> &write, QString *error)
{
    const QString cache = qEnvironmentVariable("XDG_CACHE_HOME", QDir::homePath() + QStringLiteral("/.cache"));
    const QString root = cache + QStringLiteral("/trelvik-bench/dovecot-imap/") + name;
    const QString ready = root + QStringLiteral("/ready");
    if (QFile::exists(ready))
        return root;
    if (!available(error))
        return {};
    QDir(root).removeRecursively();
    const QString maildir = root + QStringLiteral("/Maildir");
    for (const char *sub : {"/cur", "/new", "/tmp"})
        QDir().mkpath(maildir + QLatin1String(sub));
    if (!write(maildir + QStringLiteral("/cur"))
        || !run(QStringLiteral("chown"),
                {QStringLiteral("-R"), QStringLiteral("%1:%2").arg(kMailUid).arg(kMailGid), maildir}, error))
        return {};
    // Indexed in a copy the mail user can reach; its index goes back.
    BenchDovecot indexer;
    if (!indexer.start(root, error) || !indexOnce(indexer.port(), error))
        return {};
    if (!run(QStringLiteral("cp"), {QStringLiteral("-an"), indexer.path(QStringLiteral("home/Maildir/.")), maildir},
             error)
        || !writeFile(ready, "ready\n"))
        return {};
    return root;
}

bool BenchDovecot::start(const QString &maildir, QString *error)
{
    if (!available(error))
        return false;
    const QString home = path(QStringLiteral("home"));
    QDir(home + QStringLiteral("/Maildir")).removeRecursively();
    if (!copyMaildir(maildir, home, error))
        return false;
    // Dovecot's unprivileged processes must reach the files.
    QFile::setPermissions(m_dir.path(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
                              | QFile::ReadOther | QFile::ExeOther);
    return serve(home, error);
}

bool BenchDovecot::writeConfig(const QString &home, QString *error)
{
    const QString base = m_dir.path();
    const QByteArray passwd =
        QStringLiteral("bench:{PLAIN}bench:%1:%2::%3::\n").arg(kMailUid).arg(kMailGid).arg(home).toUtf8();
    const QByteArray conf = QStringLiteral("base_dir = %1/run\nstate_dir = %1/state\nlog_path = %1/dovecot.log\n"
                                           "protocols = imap\nlisten = 127.0.0.1\nssl = no\n"
                                           "disable_plaintext_auth = no\nauth_mechanisms = plain\n"
                                           "mail_location = maildir:~/Maildir\nfirst_valid_uid = 1\n"
                                           "default_internal_user = dovecot\ndefault_login_user = dovenull\n"
                                           "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN %1/passwd\n}\n"
                                           "userdb {\n  driver = passwd-file\n  args = %1/passwd\n}\n"
                                           "service imap-login {\n  inet_listener imap {\n    port = %2\n  }\n"
                                           "  inet_listener imaps {\n    port = 0\n  }\n}\n"
                                           "namespace inbox {\n  inbox = yes\n  separator = /\n"
                                           "  mailbox Junk {\n    special_use = \\Junk\n    auto = subscribe\n  }\n"
                                           "  mailbox Trash {\n    special_use = \\Trash\n    auto = subscribe\n  }\n"
                                           "}\n")
                                .arg(base)
                                .arg(m_port)
                                .toUtf8();
    if (!writeFile(path(QStringLiteral("passwd")), passwd) || !writeFile(path(QStringLiteral("dovecot.conf")), conf)) {
        *error = QStringLiteral("cannot write the dovecot configuration");
        return false;
    }
    return true;
}

bool BenchDovecot::serve(const QString &home, QString *error)
{
    // A free port can be taken by someone else before Dovecot binds it: a few tries.
    for (int attempt = 0; attempt < 5; ++attempt) {
        QTcpServer probe;
        m_port = probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
        probe.close();
        if (m_port == 0 || !writeConfig(home, error))
            continue;
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("dovecot"),
                        {QStringLiteral("-F"), QStringLiteral("-c"), path(QStringLiteral("dovecot.conf"))});
        if (!m_process.waitForStarted(10000))
            continue;
        QDeadlineTimer deadline(30000);
        while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
            QTcpSocket greeting;
            greeting.connectToHost(QHostAddress::LocalHost, m_port);
            if (greeting.waitForConnected(500) && greeting.waitForReadyRead(5000)
                && greeting.readAll().startsWith("* OK"))
                return true;
            QThread::msleep(100);
        }
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    *error = QStringLiteral("dovecot did not start: ") + QString::fromLocal8Bit(m_process.readAll());
    return false;
}
