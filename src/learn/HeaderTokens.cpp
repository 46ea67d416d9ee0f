#include "HeaderTokens.h"

#include "AuthFields.h"
#include "HeaderDigest.h"
#include "HeaderFacts.h"
#include "HeaderWalk.h"
#include "ReceivedChain.h"
#include "TokenSink.h"
#include "TokenText.h"

#include <QVarLengthArray>
#include <algorithm>
#include <array>
#include <string_view>

namespace {

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

void readFrom(TokenSink &sink, HeaderFacts &facts, QByteArrayView value)
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


// The tags the tokenizer gives by itself: every one with a dot, and these.
bool isOwnTag(QByteArrayView name)
{
    static constexpr std::string_view kOwn[] = {"auth",   "charset", "check",  "ctype", "encoded", "field",
                                                "fields", "hops",    "mailer", "rcvd",  "w"};
    const std::string_view tag(name.data(), size_t(name.size()));
    return name.contains('.') || std::find(std::begin(kOwn), std::end(kOwn), tag) != std::end(kOwn);
}

void readContentType(TokenSink &sink, QByteArrayView value)
{
    const qsizetype semi = TokenText::indexOf(value, ';');
    sink.add("ctype", (semi < 0 ? value : value.first(semi)).trimmed());
    // Lower-cased on the stack for all but the longest: one a message.
    QVarLengthArray<char, 256> bytes(value.size());
    for (qsizetype i = 0; i < value.size(); ++i)
        bytes[i] = TokenList::lowered(value[i]);
    const QByteArrayView lower(bytes.data(), bytes.size());
    const qsizetype charset = TokenText::find(lower, "charset=", 7);
    if (charset >= 0) {
        QByteArrayView cs = lower.sliced(charset + 8);
        if (cs.startsWith('"'))
            cs = cs.sliced(1);
        qsizetype end = 0;
        while (end < cs.size() && cs[end] != '"' && cs[end] != ';' && cs[end] != ' ')
            ++end;
        sink.add("charset", cs.first(end));
    }
    const qsizetype boundary = TokenText::find(lower, "boundary=", 8);
    if (boundary >= 0)
        sink.add("ctype.boundary", TokenText::shape(value.sliced(boundary + 9), 24));
}

void readMessageId(TokenSink &sink, HeaderFacts &facts, QByteArrayView value)
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
void readField(TokenSink &sink, HeaderFacts &facts, QByteArrayView name, QByteArrayView value)
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
        const QByteArrayView tag = name.first(std::min(name.size(), HeaderTokens::kMaxFieldTagBytes));
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
    TokenSink sink;
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
    ReceivedChain::read(sink, facts);
    sink.tokens.setLimit(kMaxTokens);
    HeaderChecks::add(facts, sink.tokens);
    sink.tokens.finish();
    return sink.tokens;
}
