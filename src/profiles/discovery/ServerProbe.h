#pragma once

#include "AccountSettings.h"
#include "DiscoverySeam.h"

#include <QObject>

#include <optional>

class QSslSocket;

// The last resort: the usual host names of the domain (imap., pop., pop3.,
// mail.) on the usual ports, each asked for its greeting and capabilities
// (CAPABILITY, CAPA), over TLS where the port implies it. Never a user name
// or password. The probes run side by side, each bounded in time.
class ServerProbe : public QObject {
    Q_OBJECT
public:
    struct Candidate {
        QString host;
        quint16 port = 0;
        QString protocol; // "IMAP" or "POP3"
        bool implicitTls = false;
    };

    ServerProbe(const DiscoverySeam &seam, QObject *parent = nullptr);

    static QList<Candidate> candidatesFor(const QString &domain);
    void start(const EmailAddress &address);
    void cancel();

Q_SIGNALS:
    void progress(const QString &text);
    // The servers that answered as mail servers, in the candidates' order.
    void finished(const QList<AccountSettings> &found);

private:
    void probe(int index);
    void onReadable(int index);
    void settle(int index, bool answered);

    DiscoverySeam m_seam;
    EmailAddress m_address;
    QList<Candidate> m_candidates;
    QList<std::optional<AccountSettings>> m_results;
    QList<bool> m_settled;
    int m_open = 0;
};
