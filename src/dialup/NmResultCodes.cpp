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
        return DialResultCode::LineBusy;
    case DeviceReason::ModemNoDialTone:
        return DialResultCode::NoDialtone;
    case DeviceReason::ModemNoCarrier:
        return DialResultCode::NoCarrier;
    // ModemManager reports a call nobody picked up as a dial timeout.
    case DeviceReason::ModemDialTimeout:
        return DialResultCode::NoAnswer;
    // pppd ends with PPP_FAILED when the peer refuses the user ID or password;
    // NO_SECRETS when there were none to offer.
    case DeviceReason::NoSecrets:
    case DeviceReason::PppFailed:
        return DialResultCode::AuthenticationFailure;
    case DeviceReason::PppDisconnect:
        return DialResultCode::RemoteDisconnection;
    case DeviceReason::UserRequested:
        return DialResultCode::UserDisconnection;
    case DeviceReason::ModemNotFound:
    case DeviceReason::ModemManagerUnavailable:
        return DialResultCode::PortNotAvailable;
    default:
        return DialResultCode::DeviceError;
    }
}

qint32 resultForActiveReason(uint reason)
{
    switch (reason) {
    case ActiveReason::NoSecrets:
    case ActiveReason::LoginFailed:
        return DialResultCode::AuthenticationFailure;
    case ActiveReason::ConnectTimeout:
        return DialResultCode::RequestTimeout;
    case ActiveReason::UserDisconnected:
        return DialResultCode::UserDisconnection;
    case ActiveReason::DeviceRealizeFailed:
    case ActiveReason::DeviceRemoved:
        return DialResultCode::PortNotAvailable;
    default:
        return DialResultCode::DeviceError;
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
        return DialResultCode::ServiceNotAvailable;
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        return DialResultCode::RequestTimeout;
    default:
        break;
    }
    if (error.name() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
        return DialResultCode::ServiceNotAvailable;
    if (error.name() == QLatin1String("org.freedesktop.NetworkManager.UnknownDevice"))
        return DialResultCode::PortNotAvailable;
    return DialResultCode::DeviceError;
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
