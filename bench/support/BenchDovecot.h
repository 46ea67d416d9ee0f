#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <functional>

// A private Dovecot IMAP server for the benchmarks: plain IMAP on a free
// loopback port, one user ("bench", password "bench") whose mail is a copy
// of a prepared maildir, stopped when the object goes. Dovecot must be
// installed and the benchmark run as root (Dovecot drops privileges itself).
//
// A prepared maildir is written once into the user's cache folder and
// indexed there by a first session, so that a server over 100,000 messages
// starts in seconds and every server starts from the same state. The
// copies hard-link the message files (Dovecot never changes one: it
// renames, links and unlinks them) and copy the index files, so each server
// changes only its own.
class BenchDovecot {
public:
    BenchDovecot();
    ~BenchDovecot();
    BenchDovecot(const BenchDovecot &) = delete;
    BenchDovecot &operator=(const BenchDovecot &) = delete;

    static bool available(QString *why);
    // The maildir `name` in the cache folder; `write(curFolder)` writes its
    // message files when it is missing (message(i) via writeMessage()).
    // Empty (and *error) on failure.
    static QString prepared(const QString &name, const std::function<bool(const QString &)> &write, QString *error);
    // Writes one message file into a maildir's cur folder.
    static bool writeMessage(const QString &curFolder, int i, const QByteArray &message);

    // Serves a copy of the prepared maildir; false (with *error) when the
    // server did not come up.
    bool start(const QString &maildir, QString *error);
    quint16 port() const { return m_port; }

private:
    bool serve(const QString &home, QString *error);
    bool writeConfig(const QString &home, QString *error);
    QString path(const QString &name) const { return m_dir.path() + QLatin1Char('/') + name; }

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};
