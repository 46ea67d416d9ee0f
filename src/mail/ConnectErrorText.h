#pragma once

#include <QAbstractSocket>
#include <QString>

// The box text when the mail server could not be reached at all: the
// program's two lines ("Unable to connect to Host." / "Check Network
// Connection"), then what happened (refused, name not found, no answer in
// time, network unreachable) and what to check, as the login and TLS boxes
// say theirs. `error` is the socket's; UnknownSocketError (nothing reported
// before the wait ran out) counts as no answer in time. `systemText` is the
// system's own words, used only for a failure without a sentence of its own.
// `usualPorts` names the protocol's usual ports for a refused connection.
QString ConnectErrorText(QAbstractSocket::SocketError error, const QString &host, const QString &port,
                         double waitedSeconds, const QString &systemText = QString(),
                         const QString &usualPorts = QStringLiteral("110, or 995 for SSL/TLS"));
