#pragma once

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

class QUdpSocket;

// A DNS server on a loopback address answering MX and SRV questions from a
// table, for tests and benchmarks of lookups that take their name server
// from a seam. Names it has no record of get NXDOMAIN. Qt's lookup asks on
// port 53 only, so it listens there on a spare loopback address.
class LocalDnsServer : public QObject {
    Q_OBJECT
public:
    struct Srv {
        quint16 priority = 0;
        quint16 weight = 0;
        quint16 port = 0;
        QString target; // "." when the service is not offered
    };

    static QHostAddress defaultAddress() { return QHostAddress(QStringLiteral("127.0.83.1")); }

    explicit LocalDnsServer(QObject *parent = nullptr);
    // False (with *error) when port 53 of the address cannot be bound.
    bool listen(const QHostAddress &address = defaultAddress(), QString *error = nullptr);
    QHostAddress address() const { return m_address; }

    void addMx(const QString &domain, quint16 preference, const QString &exchange);
    void addSrv(const QString &name, const Srv &record);
    int queries() const { return m_queries; }

private:
    void onReadyRead();
    QByteArray answer(const QByteArray &query) const;

    struct Record {
        quint16 type;
        QByteArray data;
    };
    QUdpSocket *m_socket;
    QHostAddress m_address;
    QHash<QString, QList<Record>> m_records;
    int m_queries = 0;
};
