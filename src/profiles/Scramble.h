#pragma once

#include <QString>

// The stored form of a password: decimal digit groups made with a key text,
// random filler and an exclusive-or chain. Never the password as typed.
namespace modSecurity {

// Trims `text` in place and returns its stored form ("" for an empty text).
QString ScrambleText(QString &text);
// The password a stored form stands for; "" for anything not in the layout.
QString UnscrambleText(const QString &stored);

} // namespace modSecurity
