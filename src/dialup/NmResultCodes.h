#pragma once

#include <QtGlobal>

class QDBusError;

// Turns NetworkManager's reasons and D-Bus errors into dial-up result codes
// (DialResultCode), so that the user sees the texts the program has always shown.
namespace Nm {

// Why the modem device failed (NMDeviceStateReason).
qint32 resultForDeviceReason(uint reason);
// Why the active connection went down (NMActiveConnectionStateReason); used
// when the device gave no reason of its own.
qint32 resultForActiveReason(uint reason);
// A failed call to NetworkManager.
qint32 resultForError(const QDBusError &error);
// Whether a failed teardown call means the object was already gone, which is
// what the teardown wanted anyway.
bool isAlreadyGone(const QDBusError &error);

} // namespace Nm
