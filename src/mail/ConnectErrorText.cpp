#include "ConnectErrorText.h"

namespace {

QString detail(QAbstractSocket::SocketError error, const QString &host, const QString &port, double waitedSeconds,
               const QString &systemText, const QString &usualPorts)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("The server %1 refused the connection on port %2: no mail service listens there.\r\n"
                              "Check the port (usually %3) and the server name in the settings.")
            .arg(host, port, usualPorts);
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("The server name \"%1\" was not found.\r\n"
                              "Check its spelling in the settings, and that this computer is online and can look "
                              "up names.")
            .arg(host);
    case QAbstractSocket::SocketTimeoutError:
    case QAbstractSocket::UnknownSocketError:
        return QStringLiteral("The server %1 did not answer on port %2 within %3 seconds.\r\n"
                              "Check the server name and the port in the settings, and that no firewall blocks "
                              "the connection.")
            .arg(host, port)
            .arg(waitedSeconds);
    case QAbstractSocket::NetworkError:
        return QStringLiteral("The network cannot reach the server %1%2.\r\n"
                              "Check that this computer is online (cable, Wi-Fi or VPN), then the server name.")
            .arg(host, systemText.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(systemText));
    case QAbstractSocket::ProxyAuthenticationRequiredError:
    case QAbstractSocket::ProxyConnectionRefusedError:
    case QAbstractSocket::ProxyConnectionClosedError:
    case QAbstractSocket::ProxyConnectionTimeoutError:
    case QAbstractSocket::ProxyNotFoundError:
    case QAbstractSocket::ProxyProtocolError:
        return QStringLiteral("The proxy of this computer's network settings did not pass the connection on to "
                              "%1.\r\nCheck the proxy settings.")
            .arg(host);
    default:
        return QStringLiteral("The connection to the server %1 on port %2 could not be opened%3.\r\n"
                              "Check the server name and the port in the settings.")
            .arg(host, port, systemText.isEmpty() ? QString() : QStringLiteral(": ") + systemText);
    }
}

} // namespace

QString ConnectErrorText(QAbstractSocket::SocketError error, const QString &host, const QString &port,
                         double waitedSeconds, const QString &systemText, const QString &usualPorts)
{
    return QStringLiteral("Unable to connect to Host.\r\nCheck Network Connection\r\n")
        + detail(error, host, port, waitedSeconds, systemText, usualPorts);
}
