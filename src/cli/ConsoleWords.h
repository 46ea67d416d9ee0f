#pragma once

#include "MailReason.h"
#include "MailResult.h"

#include <QString>

// A failure as the command line tells it: its facts, then what to do about
// it from the command line (the window's buttons are not at hand).
// `server` names the profile's server ("POP server") for NotConfigured.
namespace ConsoleWords {
QString text(const QString &facts, MailReason reason, const QString &server = {});
QString text(const MailResult &result);
} // namespace ConsoleWords
