#include "RealMailbox.h"

#include "RuleDatabase.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace RealMailbox {
namespace {

// Sizes of the rule lists; spam cycles through the rules of each kind.
constexpr int kExactAddresses = 2000;
constexpr int kWholeFromValues = 600;
constexpr int kSpamDomains = 800;
constexpr int kMailerPatterns = 29;
constexpr int kExemptedFriends = 300;
constexpr int kExemptedColleagues = 60;
constexpr int kSpamKinds = 5;

constexpr qsizetype kMinHeader = 2048;
constexpr qsizetype kMaxHeader = 8192 - 100; // the last filler may overshoot a little

// splitmix64: small, fast and the same everywhere; one stream per message.
class Random {
public:
    explicit Random(quint64 seed)
        : m_state(seed)
    {
    }
    quint64 next()
    {
        quint64 z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int below(int n) { return int(next() % quint64(n)); }
    int between(int low, int high) { return low + below(high - low + 1); }
    double unit() { return double(next() >> 11) * 0x1.0p-53; }
    bool percent(int chance) { return below(100) < chance; }
    template <typename T, std::size_t N>
    const T &pick(const std::array<T, N> &items)
    {
        return items[std::size_t(below(int(N)))];
    }
    QByteArray base64(int bytes)
    {
        QByteArray raw(bytes, Qt::Uninitialized);
        for (char &c : raw)
            c = char(next() & 0xff);
        return raw.toBase64();
    }
    QByteArray alnum(int length)
    {
        static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        QByteArray out(length, Qt::Uninitialized);
        for (char &c : out)
            c = kChars[below(62)];
        return out;
    }

private:
    quint64 m_state;
};

using Names = std::array<const char *, 8>;
const Names kFirst = {"Anna", "Ben", "Clara", "David", "Emma", "Felix", "Greta", "Hugo"};
const Names kLast = {"Schmidt", "Meyer", "Brown", "Rossi", "Dubois", "Novak", "Jensen", "Silva"};
// Names that need more than ASCII: sent as encoded words or raw UTF-8.
const Names kWideNames = {"Jürgen Groß",    "Zoë Lefèvre", "Søren Kierkegård", "Ana María Núñez", "Łukasz Wąsowski",
                          "Ελένη Παπαδάκη", "李雷",        "Đặng Thu Thảo"};
const Names kBrands = {"Northwind Traders", "Contoso Travel", "Fabrikam News",  "Tailspin Toys",
                       "Litware Weekly",    "Adatum Bank",    "Proseware Club", "Wingtip Outdoor"};
const Names kWords = {"invoice", "update", "weekly", "meeting", "order", "report", "summer", "account"};
const Names kMailers = {"Microsoft Outlook 16.0",      "Apple Mail (2.3774)", "Mailchimp Mailer",
                        "Thunderbird 128.5",           "PHPMailer 6.9.1",     "Zendesk Mailer",
                        "Mozilla/5.0 Thunderbird/115", "sendgrid.com mailer"};
const Names kFillers = {"X-MS-Exchange-AntiSpam-MessageData-0",
                        "X-Microsoft-Antispam-Message-Info",
                        "X-Forefront-Antispam-Report",
                        "X-Google-Smtp-Source",
                        "X-Proofpoint-Spam-Details",
                        "X-MS-Exchange-CrossTenant-Network-Message-Id",
                        "X-Gm-Message-State",
                        "X-Received"};

QByteArray num(qint64 n)
{
    return QByteArray::number(n);
}

QByteArray rfcDate(qint64 secs)
{
    return QDateTime::fromSecsSinceEpoch(secs, Qt::UTC).toString(Qt::RFC2822Date).toLatin1();
}

// Base64 text folded into continuation lines, as signers write it.
QByteArray folded(const QByteArray &text, int width = 72)
{
    QByteArray out;
    for (qsizetype at = 0; at < text.size(); at += width)
        out += (at ? "\r\n\t " : "") + text.mid(at, width);
    return out;
}

QByteArray exactSpamAddress(int n)
{
    return "promo" + num(n) + "@deals-" + num(n % 300) + ".test";
}

QByteArray wholeFromValue(int n)
{
    return "Prize Desk " + num(n) + " <desk" + num(n) + "@offers-" + num(n % 97) + ".test>";
}

QByteArray friendAddress(int n)
{
    return "friend" + num(n) + "@newsletters-bulk.test";
}

// The header rules spam of the last kind trips, in turn.
const std::array<const char *, 3> kHeaderRules = {"Subject: *Lottery-Claim*", "X-Mailer: BulkBlaster*",
                                                  "List-Id: *promo-blast*"};

struct Sender {
    QByteArray from; // the whole From value
    QByteArray domain;
    bool newsletter = false;
    int headerRule = -1; // which of kHeaderRules the message trips
};

QByteArray displayed(Random &r, const QByteArray &name, const QByteArray &address)
{
    switch (r.below(6)) {
    case 0:
        return address;
    case 1:
        return '"' + name + "\" <" + address + '>';
    default:
        return name + " <" + address + '>';
    }
}

Sender ordinarySender(Random &r, int i)
{
    Sender s;
    s.newsletter = r.percent(70);
    if (s.newsletter) {
        const QByteArray brand = r.pick(kBrands);
        s.domain = "news" + num(r.below(400)) + "." + QByteArray(r.pick(kWords)) + ".example.com";
        s.from = displayed(r, brand, "newsletter@" + s.domain);
        return s;
    }
    s.domain = "mail" + num(r.below(60)) + ".example.org";
    const QByteArray local = QByteArray(r.pick(kFirst)).toLower() + "." + num(i % 9973);
    const int style = r.below(10);
    if (style < 2) // an encoded word, as most mail programs send a name beyond ASCII
        s.from = "=?UTF-8?B?" + QByteArray(r.pick(kWideNames)).toBase64() + "?= <" + local + "@" + s.domain + ">";
    else if (style < 4) // raw UTF-8, as some send it anyway
        s.from = QByteArray(r.pick(kWideNames)) + " <" + local + "@" + s.domain + ">";
    else
        s.from = displayed(r, QByteArray(r.pick(kFirst)) + " " + r.pick(kLast), local + "@" + s.domain);
    return s;
}

// Spam: each kind of filter rule catches its share, cycling through the list.
Sender spamSender(Random &r, int i)
{
    const int k = i / 10;
    const int n = k / kSpamKinds;
    Sender s;
    s.newsletter = true;
    switch (k % kSpamKinds) {
    case 0:
        s.from = "Daily Deals <" + exactSpamAddress(n % kExactAddresses) + ">";
        s.domain = "deals-" + num(n % kExactAddresses % 300) + ".test";
        break;
    case 1:
        s.from = wholeFromValue(n % kWholeFromValues);
        s.domain = "offers-" + num(n % kWholeFromValues % 97) + ".test";
        break;
    case 2:
        s.domain = "spam-" + num(n % kSpamDomains) + ".test";
        s.from = "Mega Sale <news" + num(i) + "@" + s.domain + ">";
        break;
    case 3:
        s.domain = (n % 2 ? "mx" + num(n % 50) + ".example-spam.test"
                          : "relay.mailer-" + num(n % kMailerPatterns) + ".test");
        s.from = "offers" + num(i) + "@" + s.domain;
        break;
    default:
        s = ordinarySender(r, i);
        s.newsletter = true; // List-Id is one of the fields the rules look at
        s.headerRule = n % int(kHeaderRules.size());
        break;
    }
    return s;
}

Sender senderOf(Random &r, int i)
{
    if (isSpam(i))
        return spamSender(r, i);
    if (i % 250 == 7) { // a filtered domain, an exempted address
        Sender s;
        s.domain = "newsletters-bulk.test";
        s.from = "Old Friend <" + friendAddress((i / 250) % kExemptedFriends) + ">";
        s.newsletter = true;
        return s;
    }
    return ordinarySender(r, i);
}

QByteArray ipFor(Random &r)
{
    if (r.percent(25))
        return "2001:db8:" + QByteArray::number(r.below(65536), 16) + "::" + QByteArray::number(r.below(4096), 16);
    return "198.51.100." + num(r.below(254) + 1);
}

QByteArray received(Random &r, const QByteArray &from, qint64 when)
{
    const QByteArray host = "mail-" + r.alnum(6).toLower() + "." + from;
    QByteArray f = "Received: from " + host + " (" + host + " [" + ipFor(r) + "])\r\n\tby mx" + num(r.below(40))
        + ".pop.example (Postfix) with ESMTPS id " + r.alnum(12) + "\r\n";
    if (r.percent(60))
        f += "\t(version=TLS1_3 cipher=TLS_AES_256_GCM_SHA384 bits=256/256)\r\n";
    return f + "\tfor <bench@pop.example>; " + rfcDate(when) + "\r\n";
}

// `first` is the field's first line: its name and the host that checked.
QByteArray authenticationResults(Random &r, const QByteArray &first, const QByteArray &domain)
{
    return first + "\r\n\tdkim=pass header.d=" + domain + " header.s=s" + num(r.below(4)) + " header.b=" + r.base64(6)
        + ";\r\n\tspf=pass (pop.example: domain of bounce@" + domain + " designates " + ipFor(r)
        + " as permitted sender) smtp.mailfrom=bounce@" + domain
        + ";\r\n\tdmarc=pass (p=REJECT sp=REJECT dis=NONE) header.from=" + domain + "\r\n";
}

QByteArray dkimSignature(Random &r, const QByteArray &domain, qint64 when)
{
    return "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=" + domain + "; s=s" + num(r.below(4))
        + ";\r\n\tt=" + num(when) + "; x=" + num(when + 604800)
        + ";\r\n\th=from:to:subject:date:message-id:list-unsubscribe:list-unsubscribe-post:\r\n"
          "\t mime-version:content-type:feedback-id;\r\n\tbh="
        + r.base64(32) + ";\r\n\tb=" + folded(r.base64(256)) + "\r\n";
}

QByteArray arcSet(Random &r, int instance, const QByteArray &domain, qint64 when)
{
    const QByteArray relay = "relay" + num(instance) + ".example.net";
    const QByteArray i = "i=" + num(instance) + "; ";
    return "ARC-Seal: " + i + "a=rsa-sha256; t=" + num(when) + "; cv=" + (instance == 1 ? "none" : "pass")
        + ";\r\n\td=" + relay + "; s=arc-20240605;\r\n\tb=" + folded(r.base64(256)) + "\r\nARC-Message-Signature: " + i
        + "a=rsa-sha256; c=relaxed/relaxed; d=" + relay + ";\r\n\ts=arc-20240605; t=" + num(when)
        + ";\r\n\th=to:subject:message-id:date:from:mime-version:dkim-signature;\r\n\tbh=" + r.base64(32)
        + ";\r\n\tb=" + folded(r.base64(256)) + "\r\n"
        + authenticationResults(r, "ARC-Authentication-Results: " + i + "mx." + relay + ";", domain);
}

QByteArray filler(Random &r, qsizetype room)
{
    const QByteArray name = r.pick(kFillers);
    // Name, ": ", "\r\n" and a fold ("\r\n\t ") every 72 characters.
    const qsizetype text = std::max<qsizetype>(8, (room - name.size() - 4) * 72 / 76);
    return name + ": " + folded(r.base64(int(text * 3 / 4))) + "\r\n";
}

QByteArray subjectOf(Random &r, int i, const Sender &s)
{
    QByteArray subject = "Your " + QByteArray(r.pick(kWords)) + " " + num(i) + ": " + r.pick(kWords) + " and "
        + r.pick(kWords);
    if (s.headerRule == 0)
        subject = "Lottery-Claim " + num(i) + ": act now";
    else if (r.percent(15))
        return "=?UTF-8?B?" + ("Grüße – " + subject).toBase64() + "?=";
    if (r.percent(20)) // long, so folded
        subject += " — everything you wanted to know about the\r\n " + QByteArray(r.pick(kWords)) + " this week";
    return subject;
}

// The fields only newsletters carry.
QByteArray listFields(Random &r, const Sender &s)
{
    if (!s.newsletter)
        return {};
    const QByteArray list = s.headerRule == 2 ? QByteArray("weekly.promo-blast.test") : "news." + s.domain;
    const QByteArray token = r.alnum(40);
    return "List-Id: <" + list + ">\r\nList-Unsubscribe: <https://" + s.domain + "/unsubscribe?t=" + token
        + ">,\r\n <mailto:unsubscribe-" + token.left(16) + "@" + s.domain
        + ">\r\nList-Unsubscribe-Post: List-Unsubscribe=One-Click\r\nFeedback-ID: " + num(r.below(90000))
        + ":campaign:" + r.alnum(8) + ":" + s.domain + "\r\n";
}

// The fields every message has, after the relay and signature fields.
QByteArray ownFields(Random &r, int i, const Sender &s, qint64 when, const QByteArray &boundary)
{
    QByteArray f = listFields(r, s);
    if (s.headerRule == 1)
        f += "X-Mailer: BulkBlaster 3.1\r\n";
    else if (r.percent(50))
        f += QByteArray(r.percent(50) ? "X-Mailer: " : "User-Agent: ") + r.pick(kMailers) + "\r\n";
    if (r.percent(15))
        f += "X-Priority: " + num(r.between(1, 5)) + "\r\n";
    f += "MIME-Version: 1.0\r\nContent-Type: multipart/alternative;\r\n\tboundary=\"" + boundary + "\"\r\nMessage-ID: <"
        + num(i) + "." + r.alnum(16) + "@" + s.domain + ">\r\nFrom: " + s.from
        + "\r\nTo: " + (r.percent(50) ? "Bench User <bench@pop.example>" : "bench@pop.example") + "\r\n";
    if (r.percent(20))
        f += "Cc: " + QByteArray(r.pick(kFirst)) + " <" + QByteArray(r.pick(kFirst)).toLower()
            + "@mail3.example.org>,\r\n\t" + r.pick(kLast) + " <team@mail4.example.org>\r\n";
    return f + "Subject: " + subjectOf(r, i, s) + "\r\nDate: " + rfcDate(when) + "\r\n";
}

// The size the header aims at: 2 to 8 KB, most near the middle, the mean
// about 5.35 KB.
qsizetype targetSize(Random &r)
{
    const double bell = (r.unit() + r.unit() + r.unit()) / 3;
    return kMinHeader + qsizetype(double(kMaxHeader - kMinHeader) * std::pow(bell, 0.78));
}

} // namespace

bool isSpam(int i)
{
    return i % 10 == 0;
}

int spamCount(int count)
{
    return count / 10;
}

QString fileName(int i)
{
    // An id as long as servers commonly give, unique by its number.
    return QStringLiteral("%1-%2.eml")
        .arg(i, 8, 10, QLatin1Char('0'))
        .arg(quint64(i) * 2654435761ULL, 16, 16, QLatin1Char('0'));
}

QByteArray message(int i)
{
    Random r(0x7265616c6d61696cULL ^ (quint64(i) * 0x9E3779B97F4A7C15ULL));
    const Sender s = senderOf(r, i);
    const qsizetype target = targetSize(r);
    const qint64 when = 1796000000 + qint64(i) * 37; // late 2026, a message every 37 s
    const QByteArray boundary = "b1_" + r.alnum(28);

    const QByteArray head = "Return-Path: <bounce-" + num(i) + "@" + s.domain
        + ">\r\nDelivered-To: bench@pop.example\r\n";
    QList<QByteArray> relays;
    for (int hop = 0; hop < 3; ++hop)
        relays << received(r, hop ? "relay" + num(hop) + ".example.net" : s.domain, when - hop);
    const QByteArray results = authenticationResults(r, "Authentication-Results: mx.pop.example;", s.domain);
    QList<QByteArray> dkim{dkimSignature(r, s.domain, when)};
    QList<QByteArray> arc;
    const QByteArray own = ownFields(r, i, s, when, boundary);

    auto size = [&] {
        qsizetype n = head.size() + results.size() + own.size() + 2;
        for (const QList<QByteArray> *list : {&relays, &dkim, &arc})
            for (const QByteArray &f : *list)
                n += f.size();
        return n;
    };
    // More hops, ARC sets and a second signature, in a random order, while
    // they fit the size aimed at.
    std::array<char, 13> extras = {'R', 'R', 'R', 'R', 'R', 'R', 'R', 'R', 'R', 'A', 'A', 'A', 'D'};
    for (std::size_t k = extras.size() - 1; k > 0; --k)
        std::swap(extras[k], extras[std::size_t(r.below(int(k) + 1))]);
    for (const char extra : extras) {
        const QByteArray field = extra == 'R' ? received(r, "relay" + num(relays.size()) + ".example.net", when)
            : extra == 'A'                    ? arcSet(r, int(arc.size()) + 1, s.domain, when)
                                              : dkimSignature(r, "esp.example.net", when);
        if (size() + field.size() > target)
            continue;
        (extra == 'R' ? relays : extra == 'A' ? arc : dkim) << field;
    }
    QByteArray fillers;
    while (target - size() - fillers.size() > 160)
        fillers += filler(r, std::min<qsizetype>(target - size() - fillers.size(), r.between(300, 1400)));

    QByteArray m = head;
    m.reserve(target + 512);
    m += relays.first();
    for (auto it = arc.crbegin(); it != arc.crend(); ++it) // the newest set first
        m += *it;
    for (qsizetype k = 1; k < relays.size(); ++k)
        m += relays.at(k);
    m += results + fillers;
    for (const QByteArray &f : dkim)
        m += f;
    return m + own + "\r\n--" + boundary + "\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nHello,\r\n"
        + "here is your " + r.pick(kWords) + " for this week.\r\n\r\n--" + boundary + "--\r\n";
}

void HeaderSizes::add(qsizetype bytes)
{
    min = count ? std::min<qint64>(min, bytes) : bytes;
    max = count ? std::max<qint64>(max, bytes) : bytes;
    total += bytes;
    ++count;
}

void HeaderSizes::print(const char *what) const
{
    std::printf("# %s: %d messages, headers mean %.2f KB (%.0f bytes), min %.2f KB, max %.2f KB\n", what, count,
                mean() / 1024, mean(), double(min) / 1024, double(max) / 1024);
    std::fflush(stdout);
}

bool writeFolder(const QString &folder, int count, HeaderSizes *sizes)
{
    if (!QDir().mkpath(folder))
        return false;
    for (int i = 1; i <= count; ++i) {
        const QByteArray m = message(i);
        QFile file(folder + QLatin1Char('/') + fileName(i));
        if (!file.open(QIODevice::WriteOnly) || file.write(m) != m.size())
            return false;
        if (sizes)
            sizes->add(m.indexOf("\r\n\r\n") + 4);
    }
    return true;
}

QStringList filterRules()
{
    QStringList rules;
    for (int n = 0; n < kExactAddresses; ++n)
        rules << QString::fromLatin1(exactSpamAddress(n));
    for (int n = 0; n < kWholeFromValues; ++n)
        rules << QString::fromLatin1(wholeFromValue(n));
    for (int n = 0; n < kSpamDomains; ++n)
        rules << QStringLiteral("*@spam-%1.test").arg(n);
    rules << QStringLiteral("*@newsletters-bulk.test") << QStringLiteral("*@*.example-spam.test");
    for (int n = 0; n < kMailerPatterns; ++n)
        rules << QStringLiteral("*@*.mailer-%1.test").arg(n);
    for (const char *rule : kHeaderRules)
        rules << QString::fromLatin1(rule);
    // Rules of the same kinds that this mail never trips.
    rules << QStringLiteral("Subject: *casino bonus*") << QStringLiteral("X-Spam-Flag: YES")
          << QStringLiteral("Reply-To: *@collect.test*") << QStringLiteral("Size: > 10 MB");
    return rules;
}

QStringList exemptedRules()
{
    QStringList rules;
    for (int n = 0; n < kExemptedFriends; ++n)
        rules << QString::fromLatin1(friendAddress(n));
    for (int n = 0; n < kExemptedColleagues; ++n)
        rules << QStringLiteral("colleague%1@work.example").arg(n);
    return rules;
}

bool writeRules(RuleDatabase &rules, QString *error)
{
    if (rules.InsertRules(QStringLiteral("tbfilter"), filterRules())
        && rules.InsertRules(QStringLiteral("tbexempted"), exemptedRules()))
        return true;
    if (error)
        *error = rules.lastError();
    return false;
}

} // namespace RealMailbox
