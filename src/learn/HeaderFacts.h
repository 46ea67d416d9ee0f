#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>
#include <QList>
#include <QVarLengthArray>

class TokenList;

// What the tokenizer gathers about a header's shape while it reads the
// fields, for the structural checks that look at several fields at once.
// The views are of the header or of the walk's joined values: valid while
// the header is tokenized, and copied never, as every message is.
struct HeaderFacts {
    QByteArray fromDomain;
    QByteArray fromNameDomain; // the domain of an address written in From's display name
    bool fromHasName = false;
    bool hasFrom = false;
    bool hasTo = false;
    bool hasSubject = false;
    QByteArray replyToDomain;
    QByteArrayView replyToValue; // raw, at most 256 bytes
    QByteArray returnPathDomain;
    QByteArray messageIdDomain;
    bool hasMessageId = false;
    QByteArrayView date; // the Date field as written
    QByteArrayView firstReceivedDate; // the time the nearest Received line gives
    int receivedCount = 0;
    QVarLengthArray<QByteArrayView, 16> received; // the first few Received values, nearest first
    QByteArrayView mailer; // X-Mailer or User-Agent, as written
    bool listMail = false; // a List-Id or List-Unsubscribe field
    QByteArrayList encodedCharsets;
    QByteArrayView subject; // raw
    int recipients = 0;
    bool hasReplyLink = false; // In-Reply-To or References
    QByteArrayView toValue; // raw, for its shape
    QByteArrayView fieldSet; // one letter a well-known field present, in a fixed order
    QByteArrayList signers; // the domains of the DKIM signatures, lower case
};

// The checks that cost little and carry signal, each a token "check:...".
namespace HeaderChecks {

void add(const HeaderFacts &facts, TokenList &tokens);

} // namespace HeaderChecks
