#include "NmResultCodes.h"

#include "Dialer.h"
#include "NmDBus.h"

#include <QDBusError>
#include <QString>

namespace Nm {

qint32 resultForDeviceReason(uint reason)
{
    switch (reason) {
    case DeviceReason::ModemBusy:
        return RasCode::LineBusy;
    case DeviceReason::ModemNoDialTone:
        return RasCode::NoDialtone;
    case DeviceReason::ModemNoCarrier:
        return RasCode::NoCarrier;
    // ModemManager reports a call nobody picked up as a dial timeout.
    case DeviceReason::ModemDialTimeout:
        return RasCode::NoAnswer;
    // pppd ends with PPP_FAILED when the peer refuses the user ID or password;
    // NO_SECRETS when there were none to offer.
    case DeviceReason::NoSecrets:
    case DeviceReason::PppFailed:
        return RasCode::AuthenticationFailure;
    case DeviceReason::PppDisconnect:
        return RasCode::RemoteDisconnection;
    case DeviceReason::UserRequested:
        return RasCode::UserDisconnection;
    case DeviceReason::ModemNotFound:
    case DeviceReason::ModemManagerUnavailable:
        return RasCode::PortNotAvailable;
    default:
        return RasCode::DeviceError;
    }
}

qint32 resultForActiveReason(uint reason)
{
    switch (reason) {
    case ActiveReason::NoSecrets:
    case ActiveReason::LoginFailed:
        return RasCode::AuthenticationFailure;
    case ActiveReason::ConnectTimeout:
        return RasCode::RequestTimeout;
    case ActiveReason::UserDisconnected:
        return RasCode::UserDisconnection;
    case ActiveReason::DeviceRealizeFailed:
    case ActiveReason::DeviceRemoved:
        return RasCode::PortNotAvailable;
    default:
        return RasCode::DeviceError;
    }
}

qint32 resultForError(const QDBusError &error)
{
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::Disconnected:
    case QDBusError::NoServer:
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
        return RasCode::ServiceNotAvailable;
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        return RasCode::RequestTimeout;
    default:
        break;
    }
    if (error.name() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
        return RasCode::ServiceNotAvailable;
    if (error.name() == QLatin1String("org.freedesktop.NetworkManager.UnknownDevice"))
        return RasCode::PortNotAvailable;
    return RasCode::DeviceError;
}

bool isAlreadyGone(const QDBusError &error)
{
    const QString name = error.name();
    return error.type() == QDBusError::UnknownObject || error.type() == QDBusError::UnknownMethod
        || error.type() == QDBusError::UnknownInterface
        || name == QLatin1String("org.freedesktop.NetworkManager.ConnectionNotActive")
        || name == QLatin1String("org.freedesktop.NetworkManager.Settings.Connection.NotFound");
}

} // namespace Nm
