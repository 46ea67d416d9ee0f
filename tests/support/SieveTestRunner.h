#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>

namespace testsupport {

// Pigeonhole's sieve-test (Debian's dovecot-sieve) with a private
// configuration: runs a Sieve script on message files, a process per
// message, a few at a time, and reports where each message went.
class SieveTestRunner {
public:
    SieveTestRunner();

    // Empty when sieve-test can run; else why not (for QSKIP).
    QString problem() const { return m_problem; }
    // A folder the mail user sieve-test runs as can read (and write, for
    // the compiled script it keeps beside the script).
    QString folder() const { return m_dir.path(); }

    // The folders `script` filed each message into (" * store message in
    // folder: X"), in the order of `messages`; nullopt for a message the run
    // failed on, with the reason in *error.
    QList<std::optional<QStringList>> run(const QString &script, const QStringList &messages, QString *error) const;

private:
    QTemporaryDir m_dir;
    QString m_program;
    QString m_config;
    QString m_problem;
};

} // namespace testsupport
