#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QList>

class TokenList;

// What the tokenizer gathers about a header's shape while it reads the
// fields, for the structural checks that look at several fields at once.
struct HeaderFacts {
    QByteArray fromDomain;
    QByteArray fromNameDomain; // the domain of an address written in From's display name
    bool fromHasName = false;
    bool hasFrom = false;
    bool hasTo = false;
    bool hasSubject = false;
    QByteArray replyToDomain;
    QByteArray replyToValue; // raw, at most 256 bytes
    QByteArray returnPathDomain;
    QByteArray messageIdDomain;
    bool hasMessageId = false;
    QByteArray date; // the Date field as written
    QByteArray firstReceivedDate; // the time the nearest Received line gives
    int receivedCount = 0;
    QByteArrayList received; // the first few Received values, nearest first
    QByteArray mailer; // X-Mailer or User-Agent, lower case
    bool listMail = false; // a List-Id or List-Unsubscribe field
    QByteArrayList encodedCharsets;
    QByteArray subject; // raw
    int recipients = 0;
    bool hasReplyLink = false; // In-Reply-To or References
    QByteArray toValue; // raw, for its shape
    QByteArray fieldSet; // one letter a well-known field present, in a fixed order
    QByteArrayList signers; // the domains of the DKIM signatures, lower case
};

// The checks that cost little and carry signal, each a token "check:...".
namespace HeaderChecks {

void add(const HeaderFacts &facts, TokenList &tokens);

} // namespace HeaderChecks
