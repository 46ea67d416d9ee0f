#pragma once

#include <QProcess>
#include <QString>

// A sample server program (POP3 serving a folder, or IMAP), reached through the link
// emulator program: both run as child processes of the benchmark and end
// with this object (and, whatever happens, after their lifetime).
class LinkedServer {
public:
    LinkedServer(QString folder, bool offerPipelining);
    // Any sample server program that prints "127.0.0.1:<port>" first (the
    // IMAP one), started with these arguments and a lifetime.
    LinkedServer(QString program, QStringList arguments);
    // A server running already (Dovecot, say) at this loopback port: only
    // the link is started.
    explicit LinkedServer(quint16 serverPort);
    ~LinkedServer();
    LinkedServer(const LinkedServer &) = delete;
    LinkedServer &operator=(const LinkedServer &) = delete;

    // Starts the server; false (with *error) when it did not come up.
    bool start(QString *error);
    // Puts a link of this round trip in front of the server, replacing the
    // one before; the port to connect to, 0 on failure.
    quint16 link(int roundTripMs, QString *error);
    // The round trips the next connection through the link waited for (as
    // the link emulator counts them), once it has ended; -1 when none ended
    // within a few seconds.
    int roundTripsWaited();
    // The server's own port, without a link in front.
    quint16 serverPort() const { return m_serverPort; }
    // The CPU time the server program has used so far (user and system,
    // from /proc), -1 when it cannot be read.
    double serverCpuSeconds() const;

private:
    static QString firstLine(QProcess &process);
    static void end(QProcess &process);

    QString m_program;
    QStringList m_arguments;
    quint16 m_serverPort = 0;
    QProcess m_server;
    QProcess m_link;
};
