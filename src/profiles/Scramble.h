#pragma once

#include <QString>

// The stored form of a password: decimal digit groups made with a key text,
// random filler and an exclusive-or chain over the password's UTF-8 bytes.
// Never the password as typed.
namespace modSecurity {

// The most UTF-8 bytes a stored form holds: its length group has three digits.
inline constexpr int kMaxStoredBytes = 999;

// Trims the spaces around `text` in place and returns its stored form ("" for
// an empty text, and for a text of more than kMaxStoredBytes bytes).
QString ScrambleText(QString &text);
// The password a stored form stands for; "" for anything not in the layout.
QString UnscrambleText(const QString &stored);

} // namespace modSecurity
