#include "Dialer.h"

#include <QHash>

// The texts of the dial-up result codes, as users of the program know them
// (misspellings and capitalisation included). 711, the service's number for
// "the dial-up service cannot start", is this system's code for a
// NetworkManager that is not on the bus.
QString RasErrorText(qint32 code)
{
    static const QHash<qint32, const char *> texts = {
        {601, ": Invalid Port Handle"},
        {602, ": Port Already Open"},
        {606, ": Port Not Connected"},
        {615, ": Port Not Found"},
        {621, ": Cannot Open Phonebook"},
        {622, ": Cannot Load Phonebook"},
        {623, ": Cannot Find Phonebook Entry"},
        {625, ": Corrupt Phonebook"},
        {629, ": Remote Disconnection"},
        {630, ": Modem not responding"},
        {633, ": Port Not Available"},
        {636, ": Wrong Device Attached"},
        {638, ": Request Timeout"},
        {646, ": Restricted Logon Hours"},
        {647, ": Acct Disabled"},
        {648, ": Password Expired"},
        {649, ": No Dialin Permission"},
        {660, ": No Response"},
        {665, ": Port Not Configured"},
        {666, ": Device Not Ready"},
        {676, ": Line Busy"},
        {677, ": Voice Answer"},
        {678, ": No Answer"},
        {679, ": No Carrier"},
        {680, ": No Dialtone"},
        {691, ": Authentication Failure"},
        {708, ": Acctount Expired"},
        {711, ": NetworkManager Not Available"},
        {739, ": Cannot Use Logon Credentials"},
        {743, ": Remote Requires Encryption"},
    };
    const char *text = texts.value(code, ": Unable To Connect");
    return QString::number(code) + QString::fromLatin1(text);
}
