#include "SieveTestRunner.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <unistd.h>

namespace testsupport {

namespace {

// sieve-test is a process per message: a few at once keep two cores busy
// without crowding a loaded machine.
constexpr int kAtOnce = 4;
// A message takes milliseconds; this is for a machine under heavy load.
constexpr int kProcessMs = 120000;

} // namespace

SieveTestRunner::SieveTestRunner()
{
    m_program = QStandardPaths::findExecutable(QStringLiteral("sieve-test"));
    if (m_program.isEmpty()) {
        m_problem = QStringLiteral("sieve-test is not installed (Debian package dovecot-sieve)");
        return;
    }
    if (!m_dir.isValid()) {
        m_problem = QStringLiteral("no temporary folder");
        return;
    }
    // As root it drops to an unprivileged user, who must read the files.
    QFile::setPermissions(m_dir.path(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::WriteOther
                              | QFile::ExeOther | QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup);
    const uid_t uid = ::geteuid() == 0 ? 65534 : ::geteuid();
    const gid_t gid = ::geteuid() == 0 ? 65534 : ::getegid();
    m_config = m_dir.filePath(QStringLiteral("dovecot.conf"));
    QFile conf(m_config);
    const QByteArray text = QStringLiteral("mail_uid = %1\nmail_gid = %2\nfirst_valid_uid = 1\n"
                                           "base_dir = %3/run\nlog_path = /dev/stderr\n"
                                           "mail_location = maildir:%3/mail\n")
                                .arg(uid)
                                .arg(gid)
                                .arg(m_dir.path())
                                .toUtf8();
    if (!conf.open(QIODevice::WriteOnly) || conf.write(text) != text.size())
        m_problem = QStringLiteral("cannot write the sieve-test configuration");
    conf.setPermissions(conf.permissions() | QFile::ReadOther);
}

QList<std::optional<QStringList>> SieveTestRunner::run(const QString &script, const QStringList &messages,
                                                       QString *error) const
{
    QList<std::optional<QStringList>> out;
    for (qsizetype first = 0; first < messages.size(); first += kAtOnce) {
        QList<QProcess *> running;
        for (qsizetype i = first; i < messages.size() && i < first + kAtOnce; ++i) {
            auto *process = new QProcess;
            process->start(m_program, {QStringLiteral("-c"), m_config, script, messages.at(i)});
            running.append(process);
        }
        for (qsizetype k = 0; k < running.size(); ++k) {
            QProcess *process = running.at(k);
            std::optional<QStringList> folders;
            if (process->waitForFinished(kProcessMs) && process->exitStatus() == QProcess::NormalExit
                && process->exitCode() == 0) {
                folders.emplace();
                const QList<QByteArray> lines = process->readAllStandardOutput().split('\n');
                for (const QByteArray &line : lines) {
                    static const QByteArray mark(" * store message in folder: ");
                    if (line.startsWith(mark))
                        folders->append(QString::fromUtf8(line.mid(mark.size())));
                }
            } else if (error && error->isEmpty()) {
                *error = QStringLiteral("sieve-test failed on %1: %2")
                             .arg(messages.at(first + k), QString::fromUtf8(process->readAllStandardError()));
            }
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(kProcessMs);
            }
            out.append(folders);
            delete process;
        }
    }
    return out;
}

} // namespace testsupport
