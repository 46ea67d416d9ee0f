#include "NmDBus.h"

#include <QDBusMetaType>

namespace Nm {

void registerDBusTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<ConnectionSettings>();
        return true;
    }();
    Q_UNUSED(registered);
}

} // namespace Nm
