// Sorting a message by both rule lists: the From forms real mail carries
// against address, domain, pattern and header rules, how a stored value is
// read, and a database of earlier versions sorting as it did.
#include "RuleClassifier.h"
#include "RuleDatabase.h"
#include "RuleFile.h"
#include "RuleSyntax.h"
#include "StringHelpers.h"
#include "TestSupport.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <algorithm>
#include <optional>

using namespace Qt::StringLiterals;
using RuleKind = RuleSyntax::Kind;

Q_DECLARE_METATYPE(RuleSyntax::Kind)

namespace {

// The text of an HTML snippet: the entities the help page uses.
QString htmlText(QString html)
{
    static const QRegularExpression number(u"&#(\\d+);"_s);
    QRegularExpressionMatch m;
    while ((m = number.match(html)).hasMatch())
        html.replace(m.capturedStart(), m.capturedLength(), QChar(m.captured(1).toInt()));
    return html.replace(u"&lt;"_s, u"<"_s)
        .replace(u"&gt;"_s, u">"_s)
        .replace(u"&quot;"_s, u"\""_s)
        .replace(u"&amp;"_s, u"&"_s);
}

QString helpPage()
{
    QFile file(QFINDTESTDATA("../../src/app/resources/help/rules.html"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

struct HelpExample {
    const char *name;
    QString rule;
    QString catchFrom, catchFields;
    qint64 catchSize;
    QString missFrom, missFields;
    qint64 missSize;
};

QList<HelpExample> helpExampleRows()
{
    QList<HelpExample> rows;
    const auto from = [&](const char *name, const QString &rule, const QString &catchFrom, const QString &missFrom) {
        rows.append({name, rule, catchFrom, {}, -1, missFrom, {}, -1});
    };
    const auto field = [&](const char *name, const QString &rule, const QString &catchField, const QString &missField) {
        rows.append(
            {name, rule, u"a@b.example"_s, catchField + u"\r\n"_s, -1, u"a@b.example"_s, missField + u"\r\n"_s, -1});
    };
    const auto size = [&](const char *name, const QString &rule, qint64 catchSize, qint64 missSize) {
        rows.append({name, rule, u"a@b.example"_s, {}, catchSize, u"a@b.example"_s, {}, missSize});
    };
    from("address", u"news@example.com"_s, u"Example News <NEWS@example.com>"_s, u"news@example.org"_s);
    from("domain", u"*@example.com"_s, u"x@Example.COM"_s, u"x@mail.example.com"_s);
    from("IDN domain, Unicode", u"*@bücher.example"_s, u"Info <info@xn--bcher-kva.example>"_s,
         u"info@bucher.example"_s);
    from("IDN domain, ASCII", u"*@xn--bcher-kva.example"_s, u"info@BÜCHER.example"_s, u"info@bucher.example"_s);
    from("subdomains", u"*@*.spam.example"_s, u"x@k3j.spam.example"_s, u"x@spam.example"_s);
    from("local part pattern", u"newsletter-*@shop.example"_s, u"newsletter-may@shop.example"_s,
         u"news@shop.example"_s);
    from("country", u"*@*.ru"_s, u"a@mail.ru"_s, u"a@mail.rus.example"_s);
    from("exact From value with ?", u"\"Win?? Now\" <a@b.example>"_s, u"\"Win?? Now\" <a@b.example>"_s,
         u"\"Winxx Now\" <a@b.example>"_s);
    from("From pattern with angle brackets", u"From: *<win@spam.example>*"_s, u"\"Your Bank\" <win@spam.example>"_s,
         u"win@spam.example"_s);
    from("exempted domain", u"*@work.example"_s, u"boss@work.example"_s, u"boss@work.example.org"_s);
    from("exempted address", u"boss@work.example"_s, u"Boss <boss@work.example>"_s, u"boss@home.example"_s);
    field("subject", u"Subject: *free money*"_s, u"Subject: Free Money now"_s, u"Subject: money free"_s);
    field("To", u"To: *undisclosed*"_s, u"To: undisclosed-recipients:;"_s, u"To: a@b.example"_s);
    field("List-Id", u"List-Id: *my-project*"_s, u"List-Id: My Project <my-project.lists.example>"_s,
          u"List-Id: <other.lists.example>"_s);
    field("X-Mailer", u"X-Mailer: *bulk*"_s, u"X-Mailer: BulkMailer 3"_s, u"X-Mailer: Thunderbird"_s);
    field("spam flag", u"X-Spam-Flag: YES"_s, u"X-Spam-Flag: YES"_s, u"X-Spam-Flag: NO"_s);
    field("spam status", u"X-Spam-Status: Yes*"_s, u"X-Spam-Status: Yes, score=7.1"_s,
          u"X-Spam-Status: No, score=0.1"_s);
    field("spam", u"X-Spam: Yes*"_s, u"X-Spam: Yes"_s, u"X-Spam: No"_s);
    size("over 10 MB", u"Size: > 10 MB"_s, 11 * 1024 * 1024, 10 * 1024 * 1024);
    size("under 2 KB", u"Size: < 2 KB"_s, 100, 4096);
    return rows;
}

// A TOP reply's bytes. Rows give raw bytes one character a byte, as the
// session's bytes read; a text beyond Latin-1 goes as UTF-8.
QByteArray header(const QString &from, const QString &more)
{
    QString text = u"+OK 812 octets\r\nReceived: by mx.example; Tue, 1 Dec 2026 08:07:13 +0100\r\n"_s;
    if (!from.isNull())
        text += u"From: "_s + from + u"\r\n"_s;
    text += more + u"\r\n.\r\n"_s;
    const bool latin1 = std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() <= 0xFF; });
    return latin1 ? text.toLatin1() : text.toUtf8();
}

} // namespace

class TestRuleClassifier : public QObject {
    Q_OBJECT
    struct Fixture {
        testsupport::TempHome home;
        RuleDatabase db;
    };
    std::optional<Fixture> m_f;

    bool store(const QStringList &filter, const QStringList &exempted)
    {
        return m_f->db.OpenRuleDatabase() && m_f->db.InsertRuleSets(filter, exempted);
    }

private Q_SLOTS:
    void init() { m_f.emplace(); }
    void cleanup() { m_f.reset(); }

    void classify_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("fields"); // more header lines
        QTest::addColumn<QStringList>("filter");
        QTest::addColumn<QStringList>("exempted");
        QTest::addColumn<QString>("reason");

        const QString fake = u"\"support@bank.example\" <win@spam.example>"_s;
        QTest::newRow("fake address in the name: the real domain")
            << fake << u""_s << QStringList{u"*@bank.example"_s, u"*@spam.example"_s} << QStringList{}
            << u"*@spam.example (Filter List)"_s;
        QTest::newRow("fake address in the name: its domain is no match")
            << fake << u""_s << QStringList{u"*@bank.example"_s} << QStringList{} << u"No rule matched"_s;
        QTest::newRow("address rule: any display name, any case")
            << u"Brand New Name <Win@SPAM.example>"_s << u""_s << QStringList{u"win@spam.example"_s} << QStringList{}
            << u"win@spam.example (Filter List)"_s;
        QTest::newRow("address rule: comment is no part of the address")
            << u"win@spam.example (Prize Dept.)"_s << u""_s << QStringList{u"win@spam.example"_s} << QStringList{}
            << u"win@spam.example (Filter List)"_s;
        QTest::newRow("address rule: encoded display name")
            << u"=?UTF-8?B?UHLDpG1pZQ==?= <win@spam.example>"_s << u""_s << QStringList{u"win@spam.example"_s}
            << QStringList{} << u"win@spam.example (Filter List)"_s;
        QTest::newRow("stored whole From value: still exact, and exempted wins")
            << u"Tech Digest <digest@tech.example>"_s << u""_s << QStringList{u"*@tech.example"_s}
            << QStringList{u"TECH DIGEST <digest@tech.example>"_s}
            << u"TECH DIGEST <digest@tech.example> (Exempted List)"_s;
        QTest::newRow("stored whole From value: another name is no match")
            << u"Tech News <digest@tech.example>"_s << u""_s << QStringList{u"*@tech.example"_s}
            << QStringList{u"Tech Digest <digest@tech.example>"_s} << u"*@tech.example (Filter List)"_s;
        QTest::newRow("exempted domain beats a filtered address")
            << u"Boss <boss@work.example>"_s << u""_s << QStringList{u"boss@work.example"_s}
            << QStringList{u"*@work.example"_s} << u"*@work.example (Exempted List)"_s;
        QTest::newRow("display name with wildcards stays an exact rule")
            << u"\"Win?? Now\" <a@b.example>"_s << u""_s << QStringList{u"\"Win?? Now\" <a@b.example>"_s}
            << QStringList{} << u"\"Win?? Now\" <a@b.example> (Filter List)"_s;
        QTest::newRow("exact rule with wildcards catches no other name")
            << u"\"Win Now\" <a@b.example>"_s << u""_s << QStringList{u"\"Win?? Now\" <a@b.example>"_s} << QStringList{}
            << u"No rule matched"_s;
        QTest::newRow("pattern: random subdomain")
            << u"Promo <x@k3j9q.spam.example>"_s << u""_s << QStringList{u"*@*.spam.example"_s} << QStringList{}
            << u"*@*.spam.example (Filter List)"_s;
        QTest::newRow("pattern: the bare domain is no subdomain")
            << u"x@spam.example"_s << u""_s << QStringList{u"*@*.spam.example"_s} << QStringList{}
            << u"No rule matched"_s;
        QTest::newRow("domain rule: exactly that domain")
            << u"x@mail.example.com"_s << u""_s << QStringList{u"*@example.com"_s} << QStringList{}
            << u"No rule matched"_s;
        QTest::newRow("pattern: ? is one character, beyond 16 bits too")
            << u"news-\U0001F600@shop.example"_s << u""_s
            << QStringList{u"news-??@shop.example"_s, u"NEWS-?@SHOP.example"_s} << QStringList{}
            << u"NEWS-?@SHOP.example (Filter List)"_s;
        QTest::newRow("exempted pattern beats a header rule")
            << u"ann@lists.example"_s << u"Subject: free money\r\n"_s << QStringList{u"Subject: *money*"_s}
            << QStringList{u"*@*lists.example"_s} << u"*@*lists.example (Exempted List)"_s;
        QTest::newRow("header rule: encoded and folded subject, decoded")
            << u"a@b.example"_s << u"Subject: =?UTF-8?Q?Gro=C3=9Fes?=\r\n =?UTF-8?Q?_Geld_jetzt?=\r\n"_s
            << QStringList{u"Subject: *großes geld*"_s} << QStringList{} << u"Subject: *großes geld* (Filter List)"_s;
        QTest::newRow("header rule: List-Id keeps a mailing list")
            << u"bot@lists.example"_s << u"List-Id: My Project <my-project.lists.example>\r\n"_s
            << QStringList{u"*@lists.example"_s} << QStringList{u"List-Id: *my-project*"_s}
            << u"List-Id: *my-project* (Exempted List)"_s;
        QTest::newRow("header rule: server's verdict, field name in any case")
            << u"a@b.example"_s << u"x-spam-status: Yes, score=7.3 required=5.0\r\n"_s
            << QStringList{u"X-Spam-Status: Yes*"_s} << QStringList{} << u"X-Spam-Status: Yes* (Filter List)"_s;
        QTest::newRow("header rule: a 'No' verdict is no match")
            << u"a@b.example"_s << u"X-Spam-Status: No, score=0.1\r\nX-Spam-Flag: NO\r\n"_s
            << QStringList{u"X-Spam-Status: Yes*"_s, u"X-Spam-Flag: YES"_s} << QStringList{} << u"No rule matched"_s;
        // Two fields' rules both match: the earlier rule is named, every time.
        const QString bothMarks = u"X-Spam-Flag: YES\r\nX-Spam-Status: Yes, score=9.0\r\n"_s;
        QTest::newRow("two header rules match: the first stored is named")
            << u"a@b.example"_s << bothMarks << QStringList{u"X-Spam-Status: Yes*"_s, u"X-Spam-Flag: YES"_s}
            << QStringList{} << u"X-Spam-Status: Yes* (Filter List)"_s;
        QTest::newRow("two header rules match: in the other order")
            << u"a@b.example"_s << bothMarks << QStringList{u"X-Spam-Flag: YES"_s, u"X-Spam-Status: Yes*"_s}
            << QStringList{} << u"X-Spam-Flag: YES (Filter List)"_s;
        QTest::newRow("header rule: any of several fields of the name")
            << u"a@b.example"_s << u"Received: from bulk7.mailer.example\r\n"_s
            << QStringList{u"Received: *bulk?.mailer*"_s} << QStringList{}
            << u"Received: *bulk?.mailer* (Filter List)"_s;
        QTest::newRow("header rule: the body is not read")
            << u"a@b.example"_s << u"\r\nX-Spam-Flag: YES"_s << QStringList{u"X-Spam-Flag: YES"_s} << QStringList{}
            << u"No rule matched"_s;
        QTest::newRow("no From at all: the domain rule *@ as before")
            << QString() << u"Subject: hi\r\n"_s << QStringList{u"*@"_s} << QStringList{} << u"*@ (Filter List)"_s;
        // Raw UTF-8 comes one character a byte, as the session reads it.
        QTest::newRow("raw UTF-8 subject read as UTF-8")
            << u"a@b.example"_s << QString::fromLatin1("Subject: Vous avez gagn\xc3\xa9\r\n")
            << QStringList{u"Subject: *GAGNÉ"_s} << QStringList{} << u"Subject: *GAGNÉ (Filter List)"_s;
        QTest::newRow("Latin-1 subject read as Latin-1")
            << u"a@b.example"_s << QString::fromLatin1("Subject: Vous avez gagn\xe9\r\n")
            << QStringList{u"Subject: *GAGNÉ"_s} << QStringList{} << u"Subject: *GAGNÉ (Filter List)"_s;
        QTest::newRow("raw UTF-8 From field for a header rule")
            << u"m\u00fcller@umlaut.test"_s << QString::fromLatin1("X-Sender: m\xc3\xbcller@umlaut.test\r\n")
            << QStringList{u"X-Sender: müller@*"_s} << QStringList{} << u"X-Sender: müller@* (Filter List)"_s;
        QTest::newRow("full case folding: STRASSE is Straße")
            << u"a@b.example"_s << u"Subject: Hauptstraße 5\r\n"_s << QStringList{u"Subject: *STRASSE*"_s}
            << QStringList{} << u"Subject: *STRASSE* (Filter List)"_s;
        QTest::newRow("full case folding: exact address")
            << u"STRASSE@b.example"_s << u""_s << QStringList{u"straße@b.example"_s} << QStringList{}
            << u"straße@b.example (Filter List)"_s;
        // "@@": mail goes to the domain after the last "@".
        const QStringList bankExempted{u"*@bank.example"_s, u"a@bank.example"_s, u"*@*.bank.example"_s};
        for (const QString &from : {u"a@bank.example@spam.example"_s, u"Bank <a@bank.example@spam.example>"_s}) {
            QTest::addRow("@@ with exempted bank: %s", qPrintable(from))
                << from << u""_s << QStringList{u"*@spam.example"_s} << bankExempted
                << u"*@spam.example (Filter List)"_s;
        }
        QTest::newRow("X-From above From with exempted domain")
            << u"win@spam.example"_s << u"X-From: boss@work.example\r\n"_s << QStringList{u"*@spam.example"_s}
            << QStringList{u"*@work.example"_s, u"From: *work.example*"_s} << u"*@spam.example (Filter List)"_s;
        QTest::newRow("Subject with a blank before the colon")
            << u"a@b.example"_s << u"Subject : free money\r\n"_s << QStringList{u"Subject: *money*"_s} << QStringList{}
            << u"Subject: *money* (Filter List)"_s;
        QTest::newRow("From header rule with angle brackets and a star")
            << u"\"Your Bank\" <win@spam.example>"_s << u""_s << QStringList{u"From: *<win@spam.example>*"_s}
            << QStringList{} << u"From: *<win@spam.example>* (Filter List)"_s;
        // Every spelling of an internationalised domain against both
        // spellings of each kind of rule.
        const QStringList spellings{u"info@xn--bcher-kva.example"_s, u"Info <info@xn--bcher-kva.example>"_s,
                                    u"Info <info@XN--BCHER-KVA.example>"_s, u"info@bücher.example"_s,
                                    u"Info <INFO@BÜCHER.EXAMPLE>"_s};
        const QStringList idnRules{u"*@bücher.example"_s,           u"*@XN--bcher-kva.example"_s,
                                   u"info@xn--bcher-kva.example"_s, u"info@bücher.example"_s,
                                   u"i*@*cher.example"_s,           u"inf?@xn--bcher-kva.*"_s};
        for (const QString &from : spellings) {
            for (const QString &rule : idnRules) {
                QTest::addRow("IDN %s by %s", qPrintable(from), qPrintable(rule))
                    << from << u""_s << QStringList{rule} << QStringList{} << rule + u" (Filter List)"_s;
            }
        }
        QTest::newRow("IDN exempted beats filter in the other spelling")
            << u"Info <info@xn--bcher-kva.example>"_s << u""_s << QStringList{u"*@xn--bcher-kva.example"_s}
            << QStringList{u"*@bücher.example"_s} << u"*@bücher.example (Exempted List)"_s;
        // A rule's domain in mixed spelling is read in one form, as a
        // message's is.
        const QStringList mixedSpellings{u"info@bücher.café.example"_s,
                                         u"Info <info@xn--bcher-kva.xn--caf-dma.example>"_s,
                                         u"info@XN--BCHER-KVA.CAFÉ.example"_s};
        const QStringList mixedRules{u"*@xn--bcher-kva.café.example"_s, u"info@bücher.xn--caf-dma.example"_s,
                                     u"*@*.xn--caf-dma.example"_s};
        for (const QString &from : mixedSpellings) {
            for (const QString &rule : mixedRules) {
                QTest::addRow("mixed IDN %s by %s", qPrintable(from), qPrintable(rule))
                    << from << u""_s << QStringList{rule} << QStringList{} << rule + u" (Filter List)"_s;
            }
        }
        QTest::newRow("mixed IDN rule exempts")
            << u"info@bücher.café.example"_s << u""_s << QStringList{u"*@bücher.café.example"_s}
            << QStringList{u"*@xn--bcher-kva.café.example"_s} << u"*@xn--bcher-kva.café.example (Exempted List)"_s;
        // A NUL in From hides nothing behind it from the exempted list.
        const QChar nul(u'\0');
        QTest::newRow("NUL after an exempted address")
            << u"boss@work.example"_s + nul + u" <win@spam.example>"_s << u""_s << QStringList{u"*@spam.example"_s}
            << QStringList{u"*@work.example"_s} << u"*@spam.example (Filter List)"_s;
        QTest::newRow("NUL inside the brackets")
            << u"Friend <boss@work.example"_s + nul + u"@spam.example>"_s << u""_s << QStringList{u"*@spam.example"_s}
            << QStringList{u"*@work.example"_s, u"boss@work.example"_s} << u"*@spam.example (Filter List)"_s;
        QTest::newRow("IDN: another domain is no match")
            << u"info@xn--bcher-kva.example"_s << u""_s << QStringList{u"*@bucher.example"_s} << QStringList{}
            << u"No rule matched"_s;
        QTest::newRow("name only: neither address nor pattern rules")
            << u"Ines Duarte (Legal)"_s << u""_s << QStringList{u"*@*"_s, u"ines duarte (legal)"_s} << QStringList{}
            << u"ines duarte (legal) (Filter List)"_s;
    }
    void classify()
    {
        QFETCH(QString, from);
        QFETCH(QString, fields);
        QFETCH(QStringList, filter);
        QFETCH(QStringList, exempted);
        QVERIFY(store(filter, exempted));
        const QByteArray text = header(from, fields);
        // The database's index and the in-memory lists agree.
        QTEST(RuleClassifier::fromDatabase(m_f->db).classify(from, text).text(), "reason");
        QTEST(RuleClassifier::fromLists(filter, exempted).classify(from, text).text(), "reason");
    }

    // Every rule the help page gives as an example, with a message it
    // catches and one it does not.
    void helpExamples_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QString>("catchFrom");
        QTest::addColumn<QString>("catchFields");
        QTest::addColumn<qint64>("catchSize");
        QTest::addColumn<QString>("missFrom");
        QTest::addColumn<QString>("missFields");
        QTest::addColumn<qint64>("missSize");
        for (const HelpExample &e : helpExampleRows()) {
            QTest::newRow(e.name) << e.rule << e.catchFrom << e.catchFields << e.catchSize << e.missFrom << e.missFields
                                  << e.missSize;
        }
    }
    void helpExamples()
    {
        QFETCH(QString, rule);
        QFETCH(QString, catchFrom);
        QFETCH(QString, catchFields);
        QFETCH(qint64, catchSize);
        QFETCH(QString, missFrom);
        QFETCH(QString, missFields);
        QFETCH(qint64, missSize);
        const RuleClassifier classifier = RuleClassifier::fromLists({rule}, {});
        QCOMPARE(classifier.classify(catchFrom, header(catchFrom, catchFields), catchSize).text(),
                 rule + u" (Filter List)"_s);
        QCOMPARE(classifier.classify(missFrom, header(missFrom, missFields), missSize).kind, SortReason::Kind::NoRule);
    }

    // The examples above are the page's, no more and no fewer; the lines of
    // its sample rule file import without a refusal or a warning.
    void helpExamplesAreThePagesExamples()
    {
        const QString page = helpPage();
        QVERIFY(!page.isEmpty());
        QSet<QString> onPage;
        static const QRegularExpression example(u"<tt class=\"rule\">(.*?)</tt>"_s,
                                                QRegularExpression::DotMatchesEverythingOption);
        for (const QRegularExpressionMatch &m : example.globalMatch(page))
            onPage.insert(htmlText(m.captured(1)).simplified());
        const qsizetype pre = page.indexOf(u"<pre>"_s);
        QVERIFY(pre >= 0);
        const QString fileLines = htmlText(page.mid(pre + 5, page.indexOf(u"</pre>"_s, pre) - pre - 5));
        for (const QString &line : fileLines.split(u'\n')) {
            if (line.startsWith(u"filter "_s) || line.startsWith(u"exempt "_s))
                onPage.insert(line.mid(7));
        }
        QSet<QString> tested;
        for (const HelpExample &e : helpExampleRows())
            tested.insert(e.rule);
        QCOMPARE(onPage, tested);

        const QString path = m_f->home.path() + u"/help-rules.txt"_s;
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(fileLines.toUtf8()) > 0);
        file.close();
        QVERIFY(m_f->db.OpenRuleDatabase());
        QString error;
        const auto report = RuleFile::importRules(m_f->db, path, &error);
        QVERIFY2(report, qPrintable(error));
        QCOMPARE(report->refused, 0);
        QCOMPARE(report->warnings.size(), 0);
        QVERIFY(report->added >= 5);
    }

    void reading_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<RuleKind>("kind");
        QTest::newRow("header rule") << u"Subject: *free money*"_s << RuleKind::Header;
        QTest::newRow("header rule without wildcards") << u"X-Spam-Flag: YES"_s << RuleKind::Header;
        QTest::newRow("header rule on From") << u"From: *paypal*"_s << RuleKind::Header;
        QTest::newRow("name with a colon and an address") << u"Re: Your order <o@shop.example>"_s << RuleKind::Exact;
        QTest::newRow("address after a colon, comment after it")
            << u"Attn: Billing <b@x.example> (office)"_s << RuleKind::Exact;
        QTest::newRow("empty group") << u"undisclosed-recipients:;"_s << RuleKind::Exact;
        QTest::newRow("group with members") << u"Team: a@b.example, c@d.example;"_s << RuleKind::Exact;
        QTest::newRow("no space after the colon") << u"Subject:*x*"_s << RuleKind::Exact;
        QTest::newRow("nothing after the colon") << u"Subject:   "_s << RuleKind::Exact;
        QTest::newRow("name starting with a digit") << u"1st: *x*"_s << RuleKind::Exact;
        QTest::newRow("name not ASCII") << u"Betreff: *x*"_s << RuleKind::Header;
        QTest::newRow("name with a non-ASCII letter") << u"Prüfung: *x*"_s << RuleKind::Exact;
        QTest::newRow("quoted name with wildcards") << u"\"Win?? Now\" <a@b.example>"_s << RuleKind::Exact;
        QTest::newRow("bare name with wildcards") << u"*** SALE *** <d@x.example>"_s << RuleKind::Exact;
        QTest::newRow("address with a comment and a ?") << u"a@b.example (Who?)"_s << RuleKind::Exact;
        QTest::newRow("encoded word") << u"=?utf-8?q?x?=@b.example"_s << RuleKind::Exact;
        QTest::newRow("wildcards but no @") << u"*spam*"_s << RuleKind::Exact;
        QTest::newRow("address pattern") << u"*@*.ru"_s << RuleKind::AddressPattern;
        QTest::newRow("local part pattern") << u"newsletter-*@shop.example"_s << RuleKind::AddressPattern;
        QTest::newRow("domain rule") << u"*@example.com"_s << RuleKind::Domain;
        QTest::newRow("domain rule of no domain") << u"*@"_s << RuleKind::Domain;
        QTest::newRow("address") << u"boss@work.example"_s << RuleKind::Exact;
        QTest::newRow("From value pattern with angle brackets") << u"From: *<win@spam.example>*"_s << RuleKind::Header;
        QTest::newRow("size rule") << u"Size: > 10 MB"_s << RuleKind::Size;
        QTest::newRow("size rule without blanks") << u"size:<2kb"_s << RuleKind::Size;
        // Written as a size rule but none: exact, never a header rule on a
        // "Size:" field no message has.
        QTest::newRow("size rule without a unit") << u"Size: > 10"_s << RuleKind::Exact;
        QTest::newRow("size rule with an unknown unit") << u"Size: > 10 GB"_s << RuleKind::Exact;
        QTest::newRow("size rule too large") << u"Size: > 99999999999 MB"_s << RuleKind::Exact;
        QTest::newRow("size rule with >=") << u"Size: >= 10 MB"_s << RuleKind::Exact;
        QTest::newRow("size rule without a comparison") << u"SIZE : 10 MB"_s << RuleKind::Exact;
    }

    void sizeRules_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("matches");
        QTest::newRow("over 10 MB") << u"Size: > 10 MB"_s << qint64(10 * 1024 * 1024 + 1) << true;
        QTest::newRow("exactly 10 MB is not over") << u"Size: > 10 MB"_s << qint64(10 * 1024 * 1024) << false;
        QTest::newRow("under 2 KB") << u"Size: < 2 KB"_s << qint64(2047) << true;
        QTest::newRow("2 KB is not under") << u"size:<2kb"_s << qint64(2048) << false;
        QTest::newRow("bytes") << u"Size: > 500 B"_s << qint64(501) << true;
        QTest::newRow("size not known") << u"Size: < 2 KB"_s << qint64(-1) << false;
        QTest::newRow("size not known, larger") << u"Size: > 0 B"_s << qint64(-1) << false;
        QTest::newRow(">= is no size rule") << u"Size: >= 10 MB"_s << qint64(20 * 1024 * 1024) << false;
        QTest::newRow("a fraction is no size rule") << u"Size: > 1.5 MB"_s << qint64(20 * 1024 * 1024) << false;
    }
    void sizeRules()
    {
        QFETCH(QString, rule);
        QFETCH(qint64, size);
        QFETCH(bool, matches);
        QVERIFY(store({rule}, {}));
        const QByteArray text = header(u"a@b.example"_s, {});
        const SortReason expected = matches ? SortReason{SortReason::Kind::Filter, rule} : SortReason{};
        QCOMPARE(RuleClassifier::fromDatabase(m_f->db).classify(u"a@b.example"_s, text, size).text(), expected.text());
        QCOMPARE(RuleClassifier::fromLists({rule}, {}).classify(u"a@b.example"_s, text, size).text(), expected.text());
        // Exempted like any rule.
        QCOMPARE(RuleClassifier::fromLists({rule}, {rule}).classify(u"a@b.example"_s, text, size).kind,
                 matches ? SortReason::Kind::Exempted : SortReason::Kind::NoRule);
    }
    void reading()
    {
        QFETCH(QString, value);
        QTEST(RuleSyntax::read(value).kind, "kind");
    }

    // A database as earlier versions wrote it sorts every message into the
    // folder it sorted it into then, but for the mended faults.
    void earlierDatabaseSortsAsBefore()
    {
        const QStringList filter{u"*@spam.example"_s,
                                 u"Offers <win@promo.example>"_s,
                                 u"pharma@cheap.example"_s,
                                 u"*@bank.example\" <win"_s,
                                 u"*@"_s,
                                 u"Win?? Now <a@b.example>"_s,
                                 u"*@friends.example"_s,
                                 u"*@newsletter.example"_s};
        const QStringList exempted{u"Tech Digest <digest@newsletter.example>"_s, u"*@friends.example"_s};
        QVERIFY(store(filter, exempted));
        const auto before = [&](const QString &sender) {
            const QString domain = u"*@"_s + ReplaceText(GetField(u"@"_s, sender, 1), u">"_s, QString(), 1, -1, 0);
            if (m_f->db.IsInList(sender, u"tbexempted"_s))
                return false;
            return m_f->db.IsInList(domain, u"tbfilter"_s) || m_f->db.IsInList(sender, u"tbfilter"_s);
        };
        // Sender, and where the mended faults now put it (true: Recycle Bin).
        const QList<QPair<QString, std::optional<bool>>> senders{
            {u"Anna <anna@northwind.example>"_s, {}},
            {u"x@spam.example"_s, {}},
            {u"\"Mega Deals\" <deals@SPAM.example>"_s, {}},
            {u"Offers <win@promo.example>"_s, {}},
            {u"OFFERS <WIN@promo.example>"_s, {}},
            {u"Other Name <win@promo.example>"_s, {}}, // the whole value stays exact
            {u"Mailer Daemon"_s, {}},
            {u""_s, {}},
            {u"Win?? Now <a@b.example>"_s, {}},
            {u"Win!! Now <a@b.example>"_s, {}},
            {u"Tech Digest <digest@newsletter.example>"_s, {}},
            {u"Other Digest <digest@newsletter.example>"_s, {}},
            {u"Pharma Shop <pharma@cheap.example>"_s, true}, // an address matches any name
            {u"\"support@bank.example\" <win@legit.example>"_s, false}, // the address's domain, not the name's
            {u"Fred <fred@friends.example>"_s, false}, // an exempted domain exempts
        };
        const RuleClassifier classifier = RuleClassifier::fromDatabase(m_f->db);
        for (const auto &[sender, mended] : senders) {
            const bool now = classifier.classify(sender, header(sender, {})).kind == SortReason::Kind::Filter;
            if (mended) {
                QVERIFY2(now == *mended && before(sender) != *mended, qPrintable(sender));
            } else {
                QVERIFY2(now == before(sender), qPrintable(sender));
            }
        }
    }

    // Exact values are found in memory: what the database's own lookup
    // answers, spelling for spelling, and the lists answer the same.
    void exactValuesAsTheDatabaseFindsThem()
    {
        // Two spellings of one rule: the row stored first is the one named.
        const QStringList filter{u"Straße@Hof.example"_s, u"STRASSE@hof.example"_s, u"kelvin@x.example"_s,
                                 u"İnfo@x.example"_s,     u"ﬁle@x.example"_s,       u"ǅ@x.example"_s,
                                 u"*@spam.example"_s,     u"Ann <ann@x.example>"_s};
        QVERIFY(store(filter, {}));
        const RuleClassifier fromDatabase = RuleClassifier::fromDatabase(m_f->db);
        const RuleClassifier fromLists = RuleClassifier::fromLists(filter, {});
        const QStringList senders{u"strasse@HOF.example"_s,  u"STRAẞE@hof.EXAMPLE"_s,   u"\u212Aelvin@x.example"_s,
                                  u"i\u0307nfo@x.example"_s, u"info@x.example"_s,       u"FILE@x.example"_s,
                                  u"ǆ@x.example"_s,          u"Ǆ@X.example"_s,          u"*@SPAM.example"_s,
                                  u"ANN <ANN@X.EXAMPLE>"_s,  u"Ann  <ann@x.example>"_s, u"kelvin@x.example."_s};
        int found = 0;
        for (const QString &sender : senders) {
            const QString stored = m_f->db.StoredRule(sender, u"tbfilter"_s);
            found += stored.isNull() ? 0 : 1;
            const QString expected = stored.isNull() ? u"No rule matched"_s : stored + u" (Filter List)"_s;
            QCOMPARE(fromDatabase.classify(sender, {}).text(), expected);
            QCOMPARE(fromLists.classify(sender, {}).text(), expected);
        }
        QVERIFY(found > 0 && found < senders.size());
        QCOMPARE(fromDatabase.classify(u"STRASSE@HOF.EXAMPLE"_s, {}).text(), u"Straße@Hof.example (Filter List)"_s);
    }
};

QTEST_GUILESS_MAIN(TestRuleClassifier)
#include "tst_ruleclassifier.moc"
