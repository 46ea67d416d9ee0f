#pragma once

#include <QString>

// The fetch as the window runs it, over real-sized mail (RealMailbox) and
// the rule database a user accumulates: 100,000 messages straight from the
// sample server program (time and peak memory, in a process of its own),
// and 10,000 over a 100 ms round trip (time and round trips).
namespace RealFetch {

// Both figures; `program` is this benchmark, started again as the child.
bool run(const QString &program);
// The child's part: fetches from the port, sorting by the rules in
// `rulesFolder`, and prints "<seconds> <peak RSS in kB> <rows> <Recycle Bin
// rows> <CPU seconds>".
int fetchChild(quint16 port, const QString &rulesFolder);

} // namespace RealFetch
