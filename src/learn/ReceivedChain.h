#pragma once

class TokenSink;
struct HeaderFacts;

namespace ReceivedChain {

// The hops a message came through. A hop whose sender is named elsewhere in
// the chain as a receiver is a relay between servers the chain already
// named (the user's own among them, the same for all their mail), and gives
// nothing; so does one from a private or loopback address. The others are
// where the message entered the chain: the sender's own machine, or a break
// in it (a forged line, a server naming itself otherwise). The nearest of
// those is read on its own too.
void read(TokenSink &sink, const HeaderFacts &facts);

} // namespace ReceivedChain
