#pragma once

#include <QString>

// Whether a rule value does what it looks meant to do. Every value is
// stored as typed and also compared whole with a message's From value, so
// a value that misses the form of the rule it imitates ("Size: >= 10 MB",
// "X-Spam-Flag:YES", "*@ spam.example") is no error to the database: it
// just never catches what its writer meant. The add dialog refuses such a
// value, an import stores it and names its line, so that a file exported
// from any database still comes back whole.
namespace RuleCheck {

// What is wrong with the value and what it does instead, as one phrase
// ("no size rule (...): it is compared whole with the From value"); empty
// when it does what it says.
QString warning(const QString &value);

} // namespace RuleCheck
