#pragma once

#include <QString>

// Trelvik against the ideal reference client (ideal_imap.py), on the same
// sample server and the same link, in interleaved rounds: the check and the
// check with the deletion of its hits, as ratios of the times taken; the
// round trips the check waits for, counted at the link emulator; and the
// peak memory of a check over 100,000 real-sized messages, in a child
// process (`program --check-child PORT`). Mailboxes are written under
// `place`.
namespace VersusIdeal {

bool run(const QString &program, const QString &place);
// Only the peak memory of the check over real-sized messages.
bool realPeak(const QString &program, const QString &place);

} // namespace VersusIdeal
