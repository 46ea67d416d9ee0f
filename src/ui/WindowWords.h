#pragma once

#include "MailReason.h"

#include <QString>

// A failure as the window tells it: its facts, then on a line of its own
// what to do about it with the window's buttons. `server` names the
// profile's server ("POP server") for NotConfigured.
namespace WindowWords {
QString text(const QString &facts, MailReason reason, const QString &server = {});
} // namespace WindowWords
