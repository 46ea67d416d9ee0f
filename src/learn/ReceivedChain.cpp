#include "ReceivedChain.h"

#include "HeaderFacts.h"
#include "TokenSink.h"
#include "TokenText.h"

#include <QVarLengthArray>
#include <algorithm>
#include <array>

namespace {

// One Received line, "from HELO (RDNS [IP]) by HOST ...; TIME", in parts.
struct Hop {
    QByteArrayView value;
    QByteArrayView route; // the sending side: "from ..." up to " by "
    QByteArrayView helo;
    QByteArrayView rdns;
    QByteArrayView ip;
    QByteArrayView by;
};

// The bytes that end a name in a Received line, by table: each hop's names
// are read up to one.
constexpr std::array<bool, 256> kNameEnds = [] {
    std::array<bool, 256> table{};
    for (const char c : {' ', ')', ';', '['})
        table[quint8(c)] = true;
    return table;
}();

QByteArrayView firstWord(QByteArrayView text)
{
    const char *data = text.data();
    qsizetype end = 0;
    while (end < text.size() && !kNameEnds[quint8(data[end])])
        ++end;
    return text.first(end);
}

Hop hopOf(QByteArrayView value)
{
    Hop hop;
    hop.value = value;
    const qsizetype semi = TokenText::lastIndexOf(value, ';');
    QByteArrayView route = semi < 0 ? value : value.first(semi);
    const qsizetype by = TokenText::find(route, " by ", 2);
    if (by >= 0) {
        hop.by = firstWord(route.sliced(by + 4));
        route = route.first(by);
    }
    hop.route = route;
    if (TokenText::hasPrefix(route, "from "))
        hop.helo = firstWord(route.sliced(5));
    const qsizetype paren = TokenText::indexOf(route, '(');
    if (paren >= 0)
        hop.rdns = firstWord(route.sliced(paren + 1));
    const qsizetype open = TokenText::indexOf(route, '[');
    const qsizetype close = open < 0 ? -1 : TokenText::indexOf(route, ']', open);
    if (close > open + 1)
        hop.ip = route.sliced(open + 1, close - open - 1);
    return hop;
}


// Whether two names a server gave are the same host: equal, or one is the
// other's first label ("mx1" and "mx1.example.net").
bool sameHost(QByteArrayView a, QByteArrayView b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    if (a.size() == b.size())
        return a.compare(b, Qt::CaseInsensitive) == 0;
    const QByteArrayView shorter = a.size() < b.size() ? a : b;
    const QByteArrayView longer = a.size() < b.size() ? b : a;
    return longer[shorter.size()] == '.' && !shorter.contains('.')
        && longer.first(shorter.size()).compare(shorter, Qt::CaseInsensitive) == 0;
}

// The tags a hop's evidence goes under: every outside hop's, or the nearest one's.
struct HopTags {
    TokenList::Tag net;
    TokenList::Tag net16;
    TokenList::Tag heloShape;
    TokenList::Tag host;
    TokenList::Tag hostParent;
};
constexpr HopTags kAnyHop = {TokenList::tagOf("rcvd.net"), TokenList::tagOf("rcvd.net16"),
                             TokenList::tagOf("rcvd.helo.shape"), TokenList::tagOf("rcvd.host"),
                             TokenList::tagOf("rcvd.host.parent")};
constexpr HopTags kFirstHop = {TokenList::tagOf("rcvd1.net"), TokenList::tagOf("rcvd1.net16"),
                               TokenList::tagOf("rcvd1.helo.shape"), TokenList::tagOf("rcvd1.host"),
                               TokenList::tagOf("rcvd1.host.parent")};

// A hop the user's own mail fetcher wrote on collecting the message from a
// mailbox: the same for all mail of that mailbox, nothing of the sender.
bool isOwnFetch(const Hop &hop)
{
    const QByteArrayView rest = hop.value.sliced(hop.route.size());
    return TokenText::find(rest, "with POP3", 6) >= 0 || TokenText::find(rest, "with IMAP", 5) >= 0
        || TokenText::find(rest, "fetchmail", 0) >= 0;
}

// The hop's networks (/24 and /16) and the names it gave.
void readHop(TokenSink &sink, const Hop &hop, const HopTags &tags)
{
    const qsizetype last = TokenText::lastIndexOf(hop.ip, '.');
    if (last > 0 && !TokenText::isPrivateAddress(hop.ip)) {
        sink.add(tags.net, hop.ip.first(last));
        const qsizetype second = TokenText::lastIndexOf(hop.ip.first(last), '.');
        if (second > 0)
            sink.add(tags.net16, hop.ip.first(second));
    }
    if (!hop.helo.isEmpty())
        sink.add(tags.heloShape, TokenText::shape(hop.helo, 16));
    if (hop.helo.contains('.'))
        sink.domain(tags.host, tags.hostParent, hop.helo); // lower-cased as it is added
}

} // namespace

void ReceivedChain::read(TokenSink &sink, const HeaderFacts &facts)
{
    QVarLengthArray<Hop, 16> hops;
    for (const QByteArrayView value : facts.received)
        hops.append(hopOf(value));
    auto isRelay = [&](const Hop &hop) {
        if (TokenText::isPrivateAddress(hop.ip) || hop.helo.compare("localhost", Qt::CaseInsensitive) == 0
            || isOwnFetch(hop))
            return true;
        return std::any_of(hops.begin(), hops.end(), [&](const Hop &other) {
            return sameHost(other.by, hop.helo) || sameHost(other.by, hop.rdns);
        });
    };
    bool first = true;
    for (const Hop &hop : hops) {
        if (isRelay(hop)) {
            static constexpr TokenList::Tag kRelay = TokenList::tagOf("rcvd.relay");
            sink.add(kRelay, "yes");
            continue;
        }
        // The sending side only: the receiving side ("by ... for <me>") is
        // where the mail landed, the same for all of it.
        sink.machine("rcvd", hop.route);
        readHop(sink, hop, kAnyHop);
        if (!first)
            continue;
        first = false;
        readHop(sink, hop, kFirstHop);
        if (hop.rdns.isEmpty() || hop.rdns.compare("unknown", Qt::CaseInsensitive) == 0)
            sink.add("check", "first-hop-without-name");
        else if (TokenText::baseDomain(hop.rdns).compare(TokenText::baseDomain(hop.helo), Qt::CaseInsensitive) != 0)
            sink.add("check", "first-hop-helo-not-its-name");
        sink.add("rcvd1.rdns.shape", TokenText::shape(hop.rdns, 16));
    }
}
