#pragma once

#include "LinkedServer.h"
#include "ProfileRecord.h"
#include "SortReason.h"

#include <QByteArrayView>
#include <QString>

// What the IMAP benchmarks share: the profile of the sample server, the
// rule that makes every tenth generated message spam, and the server
// program behind the link emulator.
namespace ImapBench {

ProfileSettingsRecord settingsFor(quint16 port);
// Every tenth generated message ("senderN0@") is a filter hit.
SortReason tenthIsSpam(const QString &sender, QByteArrayView header, qint64 size);
// The sample IMAP server program serving `count` generated messages, or
// the message files of `folder`.
LinkedServer server(int count);
LinkedServer server(const QString &folder);
// Starts it, with a link of this round trip in front unless it is
// negative; the port to connect to, 0 (told on stderr) on failure.
quint16 start(LinkedServer &server, int roundTripMs);

} // namespace ImapBench
