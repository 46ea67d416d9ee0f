#include "LearnReasons.h"
#include "HeaderTokens.h"
#include "LearnedVerdict.h"

#include <QHash>
#include <cmath>

namespace {

struct Phrase {
    const char *tag;
    const char *words; // %1 is the token's value
};

constexpr Phrase kPhrases[] = {
    {"from.domain", "sender domain %1"},
    {"from.domain.parent", "sender domain under %1"},
    {"from.name", "sender name word \u201c%1\u201d"},
    {"from.user", "sender address %1@\u2026"},
    {"from.user.shape", "sender address shaped %1"},
    {"subject", "subject word \u201c%1\u201d"},
    {"subject.shape", "subject shaped \u201c%1\u201d"},
    {"rcvd", "relay word %1"},
    {"rcvd.host", "sent through %1"},
    {"rcvd.host.parent", "sent through %1"},
    {"rcvd.net", "sent through network %1.0/24"},
    {"rcvd.net16", "sent through network %1.0.0/16"},
    {"rcvd.helo.shape", "relay greeting shaped %1"},
    {"msgid.domain", "message id from %1"},
    {"msgid.domain.parent", "message id from %1"},
    {"msgid.shape", "message id shaped %1"},
    {"msgid.domain.shape", "message id domain shaped %1"},
    {"replyto.domain", "reply-to domain %1"},
    {"replyto.domain.parent", "reply-to domain under %1"},
    {"retpath.domain", "return path domain %1"},
    {"retpath.domain.parent", "return path domain under %1"},
    {"date.shape", "date written as \u201c%1\u201d"},
    {"date.zone", "dated in time zone %1"},
    {"ctype", "content type %1"},
    {"ctype.boundary", "part boundary shaped %1"},
    {"charset", "charset %1"},
    {"mailer", "mail program \u201c%1\u201d"},
    {"mailer.word", "mail program word %1"},
    {"field", "the %1 field"},
    {"encoded", "words encoded in %1"},
    {"to.domain", "recipient domain %1"},
    {"cc.domain", "copy recipient domain %1"},
    {"to.domain.parent", "recipient domain under %1"},
    {"cc.domain.parent", "copy recipient domain under %1"},
    {"w", "header word %1"},
    {"subject.pair", "subject words \u201c%1\u201d"},
    {"rcvd1.host", "sent from %1"},
    {"rcvd1.host.parent", "sent from %1"},
    {"rcvd1.net", "sent from network %1.0/24"},
    {"rcvd1.net16", "sent from network %1.0.0/16"},
    {"rcvd1.helo.shape", "sender's greeting shaped %1"},
    {"rcvd1.rdns.shape", "sender's address named like %1"},
    {"rcvd.relay", "passed on by your own servers"},
    {"fields", "the same set of fields"},
    {"hops", "%1 relays"},
    {"to.shape", "recipients written as %1"},
    {"in-reply-to", "in reply to %1"},
    {"references", "referring to %1"},
    {"auth", "checked on arrival: %1"},
    {"dkim.d", "signed by %1"},
    {"dkim.s", "signed with the key %1"},
    {"arc.d", "passed on and sealed by %1"},
};

constexpr Phrase kChecks[] = {
    {"no-from", "no sender"},
    {"no-to", "no recipient"},
    {"no-subject", "no subject"},
    {"no-message-id", "no message id"},
    {"no-date", "no date"},
    {"date-unreadable", "a date that cannot be read"},
    {"date-in-future", "a date after its arrival"},
    {"date-long-before-arrival", "a date days before its arrival"},
    {"from-without-name", "a sender without a name"},
    {"name-holds-own-address", "a sender name that is an address"},
    {"name-holds-other-address", "a sender name holding another address"},
    {"message-id-from-sender", "a message id from the sender's domain"},
    {"message-id-elsewhere", "a message id from another domain than the sender's"},
    {"reply-to-elsewhere", "replies going to another domain"},
    {"return-path-elsewhere", "a return path in another domain"},
    {"free-mail-bulk", "a free-mail sender on a list"},
    {"encoded-in-odd-charset", "words encoded in a rare charset"},
    {"few-hops", "few relays"},
    {"many-recipients", "many recipients"},
    {"subject-shouting", "a subject in capitals"},
    {"subject-bang", "a subject with \u201c!\u201d or \u201c$\u201d"},
    {"subject-bangs", "a subject with several \u201c!\u201d or \u201c$\u201d"},
    {"subject-padded", "a subject padded with spaces"},
    {"subject-ends-in-number", "a subject ending in a number"},
    {"reply-without-reference", "a reply to nothing sent"},
    {"in-a-thread", "a reply in a conversation"},
    {"to-undisclosed", "undisclosed recipients"},
    {"to-own-domain", "sent to the sender's own domain"},
    {"reply-to-is-to", "a post to a list, answered there"},
    {"first-hop-without-name", "sent from an address without a name"},
    {"first-hop-helo-not-its-name", "a sending server greeting with another name than its own"},
    {"signed-by-sender", "signed by the sender's domain"},
    {"signed-by-other", "signed by another domain than the sender's"},
};

// A phrase split around its value: what comes before and after it, and
// whether it names the value at all (a set of fields does not).
struct Words {
    QString before;
    QString after;
    bool namesValue = false;
};

Words wordsOf(const char *phrase)
{
    const QString words = QString::fromUtf8(phrase);
    const qsizetype at = words.indexOf(u"%1");
    if (at < 0)
        return {words, {}, false};
    return {words.left(at), words.mid(at + 2), true};
}

// Every message a check lists gives its reasons: the phrases are looked up
// by tag, made once.
const QHash<QByteArrayView, Words> &phrases()
{
    static const QHash<QByteArrayView, Words> byTag = [] {
        QHash<QByteArrayView, Words> table;
        for (const Phrase &phrase : kPhrases)
            table.insert(QByteArrayView(phrase.tag), wordsOf(phrase.words));
        return table;
    }();
    return byTag;
}

const QHash<QByteArrayView, QString> &checks()
{
    static const QHash<QByteArrayView, QString> byName = [] {
        QHash<QByteArrayView, QString> table;
        for (const Phrase &check : kChecks)
            table.insert(QByteArrayView(check.tag), QString::fromUtf8(check.words));
        return table;
    }();
    return byName;
}

// Appends the phrase for a token of `tag` with `value` to `text`: every
// message a check lists gives three, so no part is made on its own.
void appendPhrase(QString &text, QByteArrayView tag, QByteArrayView value)
{
    if (tag == "check") {
        const auto check = checks().constFind(value);
        if (check != checks().cend())
            text += *check;
        else if (value == "free-mail-with:none")
            text += u"a free-mail sender with no named mail program";
        else if (value.startsWith("free-mail-with:"))
            text.append(u"a free-mail sender using ").append(QString::fromUtf8(value.sliced(15)));
        else
            text += QString::fromUtf8(value);
        return;
    }
    // Counted up to 8: the last stands for more too.
    if (tag == "hops") {
        if (value == "1")
            text += u"1 relay";
        else if (value == "8")
            text += u"8 or more relays";
        else
            text.append(QString::fromUtf8(value)).append(u" relays");
        return;
    }
    const auto phrase = phrases().constFind(tag);
    if (phrase == phrases().cend()) {
        // A field named like one of the tokenizer's own tags is kept apart
        // from it by a prefix the user never wrote.
        if (tag.startsWith("field."))
            tag = tag.sliced(6);
        text += QString::fromUtf8(tag);
        // A name as long as the tokenizer keeps may have been cut there.
        if (tag.size() == HeaderTokens::kMaxFieldTagBytes)
            text += u'\u2026';
        text.append(u" field word ").append(QString::fromUtf8(value));
        return;
    }
    text += phrase->before;
    if (phrase->namesValue)
        text.append(QString::fromUtf8(value)).append(phrase->after);
}

} // namespace

QString LearnReasons::describe(QByteArrayView token, quint32 seen, bool spam)
{
    const qsizetype colon = token.indexOf(':');
    const QByteArrayView tag = colon < 0 ? QByteArrayView() : token.first(colon);
    const QByteArrayView value = colon < 0 ? token : token.sliced(colon + 1);
    QString text;
    text.reserve(token.size() + 64); // room for most phrases and the count: one allocation
    appendPhrase(text, tag, value);
    text += u" seen in ";
    text += QString::number(seen);
    text += spam ? u" of your spam" : u" of your good mail";
    return text;
}

int LearnedVerdict::percent() const
{
    const int rounded = int(std::clamp(std::lround(score * 100), 0L, 100L));
    // A score just under the spam cutoff rounds to 100: shown so beside
    // "unsure", it would read as certain spam the verdict did not call.
    return kind != Kind::Spam ? std::min(rounded, 99) : rounded;
}

QString LearnedVerdict::text() const
{
    return QStringLiteral("Learned: %1 % like your spam").arg(percent());
}

QString LearnedVerdict::kindName() const
{
    switch (kind) {
    case Kind::Spam:
        return QStringLiteral("spam");
    case Kind::Unsure:
        return QStringLiteral("unsure");
    case Kind::Good:
        return QStringLiteral("good");
    case Kind::None:
        break;
    }
    return QStringLiteral("none");
}
