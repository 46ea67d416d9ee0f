#pragma once

#include "AccountSettings.h"

#include <QByteArray>
#include <QList>

// The incoming servers (IMAP and POP3) of a configuration file in the
// common autoconfig XML format (clientConfig/emailProvider/incomingServer),
// with the address's placeholders filled in. A file that is not well formed
// or names no usable server gives an empty list. `source` is set on each.
QList<AccountSettings> parseAutoconfig(const QByteArray &xml, const EmailAddress &address, const QString &source);
