#include "HeaderTokens.h"

#include "AuthFields.h"
#include "HeaderDigest.h"
#include "HeaderFacts.h"
#include "HeaderWalk.h"
#include "TokenText.h"

#include <QVarLengthArray>
#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <string_view>

namespace {

// Two parts of a tag joined on the stack, for tags made from a field's name;
// empty when they would not fit (no tag is that long).
class Joined {
public:
    Joined(QByteArrayView a, QByteArrayView b)
    {
        if (a.size() + b.size() > qsizetype(sizeof m_bytes))
            return;
        std::copy(a.begin(), a.end(), m_bytes);
        std::copy(b.begin(), b.end(), m_bytes + a.size());
        m_size = a.size() + b.size();
    }
    QByteArrayView view() const { return {m_bytes, m_size}; }

private:
    char m_bytes[64];
    qsizetype m_size = 0;
};

class Sink {
public:
    TokenList tokens;
    static constexpr TokenList::Tag kPlainWord = TokenList::tagOf("w");

    void add(QByteArrayView tag, QByteArrayView word) { tokens.add(tag, word); }
    void add(const TokenList::Tag &tag, QByteArrayView word) { tokens.add(tag, word); }
    // The words of a field's value, each untagged ("w": a word seen in
    // another field still carries some of its weight) and, within its first
    // `tagged` bytes, tagged by the field too; one pass for both.
    void machine(QByteArrayView tag, QByteArrayView value, qsizetype tagged = kMachineBytes)
    {
        value = value.first(std::min(value.size(), kMachineBytes));
        const TokenList::Tag fieldTag = TokenList::tagOf(tag);
        const char *taggedEnd = value.data() + std::min(tagged, value.size());
        TokenText::machineWords(value, [&](QByteArrayView w) {
            if (!tag.isEmpty() && w.data() + w.size() <= taggedEnd)
                tokens.add(kPlainWord, fieldTag, w);
            else
                tokens.add(kPlainWord, w);
        });
    }
    static constexpr qsizetype kMachineBytes = 512;
    // The words of a value people read; with `pairs`, adjacent words as
    // pairs too ("<tag>.pair"): a phrase says more than its words.
    void human(QByteArrayView tag, QByteArrayView raw, bool pairs = false)
    {
        // The pair is made on the stack: no token keeps more than
        // kMaxTokenBytes of it, so neither word needs more here.
        constexpr qsizetype kKept = HeaderTokens::kMaxTokenBytes;
        char pair[2 * kKept + 1];
        qsizetype previous = 0; // the previous word's bytes at the start of `pair`
        const TokenList::Tag wordTag = TokenList::tagOf(tag);
        const Joined pairName(tag, ".pair"); // the tag's text is a view of it
        const TokenList::Tag pairTag = TokenList::tagOf(pairName.view());
        auto emitWord = [&](QByteArrayView word) {
            add(wordTag, word);
            if (!pairs)
                return;
            const qsizetype kept = std::min(word.size(), kKept);
            if (previous > 0) {
                pair[previous] = ' ';
                std::copy_n(word.data(), kept, pair + previous + 1);
                add(pairTag, QByteArrayView(pair, previous + 1 + kept));
            }
            std::copy_n(word.data(), kept, pair);
            previous = kept;
        };
        // By reference: a std::function would allocate room for the lambda.
        const TokenText::Emit words = std::ref(emitWord);
        if (!TokenText::asciiHumanWords(raw, words))
            TokenText::humanWords(TokenText::decoded(raw), words);
    }
    // The domain and each parent down to two labels.
    void domain(QByteArrayView tag, QByteArrayView domain)
    {
        if (domain.isEmpty())
            return;
        const Joined parentName(tag, ".parent"); // empty when too long: no parents then
        this->domain(TokenList::tagOf(tag), TokenList::tagOf(parentName.view()), domain);
    }
    void domain(const TokenList::Tag &tag, const TokenList::Tag &parentTag, QByteArrayView domain)
    {
        if (domain.isEmpty())
            return;
        add(tag, domain);
        if (parentTag.text.isEmpty())
            return;
        qsizetype dot = TokenText::indexOf(domain, '.');
        while (dot > 0) {
            const qsizetype next = TokenText::indexOf(domain, '.', dot + 1);
            if (next < 0)
                break;
            add(parentTag, domain.sliced(dot + 1));
            dot = next;
        }
    }
};

// Fields that only report another filter's opinion, or that the servers on
// the way rewrite; and the ones the handlers below read themselves.
bool isOpinion(QByteArrayView name)
{
    return TokenText::hasPrefix(name, "x-spam") || TokenText::hasPrefix(name, "x-virus");
}

// Fields the user's own delivery writes (where and when it landed): the same
// for all their mail, they say nothing of the sender, and a mailbox that
// happens to gather more of one kind would teach the wrong lesson.
bool isDeliveryStamp(QByteArrayView name)
{
    return name == "delivered-to" || name == "x-original-to" || name == "envelope-to" || name == "x-envelope-to"
        || name == "delivery-date" || name == "x-delivered-to";
}

QByteArrayView addressPart(QByteArrayView value, QByteArrayView *displayName)
{
    const qsizetype open = TokenText::lastIndexOf(value, '<');
    const qsizetype close = open < 0 ? -1 : TokenText::indexOf(value, '>', open);
    if (open >= 0 && close > open) {
        *displayName = value.first(open).trimmed();
        return value.sliced(open + 1, close - open - 1).trimmed();
    }
    const qsizetype paren = TokenText::indexOf(value, '(');
    if (paren > 0) {
        const qsizetype end = TokenText::indexOf(value, ')', paren);
        *displayName = value.sliced(paren + 1, (end < 0 ? value.size() : end) - paren - 1);
        return value.first(paren).trimmed();
    }
    *displayName = {};
    return value.trimmed();
}

void readFrom(Sink &sink, HeaderFacts &facts, QByteArrayView value)
{
    facts.hasFrom = true;
    QByteArrayView name;
    const QByteArrayView address = addressPart(value, &name);
    while (name.size() >= 2 && name.front() == '"' && name.back() == '"')
        name = name.sliced(1, name.size() - 2);
    facts.fromHasName = !name.trimmed().isEmpty();
    if (name.contains('@'))
        facts.fromNameDomain = TokenText::domainOf(name);
    sink.human("from.name", name);
    const qsizetype at = TokenText::lastIndexOf(address, '@');
    facts.fromDomain = TokenText::domainOf(address);
    sink.domain("from.domain", facts.fromDomain);
    if (at > 0) {
        const QByteArrayView local = address.first(at);
        sink.add("from.user", local);
        sink.add("from.user.shape", TokenText::shape(local, 16));
    }
}

// Where `needle` first is in `text`, or -1. Found by memchr for the needle's
// byte at `key`, chosen seldom seen in the values searched ("y" of " by "),
// each hit then compared whole: a search by the first byte, a space or a
// common letter, stops at every word of the long Received values.
qsizetype find(QByteArrayView text, std::string_view needle, qsizetype key)
{
    const qsizetype size = qsizetype(needle.size());
    const char *data = text.data();
    const qsizetype lastKey = text.size() - size + key; // where the key byte of the last possible match is
    for (qsizetype at = key; at <= lastKey;) {
        const void *hit = std::memchr(data + at, needle[size_t(key)], size_t(lastKey - at + 1));
        if (!hit)
            return -1;
        const qsizetype start = static_cast<const char *>(hit) - data - key;
        if (std::memcmp(data + start, needle.data(), needle.size()) == 0)
            return start;
        at = start + key + 1;
    }
    return -1;
}

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
    const qsizetype by = find(route, " by ", 2);
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

// The tags the tokenizer gives by itself: every one with a dot, and these.
bool isOwnTag(QByteArrayView name)
{
    static constexpr std::string_view kOwn[] = {"auth",   "charset", "check",  "ctype", "encoded", "field",
                                                "fields", "hops",    "mailer", "rcvd",  "w"};
    const std::string_view tag(name.data(), size_t(name.size()));
    return name.contains('.') || std::find(std::begin(kOwn), std::end(kOwn), tag) != std::end(kOwn);
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

// The hop's networks (/24 and /16) and the names it gave.
// A hop the user's own mail fetcher wrote on collecting the message from a
// mailbox: the same for all mail of that mailbox, nothing of the sender.
bool isOwnFetch(const Hop &hop)
{
    const QByteArrayView rest = hop.value.sliced(hop.route.size());
    return find(rest, "with POP3", 6) >= 0 || find(rest, "with IMAP", 5) >= 0 || find(rest, "fetchmail", 0) >= 0;
}

void readHop(Sink &sink, const Hop &hop, const HopTags &tags)
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

// The hops a message came through. A hop whose sender is named elsewhere in
// the chain as a receiver is a relay between servers the chain already
// named (the user's own among them, the same for all their mail), and gives
// nothing; so does one from a private or loopback address. The others are
// where the message entered the chain: the sender's own machine, or a break
// in it (a forged line, a server naming itself otherwise). The nearest of
// those is read on its own too.
void readReceived(Sink &sink, HeaderFacts &facts)
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

void readContentType(Sink &sink, QByteArrayView value)
{
    const qsizetype semi = TokenText::indexOf(value, ';');
    sink.add("ctype", (semi < 0 ? value : value.first(semi)).trimmed());
    // Lower-cased on the stack for all but the longest: one a message.
    QVarLengthArray<char, 256> bytes(value.size());
    for (qsizetype i = 0; i < value.size(); ++i)
        bytes[i] = TokenList::lowered(value[i]);
    const QByteArrayView lower(bytes.data(), bytes.size());
    const qsizetype charset = find(lower, "charset=", 7);
    if (charset >= 0) {
        QByteArrayView cs = lower.sliced(charset + 8);
        if (cs.startsWith('"'))
            cs = cs.sliced(1);
        qsizetype end = 0;
        while (end < cs.size() && cs[end] != '"' && cs[end] != ';' && cs[end] != ' ')
            ++end;
        sink.add("charset", cs.first(end));
    }
    const qsizetype boundary = find(lower, "boundary=", 8);
    if (boundary >= 0)
        sink.add("ctype.boundary", TokenText::shape(value.sliced(boundary + 9), 24));
}

void readMessageId(Sink &sink, HeaderFacts &facts, QByteArrayView value)
{
    facts.hasMessageId = true;
    const qsizetype at = TokenText::lastIndexOf(value, '@');
    if (at < 0) {
        sink.add("msgid.shape", TokenText::shape(value, 24));
        return;
    }
    facts.messageIdDomain = TokenText::domainOf(value);
    sink.domain("msgid.domain", facts.messageIdDomain);
    sink.add("msgid.shape", TokenText::shape(value.first(at), 24));
    sink.add("msgid.domain.shape", TokenText::shape(facts.messageIdDomain, 16));
}

// Reads one field into tokens and facts, its plain words ("w") too.
void readField(Sink &sink, HeaderFacts &facts, QByteArrayView name, QByteArrayView value)
{
    // Compared as a view: sizes first, no string length taken per literal.
    const std::string_view field(name.data(), size_t(name.size()));
    if (field == "from") {
        readFrom(sink, facts, value);
    } else if (field == "subject") {
        facts.hasSubject = true;
        facts.subject = value;
        sink.human("subject", value, true);
        sink.add("subject.shape", TokenText::shape(value, 12));
    } else if (field == "received") {
        if (facts.receivedCount++ == 0) {
            const qsizetype semi = TokenText::lastIndexOf(value, ';');
            if (semi >= 0)
                facts.firstReceivedDate = value.sliced(semi + 1).trimmed();
        }
        if (facts.received.size() < 16)
            facts.received.append(value);
        return; // read as a chain once all are in
    } else if (field == "message-id") {
        readMessageId(sink, facts, value);
    } else if (field == "reply-to") {
        facts.replyToDomain = TokenText::domainOf(value);
        facts.replyToValue = value.first(std::min<qsizetype>(value.size(), 256));
        sink.domain("replyto.domain", facts.replyToDomain);
    } else if (field == "return-path") {
        facts.returnPathDomain = TokenText::domainOf(value);
        sink.domain("retpath.domain", facts.returnPathDomain);
    } else if (field == "date") {
        facts.date = value;
        sink.add("date.shape", TokenText::shape(value, 40));
        sink.add("date.zone", TokenText::dateZone(value));
    } else if (field == "content-type") {
        readContentType(sink, value);
    } else if (field == "in-reply-to" || field == "references") {
        facts.hasReplyLink = true;
        sink.machine(name, value);
        return;
    } else if (field == "to" || field == "cc") {
        if (field == "to")
            facts.toValue = value.first(std::min<qsizetype>(value.size(), 256));
        facts.hasTo = facts.hasTo || field == "to";
        facts.recipients += int(value.count('@'));
        sink.domain(Joined(name, ".domain").view(), TokenText::domainIn(value));
    } else if (field == "x-mailer" || field == "user-agent") {
        facts.mailer = value;
        sink.add("mailer", value);
        sink.machine("mailer.word", value);
        return;
    } else if (AuthFields::read(name, value, sink.tokens, facts.signers)) {
        return;
    } else {
        if (TokenText::hasPrefix(name, "list-"))
            facts.listMail = true;
        const QByteArrayView tag = name.first(std::min<qsizetype>(name.size(), 24));
        // A field named like a tag of the tokenizer's own ("Check:",
        // "Dkim.D:") would give its tokens, good mail's weight and reasons
        // included: such a name is tagged apart.
        sink.machine(isOwnTag(tag) ? Joined("field.", tag).view() : tag, value);
        return;
    }
    sink.machine({}, value);
}

// Fields whose presence or absence together mark the program that wrote a
// message; the set is one token, a letter each in this order.
constexpr std::string_view kMarkedFields[] = {"message-id",
                                              "date",
                                              "mime-version",
                                              "content-type",
                                              "content-transfer-encoding",
                                              "x-mailer",
                                              "user-agent",
                                              "reply-to",
                                              "return-path",
                                              "list-id",
                                              "list-unsubscribe",
                                              "precedence",
                                              "sender",
                                              "errors-to",
                                              "in-reply-to",
                                              "references",
                                              "x-priority",
                                              "x-msmail-priority",
                                              "cc",
                                              "organization",
                                              "x-originating-ip",
                                              "delivered-to"};

void markField(QByteArrayView name, quint32 *mask)
{
    const std::string_view field(name.data(), size_t(name.size()));
    for (std::size_t i = 0; i < std::size(kMarkedFields); ++i) {
        if (field == kMarkedFields[i])
            *mask |= 1u << i;
    }
}

using FieldSet = std::array<char, std::size(kMarkedFields)>;

FieldSet fieldSet(quint32 mask)
{
    FieldSet set;
    for (std::size_t i = 0; i < set.size(); ++i)
        set[i] = (mask & (1u << i)) ? char('a' + i) : '-';
    return set;
}

} // namespace

qsizetype HeaderTokens::headerEnd(QByteArrayView bytes)
{
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        const qsizetype lf = bytes.indexOf('\n', pos);
        if (lf < 0)
            return -1;
        const qsizetype lineLength = lf - pos - (lf > pos && bytes[lf - 1] == '\r' ? 1 : 0);
        if (lineLength == 0)
            return pos;
        pos = lf + 1;
    }
    return -1;
}

TokenList HeaderTokens::of(QByteArrayView header)
{
    Sink sink;
    HeaderFacts facts;
    quint32 marked = 0;
    // The fields may not take the room the relay chain and the checks need:
    // a header of many fields (or padded with them) keeps those too.
    sink.tokens.setLimit(kMaxTokens - kRoomAfterFields);
    // The facts keep views of the values: the walk lasts until the checks are made.
    HeaderWalk::Fields fields(header.first(std::min(header.size(), kMaxHeaderBytes)));
    QByteArrayView name;
    QByteArrayView value;
    while (fields.next(&name, &value)) {
        // Fields a server writes as it serves the message are left out of
        // its digest too: a lesson taken back must take back exactly the
        // tokens it gave.
        if (isOpinion(name) || isDeliveryStamp(name) || HeaderDigest::changedByServer(name))
            continue;
        static constexpr TokenList::Tag kField = TokenList::tagOf("field");
        sink.add(kField, name.first(std::min<qsizetype>(name.size(), 32)));
        markField(name, &marked);
        TokenText::encodedCharsets(value, [&](QByteArrayView cs) {
            facts.encodedCharsets.append(cs.toByteArray());
            sink.add("encoded", cs);
        });
        readField(sink, facts, name, value);
    }
    const FieldSet set = fieldSet(marked);
    facts.fieldSet = QByteArrayView(set.data(), qsizetype(set.size()));
    // And the relay chain may not take the checks' room.
    sink.tokens.setLimit(kMaxTokens - kRoomForChecks);
    readReceived(sink, facts);
    sink.tokens.setLimit(kMaxTokens);
    HeaderChecks::add(facts, sink.tokens);
    sink.tokens.finish();
    return sink.tokens;
}
