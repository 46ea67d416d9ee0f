#include "SessionOptions.h"

#include "SocketConnection.h"

std::unique_ptr<MailConnection> newConnection(const SessionOptions &options)
{
    if (options.connection)
        return options.connection();
    return std::make_unique<SocketConnection>();
}
