#include "HeaderFacts.h"
#include "HeaderTokens.h"
#include "TokenText.h"

#include <QDate>
#include <algorithm>
#include <array>
#include <optional>

namespace {

// Providers anyone can take an address at; a bulk mailer behind one is
// rarely a person.
constexpr std::array kFreeMail = {"hotmail.com", "yahoo.com", "aol.com",  "msn.com",      "gmail.com",
                                  "excite.com",  "juno.com",  "mail.com", "netscape.net", "lycos.com",
                                  "yahoo.co.uk", "mail.ru",   "163.com",  "sina.com",     "rediffmail.com"};

// Charsets most mail is written in; an encoded word in another is a sign.
constexpr std::array kCommonCharsets = {"us-ascii", "utf-8", "iso-8859-1", "iso-8859-15", "windows-1252"};

bool isFreeMail(const QByteArray &domain)
{
    for (const char *free : kFreeMail) {
        const QByteArrayView provider(free);
        if (domain.endsWith(provider)
            && (domain.size() == provider.size() || domain[domain.size() - provider.size() - 1] == '.'))
            return true;
    }
    return false;
}

// QByteArrayView::toInt(), read directly when the text is a few digits alone,
// as a date's numbers mostly are: Qt's conversion costs more than the rest
// of the date.
int toInt(QByteArrayView text, bool *ok = nullptr)
{
    const bool digits = std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits || text.isEmpty() || text.size() > 9)
        return text.toInt(ok);
    int value = 0;
    for (const char c : text)
        value = value * 10 + (c - '0');
    if (ok)
        *ok = true;
    return value;
}

// Seconds since the epoch of an RFC 5322 date ("[Tue,] 6 Aug 2002 06:48:09
// -0400 (EDT)"), read leniently and quickly; nullopt when it cannot be read.
std::optional<qint64> parseTime(QByteArrayView value)
{
    static constexpr std::array kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                           "jul", "aug", "sep", "oct", "nov", "dec"};
    // The first six words, as views: no copies for a check made on every message.
    std::array<QByteArrayView, 6> words;
    qsizetype count = 0;
    qsizetype pos = 0;
    while (count < qsizetype(words.size()) && pos < value.size()) {
        while (pos < value.size() && (value[pos] == ' ' || value[pos] == '\t'))
            ++pos;
        const qsizetype start = pos;
        while (pos < value.size() && value[pos] != ' ' && value[pos] != '\t')
            ++pos;
        if (pos > start)
            words[count++] = value.sliced(start, pos - start);
    }
    const qsizetype i = count > 0 && words[0].endsWith(',') ? 1 : 0;
    if (count < i + 4)
        return std::nullopt;
    bool dayOk = false, yearOk = false;
    const int day = toInt(words[i], &dayOk);
    int year = toInt(words[i + 2], &yearOk);
    const QByteArrayView month = words[i + 1].first(std::min<qsizetype>(3, words[i + 1].size()));
    const auto m = std::find_if(kMonths.begin(), kMonths.end(),
                                [&](const char *name) { return month.compare(name, Qt::CaseInsensitive) == 0; });
    const QByteArrayView clock = words[i + 3];
    const qsizetype colon = clock.indexOf(':');
    if (!dayOk || !yearOk || m == kMonths.end() || colon < 0)
        return std::nullopt;
    if (year < 100)
        year += year < 50 ? 2000 : 1900;
    const QDate date(year, int(m - kMonths.begin()) + 1, day);
    if (!date.isValid())
        return std::nullopt;
    const qsizetype second = clock.indexOf(':', colon + 1);
    const int hh = toInt(clock.first(colon));
    const int mm = toInt(clock.sliced(colon + 1, (second < 0 ? clock.size() : second) - colon - 1));
    const int ss = second < 0 ? 0 : toInt(clock.sliced(second + 1));
    // A clock past its day is no time (and would overflow the sum below).
    if (hh < 0 || hh > 23 || mm < 0 || mm > 59 || ss < 0 || ss > 60)
        return std::nullopt;
    qint64 seconds = date.toJulianDay() * 86400 + hh * 3600 + mm * 60 + ss;
    if (count > i + 4) {
        const QByteArrayView zone = words[i + 4];
        bool zoneOk = false;
        const int hhmm = zone.size() == 5 ? toInt(zone.sliced(1), &zoneOk) : 0;
        if (zoneOk && (zone[0] == '+' || zone[0] == '-'))
            seconds -= (zone[0] == '-' ? -1 : 1) * ((hhmm / 100) * 3600 + (hhmm % 100) * 60);
    }
    return seconds;
}

void dateChecks(const HeaderFacts &facts, TokenList &tokens)
{
    if (facts.date.isEmpty()) {
        tokens.add("check", "no-date");
        return;
    }
    const std::optional<qint64> sent = parseTime(facts.date);
    if (!sent) {
        tokens.add("check", "date-unreadable");
        return;
    }
    const std::optional<qint64> received = parseTime(facts.firstReceivedDate);
    if (!received)
        return;
    const qint64 ahead = *sent - *received;
    if (ahead > 3600)
        tokens.add("check", "date-in-future");
    else if (ahead < -2 * 86400)
        tokens.add("check", "date-long-before-arrival");
}

void subjectChecks(const HeaderFacts &facts, TokenList &tokens)
{
    const QByteArrayView subject = facts.subject;
    int upper = 0, lower = 0, digits = 0, bangs = 0;
    for (const char c : subject) {
        upper += c >= 'A' && c <= 'Z';
        lower += c >= 'a' && c <= 'z';
        digits += c >= '0' && c <= '9';
        bangs += c == '!' || c == '$';
    }
    if (upper + lower >= 8 && upper * 2 > upper + lower)
        tokens.add("check", "subject-shouting");
    if (bangs > 0)
        tokens.add("check", bangs > 1 ? "subject-bangs" : "subject-bang");
    const QByteArrayView trimmed = subject.trimmed();
    if (trimmed.size() != subject.size() || subject.contains("   "))
        tokens.add("check", "subject-padded");
    qsizetype tail = trimmed.size();
    while (tail > 0 && ((trimmed[tail - 1] >= '0' && trimmed[tail - 1] <= '9') || trimmed[tail - 1] == '-'))
        --tail;
    if (trimmed.size() - tail >= 3 && tail > 0 && trimmed[tail - 1] == ' ')
        tokens.add("check", "subject-ends-in-number");
    const bool reply = subject.size() >= 3 && subject.first(3).compare("re:", Qt::CaseInsensitive) == 0;
    if (reply && !facts.hasReplyLink)
        tokens.add("check", "reply-without-reference");
    if (facts.hasReplyLink)
        tokens.add("check", "in-a-thread");
}

void shapeChecks(const HeaderFacts &facts, TokenList &tokens)
{
    tokens.add("fields", facts.fieldSet);
    tokens.add("hops", QByteArray::number(std::min(facts.receivedCount, 8)));
    if (facts.toValue.isEmpty())
        return;
    if (facts.toValue.contains("undisclosed") || facts.toValue.contains("Undisclosed"))
        tokens.add("check", "to-undisclosed");
    if (!facts.fromDomain.isEmpty() && TokenText::domainOf(facts.toValue) == facts.fromDomain)
        tokens.add("check", "to-own-domain");
    tokens.add("to.shape", TokenText::shape(facts.toValue, 24));
}

// A post to a discussion list: addressed to the list, and answered there.
// Spam names its victim in To, and wants its answers elsewhere.
void listChecks(const HeaderFacts &facts, TokenList &tokens)
{
    const QByteArray to = TokenText::mailboxOf(facts.toValue);
    if (!to.isEmpty() && TokenText::mailboxOf(facts.replyToValue) == to)
        tokens.add("check", "reply-to-is-to");
}

} // namespace

void HeaderChecks::add(const HeaderFacts &facts, TokenList &tokens)
{
    if (!facts.hasFrom)
        tokens.add("check", "no-from");
    if (!facts.hasTo)
        tokens.add("check", "no-to");
    if (!facts.hasSubject)
        tokens.add("check", "no-subject");
    if (!facts.hasMessageId)
        tokens.add("check", "no-message-id");
    if (facts.hasFrom && !facts.fromHasName)
        tokens.add("check", "from-without-name");
    if (!facts.fromNameDomain.isEmpty())
        tokens.add("check",
                   facts.fromNameDomain == facts.fromDomain ? "name-holds-own-address" : "name-holds-other-address");
    const QByteArrayView fromBase = TokenText::baseDomain(facts.fromDomain);
    if (!facts.messageIdDomain.isEmpty() && !fromBase.isEmpty())
        tokens.add("check",
                   TokenText::baseDomain(facts.messageIdDomain) == fromBase ? "message-id-from-sender"
                                                                            : "message-id-elsewhere");
    if (!facts.replyToDomain.isEmpty() && TokenText::baseDomain(facts.replyToDomain) != fromBase)
        tokens.add("check", "reply-to-elsewhere");
    if (!facts.returnPathDomain.isEmpty() && TokenText::baseDomain(facts.returnPathDomain) != fromBase)
        tokens.add("check", "return-path-elsewhere");
    if (isFreeMail(facts.fromDomain)) {
        // Lower-cased as the token is added.
        const QByteArrayView mailer = facts.mailer.isEmpty()
            ? QByteArrayView("none")
            : facts.mailer.first(std::min<qsizetype>(facts.mailer.size(), 16));
        tokens.add("check", "free-mail-with:" + mailer.toByteArray());
        if (facts.listMail)
            tokens.add("check", "free-mail-bulk");
    }
    for (const QByteArray &charset : facts.encodedCharsets) {
        if (std::find(kCommonCharsets.begin(), kCommonCharsets.end(), charset) == kCommonCharsets.end())
            tokens.add("check", "encoded-in-odd-charset");
    }
    if (!facts.signers.isEmpty() && !fromBase.isEmpty()) {
        const bool bySender = std::any_of(facts.signers.begin(), facts.signers.end(), [&](const QByteArray &signer) {
            return TokenText::baseDomain(signer) == fromBase;
        });
        tokens.add("check", bySender ? "signed-by-sender" : "signed-by-other");
    }
    if (facts.receivedCount <= 1)
        tokens.add("check", "few-hops");
    if (facts.recipients > 10)
        tokens.add("check", "many-recipients");
    dateChecks(facts, tokens);
    subjectChecks(facts, tokens);
    shapeChecks(facts, tokens);
    listChecks(facts, tokens);
}
