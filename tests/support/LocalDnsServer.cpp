#include "LocalDnsServer.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtEndian>

namespace {

constexpr quint16 kTypeMx = 15;
constexpr quint16 kTypeSrv = 33;

void put16(QByteArray &out, quint16 value)
{
    out.append(char(value >> 8));
    out.append(char(value & 0xff));
}

QByteArray encodeName(const QString &name)
{
    QByteArray out;
    for (const QString &label : name.split(QLatin1Char('.'), Qt::SkipEmptyParts)) {
        const QByteArray bytes = label.toLatin1();
        out.append(char(bytes.size()));
        out.append(bytes);
    }
    out.append('\0');
    return out;
}

QString normal(const QString &name)
{
    QString n = name.toLower();
    if (n.endsWith(QLatin1Char('.')))
        n.chop(1);
    return n;
}

} // namespace

LocalDnsServer::LocalDnsServer(QObject *parent)
    : QObject(parent)
    , m_socket(new QUdpSocket(this))
{
    connect(m_socket, &QUdpSocket::readyRead, this, &LocalDnsServer::onReadyRead);
}

bool LocalDnsServer::listen(const QHostAddress &address, QString *error)
{
    if (!m_socket->bind(address, 53)) {
        if (error)
            *error = QStringLiteral("cannot listen on %1 port 53: %2").arg(address.toString(), m_socket->errorString());
        return false;
    }
    m_address = address;
    return true;
}

void LocalDnsServer::addMx(const QString &domain, quint16 preference, const QString &exchange)
{
    QByteArray data;
    put16(data, preference);
    data.append(encodeName(exchange));
    m_records[normal(domain)].append({kTypeMx, data});
}

void LocalDnsServer::addSrv(const QString &name, const Srv &record)
{
    QByteArray data;
    put16(data, record.priority);
    put16(data, record.weight);
    put16(data, record.port);
    data.append(encodeName(record.target));
    m_records[normal(name)].append({kTypeSrv, data});
}

void LocalDnsServer::onReadyRead()
{
    while (m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket->receiveDatagram();
        ++m_queries;
        const QByteArray reply = answer(datagram.data());
        if (!reply.isEmpty())
            m_socket->writeDatagram(reply, datagram.senderAddress(), quint16(datagram.senderPort()));
    }
}

QByteArray LocalDnsServer::answer(const QByteArray &query) const
{
    if (query.size() < 17 || qFromBigEndian<quint16>(query.constData() + 4) != 1)
        return {};
    // The question: labels up to the root, then type and class.
    QStringList labels;
    qsizetype at = 12;
    while (at < query.size() && query.at(at) != 0) {
        const int length = quint8(query.at(at));
        if (length > 63 || at + 1 + length >= query.size())
            return {};
        labels << QString::fromLatin1(query.mid(at + 1, length));
        at += 1 + length;
    }
    if (at + 5 > query.size())
        return {};
    const quint16 type = qFromBigEndian<quint16>(query.constData() + at + 1);
    const QByteArray question = query.mid(12, at + 5 - 12);
    const auto known = m_records.constFind(normal(labels.join(QLatin1Char('.'))));

    QList<Record> answers;
    if (known != m_records.constEnd())
        for (const Record &record : *known)
            if (record.type == type)
                answers << record;
    QByteArray out = query.left(2);
    const quint8 rd = quint8(query.at(2)) & 0x01;
    out.append(char(0x84 | rd)); // a response, authoritative
    out.append(char(known == m_records.constEnd() ? 0x83 : 0x80)); // recursion available; NXDOMAIN
    put16(out, 1);
    put16(out, quint16(answers.size()));
    put16(out, 0);
    put16(out, 0);
    out.append(question);
    for (const Record &record : std::as_const(answers)) {
        put16(out, 0xc00c); // the name asked, by pointer
        put16(out, record.type);
        put16(out, 1); // IN
        put16(out, 0);
        put16(out, 60); // TTL
        put16(out, quint16(record.data.size()));
        out.append(record.data);
    }
    return out;
}
