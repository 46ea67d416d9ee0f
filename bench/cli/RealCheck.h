#pragma once

#include <QtGlobal>
#include <functional>

// The command line's check over real-sized mail (RealMailbox) with the rule
// database a user accumulates, timed from process start to exit:
// `trelvik --check` over 100,000 messages straight from the sample server
// program (time and its own peak memory), and `--check --delete --quiet`
// over 10,000 messages, 1,000 of them spam, through a 100 ms round trip;
// then the first again with the learning on (the profile trained first).
namespace RealCheck {

// `pointProfile` points the benchmark's profile at a port. The rules are
// added to the database of the benchmark's home.
bool run(const std::function<bool(quint16 port)> &pointProfile);

} // namespace RealCheck
