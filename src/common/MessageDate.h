#pragma once

#include <QDateTime>
#include <QString>

// The time named by a "Date:" header value, read leniently the way real mail
// writes it (with or without the weekday, obsolete zone names such as EST,
// GMT, UT or military letters, two-digit years, trailing comments such as
// "(CET)", no seconds). An invalid QDateTime when the text names no time.
QDateTime parseMessageDate(const QString &raw);
