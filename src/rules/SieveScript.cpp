#include "SieveScript.h"

#include <QSet>
#include <QtConcurrent/QtConcurrentMap>
#include <openssl/evp.h>

namespace SieveScript {

namespace {

const QString kFirstLine = QStringLiteral("# Trelvik's rule lists as a Sieve script.");
const QString kDigestLine = QStringLiteral("# Digest: sha256:");

using SieveRuleMapping::Place;

const QString kListNames[2] = {QStringLiteral("exempted"), QStringLiteral("filter")};

// A rule as a comment line: nothing in it may end the comment early.
QString commentText(const QString &rule)
{
    QString out = rule;
    for (QChar &c : out) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = u'?';
    }
    return out;
}

// SHA-256 by the system's crypto library, which uses the processor's SHA
// instructions: the script of a large database is tens of megabytes, and
// Qt's portable SHA-256 would take longer than making it.
QString digestOf(const QString &body)
{
    const QByteArray bytes = body.toUtf8();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(bytes.constData(), size_t(bytes.size()), digest, &size, EVP_sha256(), nullptr) != 1)
        return {}; // no digest matches nothing: the script reads as changed
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), int(size)).toHex());
}

struct Entry {
    QString rule;
    QString test;
};

// The tests of one list, by where they stand.
struct ListTests {
    QList<Entry> sender;
    QList<Entry> anywhere;
};

void appendRules(QString *out, const QList<Entry> &entries, const QString &list, const QString &action)
{
    // Appended piece by piece: a hundred thousand rules make no temporaries.
    for (const Entry &e : entries) {
        out->append(QLatin1String("# ")).append(list).append(QLatin1String(": ")).append(commentText(e.rule));
        out->append(QLatin1String("\nif ")).append(e.test).append(QLatin1String(" { ")).append(action);
        out->append(QLatin1String(" }\n"));
    }
}

// "${sender}": the address of the first From line as the rule lists read
// it, or empty. A bare address, or one in angle brackets after a plain or
// quoted name, with more than one "@" is taken whole (mail is routed to the
// domain after the last one), which the server's address parser does not
// do: it stops at the second "@" (the line then holds what it gave followed
// by "@"), or gives a line it cannot read whole. Such readings, and
// anything but plain address characters, leave it empty.
const char *const kSenderPrelude = R"(# The sender: the address of the only From line, as Trelvik reads it.
set "sender" "";
if header :count "eq" :comparator "i;ascii-numeric" "from" "1" {
    if header :regex :comparator "i;octet" "from" "^([A-Za-z0-9!#$%&'*+/?^_`{|}~.-]+(@[A-Za-z0-9!#$%&'*+/?^_`{|}~.-]+){2,})$" {
        set "sender" "${1}";
    } elsif header :regex :comparator "i;octet" "from" "^(\"[^\"\\\\]*\"|[A-Za-z0-9!#$%&'*+/=?^_`{|}~. -]*)[ \t]*<([A-Za-z0-9!#$%&'*+/=?^_`{|}~.-]+(@[A-Za-z0-9!#$%&'*+/=?^_`{|}~.-]+){2,})>$" {
        set "sender" "${2}";
    } elsif address :all :matches "from" "*" {
        set "sender" "${0}";
        if anyof (header :contains "from" "${sender}@", string :matches "${sender}" ["*@*@*", "* *", "*	*", "*<*", "*>*", "*(*", "*)*", "*\"*", "*,*", "*;*", "*:*", "*[*", "*]*", "*\\\\*"]) {
            set "sender" "";
        }
    }
}
)";

// The rules of both lists, each once, each's tests worked out apart from
// the others on every core: for a large database they are most of the work.
void mapRules(const QStringList &filter, const QStringList &exempted, const SieveCapabilities &capabilities,
              Script *script, ListTests tests[2], QSet<QString> *needed)
{
    struct Item {
        int list;
        QString rule;
    };
    QList<Item> items;
    const QStringList *lists[2] = {&exempted, &filter};
    for (int l = 0; l < 2; ++l) {
        QSet<QString> seen;
        for (const QString &rule : *lists[l]) {
            if (!rule.isEmpty() && !seen.contains(rule)) {
                seen.insert(rule);
                items.append({l, rule});
            }
        }
    }
    const QList<SieveRuleMapping::Mapping> mapped =
        QtConcurrent::blockingMapped<QList<SieveRuleMapping::Mapping>>(items, [&capabilities](const Item &item) {
            return SieveRuleMapping::map(item.rule, capabilities);
        });
    for (qsizetype i = 0; i < items.size(); ++i) {
        const int l = items.at(i).list;
        const QString &rule = items.at(i).rule;
        const SieveRuleMapping::Mapping &m = mapped.at(i);
        if (!m.reason.isEmpty() || m.tests.isEmpty()) {
            script->leftOut.append({kListNames[l], rule, m.reason});
            continue;
        }
        ++script->exported;
        for (const QString &e : m.extensions)
            needed->insert(e);
        for (const SieveRuleMapping::Test &t : m.tests)
            (t.place == Place::Sender ? tests[l].sender : tests[l].anywhere).append({rule, t.text});
    }
}

// Everything below the header comment.
QString scriptBody(const ListTests tests[2], QSet<QString> needed, const QList<LeftOut> &leftOut,
                   const SieveCapabilities &capabilities, const QString &junkFolder, qsizetype rules)
{
    // An exempted match ends this script and no other: a user's own script
    // that includes it goes on filing the message ("stop" would end that
    // one too). Alone, "return" ends it as "stop" does, and the message is kept.
    const bool included = capabilities.has(u"include");
    const bool exempted = !tests[0].sender.isEmpty() || !tests[0].anywhere.isEmpty();
    if (included && exempted)
        needed.insert(QStringLiteral("include"));
    const bool sender = !tests[0].sender.isEmpty() || !tests[1].sender.isEmpty();
    if (sender) {
        for (const char *e : {"relational", "comparator-i;ascii-numeric", "regex", "variables"})
            needed.insert(QLatin1String(e));
    }
    QStringList require(needed.cbegin(), needed.cend());
    require.sort();

    QString body;
    body.reserve(256 * rules + 1024);
    body += QStringLiteral("\nrequire ") + SieveRuleMapping::quotedList(require) + QStringLiteral(";\n\n");
    if (sender)
        body += QLatin1String(kSenderPrelude) + u'\n';
    const QString junk = SieveRuleMapping::quoted(junkFolder);
    const QString actions[2] = {included ? QStringLiteral("return;") : QStringLiteral("keep; stop;"),
                                QStringLiteral("fileinto %1; stop;").arg(junk)};
    const QString headings[2] =
        {included ? QStringLiteral("# Exempted list: a match keeps the message from the filter list and ends this "
                                   "script; a script that includes it goes on.\n")
                  : QStringLiteral("# Exempted list: a match keeps the message and ends the script.\n"),
         QStringLiteral("\n# Filter list: a match files the message into %1 and ends the script.\n").arg(junk)};
    for (int l = 0; l < 2; ++l) {
        body += headings[l];
        appendRules(&body, tests[l].sender, kListNames[l], actions[l]);
        appendRules(&body, tests[l].anywhere, kListNames[l], actions[l]);
    }
    if (!leftOut.isEmpty()) {
        body += QStringLiteral("\n# Rules left out: the server's Sieve cannot find exactly what they find.\n");
        for (const LeftOut &l : leftOut)
            body += QStringLiteral("# %1: %2 -- %3\n").arg(l.list, commentText(l.rule), commentText(l.reason));
    }
    return body;
}

} // namespace

Script generate(const QStringList &filter, const QStringList &exempted, const Options &options)
{
    Script script;
    if (!options.capabilities.has(u"fileinto")) {
        script.error = QStringLiteral("The server's Sieve offers no \"fileinto\", so it cannot file spam into %1; "
                                      "no script was made.")
                           .arg(options.junkFolder);
        return script;
    }
    QSet<QString> needed{QStringLiteral("fileinto")};
    ListTests tests[2];
    mapRules(filter, exempted, options.capabilities, &script, tests, &needed);
    const QString body = scriptBody(tests, needed, script.leftOut, options.capabilities, options.junkFolder,
                                    filter.size() + exempted.size());

    const QDateTime made = options.made.isValid() ? options.made : QDateTime::currentDateTimeUtc();
    script.digest = digestOf(body);
    script.text = kFirstLine
        + QStringLiteral(" Made by Trelvik %1 (generator %2) at %3.\n")
              .arg(options.programVersion)
              .arg(kGeneratorVersion)
              .arg(made.toUTC().toString(Qt::ISODate))
        + QStringLiteral("# %1 of %2 rules; edit them in Trelvik: a script changed here is not replaced.\n")
              .arg(script.exported)
              .arg(script.exported + script.leftOut.size())
        + kDigestLine + script.digest + u'\n' + body;
    return script;
}

Stamp read(const QString &text)
{
    Stamp stamp;
    if (!text.startsWith(kFirstLine))
        return stamp;
    const qsizetype at = text.indexOf(u'\n' + kDigestLine);
    if (at < 0)
        return stamp;
    const qsizetype start = at + 1 + kDigestLine.size();
    const qsizetype end = text.indexOf(u'\n', start);
    if (end < 0)
        return stamp;
    stamp.ours = true;
    stamp.digest = text.mid(start, end - start);
    stamp.intact = !stamp.digest.isEmpty() && stamp.digest == digestOf(text.mid(end + 1));
    return stamp;
}

} // namespace SieveScript
