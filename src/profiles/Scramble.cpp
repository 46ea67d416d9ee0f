// Placeholder until the scrambling lands.
#include "Scramble.h"

namespace modSecurity {
QString ScrambleText(QString &text) { text = text.trimmed(); return {}; }
QString UnscrambleText(const QString &) { return {}; }
} // namespace modSecurity
