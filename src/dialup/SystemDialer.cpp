#include "Dialer.h"
#include "NetworkManagerDialer.h"

std::unique_ptr<Dialer> createSystemDialer()
{
    return std::make_unique<NetworkManagerDialer>();
}
