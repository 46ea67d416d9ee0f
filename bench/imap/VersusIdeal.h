#pragma once

#include <QString>

// Trelvik against the ideal reference client (ideal_imap.py), each run on
// a private Dovecot of its own over a copy of the same mail (BenchDovecot)
// and through the same link, in interleaved rounds: the check and the check
// with the move of its hits, as ratios of the times taken; the round trips
// the check waits for, counted at the link emulator; and the peak memory of
// a check over 100,000 real-sized messages, in a child process (`program
// --check-child PORT`). The mail is prepared once in the cache folder.
namespace VersusIdeal {

// Only the figures whose names contain `only`, when given.
bool run(const QString &program, const QString &place, const QString &only = {});
// Only the peak memory of the check over real-sized messages.
bool realPeak(const QString &program, const QString &place);

} // namespace VersusIdeal
