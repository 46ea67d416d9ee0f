// Importing and exporting the rule lists as a text file.
#include "RuleCommands.h"
#include "RuleDatabase.h"
#include "RuleFile.h"
#include "TestSupport.h"

#include <QFile>
#include <QTest>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

bool write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestRuleFile : public QObject {
    Q_OBJECT
    struct Fixture {
        testsupport::TempHome home;
        RuleDatabase db;
        QString path(const QString &name) const { return home.path() + u'/' + name; }
    };
    std::optional<Fixture> m_f;

    QStringList rules(const RuleDatabase &db, const QString &table) const
    {
        return sorted(db.FillRules(table).value_or(QStringList{u"query failed"_s}));
    }

private Q_SLOTS:
    void init()
    {
        m_f.emplace();
        QVERIFY(m_f->db.OpenRuleDatabase());
    }
    void cleanup() { m_f.reset(); }

    void importSkipsDuplicatesAndReportsRefusals()
    {
        QVERIFY(m_f->db.InsertRule(u"tbexempted"_s, u"boss@work.example"_s));
        const QString file = m_f->path(u"rules.txt"_s);
        QVERIFY(write(file,
                      "\xEF\xBB\xBF# moved from the old machine\r\n"
                      "\r\n"
                      "filter *@spam.example\r\n"
                      "FILTER   *@SPAM.example  \n" // twice in the file
                      "exempt Boss@Work.Example\n" // already in the list
                      "filter *@spam.example\n"
                      "block x@y.example\n" // line 7: the first refused
                      "filter \xC3\x84RGER@b\xC3\xBC"
                      "cher.example\n"
                      "filter \xC3\xA4rger@B\xC3\x9C"
                      "CHER.example\n" // the same, other case
                      "exempt\n"
                      "filter bad\xFF"
                      "byte@x.example\n"
                      "   # an indented comment\n"
                      "exempt List-Id: *my-project*\n"
                      "exempt *@spam.example")); // no final line break; other list
        QString error;
        const std::optional<RuleFile::ImportReport> report = RuleFile::importRules(m_f->db, file, &error);
        QVERIFY2(report, qPrintable(error));
        QCOMPARE(report->added, 4);
        QCOMPARE(report->addedFilter, 2);
        QCOMPARE(report->addedExempted, 2);
        QCOMPARE(report->present, 4);
        QCOMPARE(report->refused, 3);
        QCOMPARE(report->firstRefusedLine, 7);
        QCOMPARE(report->firstRefusedText, u"block x@y.example"_s);
        QVERIFY(report->firstRefusedReason.contains(u"filter"_s));
        QCOMPARE(rules(m_f->db, u"tbfilter"_s), (QStringList{u"*@spam.example"_s, u"ÄRGER@bücher.example"_s}));
        QCOMPARE(rules(m_f->db, u"tbexempted"_s),
                 (QStringList{u"*@spam.example"_s, u"List-Id: *my-project*"_s, u"boss@work.example"_s}));
        QCOMPARE(RuleFile::reportText(*report),
                 u"4 rules added, 4 already present, 3 refused (line 7: \"block x@y.example\": "_s
                     + report->firstRefusedReason + u')');
    }

    // One line of a file, after a comment line: what it adds, or why it is
    // refused, and the warning it brings.
    void importLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("stored"); // null when refused
        QTest::addColumn<QString>("refusal"); // a piece of the reason
        QTest::addColumn<QString>("warning"); // a piece of the warning
        const QString notUtf8 = u"not valid UTF-8"_s;
        QTest::newRow("broken byte at the end") << QByteArray("filter *@caf\xe9") << QString() << notUtf8 << QString();
        QTest::newRow("cut sequence at the end")
            << QByteArray("filter Subject: *r\xc3\r") << QString() << notUtf8 << QString();
        QTest::newRow("broken byte mid-line") << QByteArray("filter a\xff"
                                                            "b@x.example")
                                              << QString() << notUtf8 << QString();
        QTest::newRow("valid UTF-8 at the end")
            << QByteArray("filter *@caf\xc3\xa9") << u"*@café"_s << QString() << QString();
        QTest::newRow("escaped TAB") << QByteArray("filter-escaped Ines\\tDuarte (Legal)") << u"Ines\tDuarte (Legal)"_s
                                     << QString() << QString();
        QTest::newRow("escaped outer blanks and a backslash")
            << QByteArray("EXEMPT-ESCAPED \\s\\\\name\\u{1F600}\\s") << u" \\name\U0001F600 "_s << QString()
            << u"starts or ends with a blank, as no From value does"_s;
        QTest::newRow("unknown escape") << QByteArray("filter-escaped a\\qb") << QString() << u"no escape"_s
                                        << QString();
        QTest::newRow("lone backslash at the end")
            << QByteArray("filter-escaped ab\\") << QString() << u"lone"_s << QString();
        QTest::newRow("code point out of range")
            << QByteArray("filter-escaped a\\u{110000}") << QString() << u"code point"_s << QString();
        QTest::newRow("plain line keeps its backslashes")
            << QByteArray("filter C:\\temp\\new") << u"C:\\temp\\new"_s << QString() << QString();
        QString emoji;
        for (int i = 0; i < 998; ++i)
            emoji += u"\U0001F600"_s;
        QTest::newRow("998 characters beyond 16 bits")
            << (QByteArray("filter ") + emoji.toUtf8()) << emoji << QString() << QString();
        QTest::newRow("999 characters: a database may hold them")
            << (QByteArray("filter ") + QByteArray(999, 'a')) << QString(999, u'a') << QString() << QString();
        QTest::newRow("*@ says what it catches") << QByteArray("filter *@") << u"*@"_s << QString()
                                                 << u"names no domain: it catches every message whose From holds no "
                                                    "address"_s;
        // Rules that do not do what they seem to: stored (a file gives back
        // any database), each named with why.
        const auto warned = [](const char *name, const QString &rule, const QString &why) {
            QTest::newRow(name) << (QByteArray("filter ") + rule.toUtf8()) << rule << QString() << why;
        };
        warned(">= is no comparison", u"Size: >= 10 MB"_s, u"\">=\" is no comparison"_s);
        warned("GB is no unit", u"Size: > 10 GB"_s, u"not \"GB\""_s);
        warned("MiB is no unit", u"Size: > 10 MiB"_s, u"not \"MiB\""_s);
        warned("a fraction", u"Size: > 1.5 MB"_s, u"must be whole"_s);
        warned("no comparison", u"Size: 10 MB"_s, u"\">\" or \"<\" must come before the number"_s);
        warned("negative size", u"Size: > -1 MB"_s, u"never negative"_s);
        warned("no unit", u"size:>10"_s, u"a unit must follow"_s);
        warned("huge number", u"Size: > 99999999999999999999 MB"_s, u"larger than any message"_s);
        warned("larger than any message", u"Size: > 5000 MB"_s, u"no message is larger than 4096 MB"_s);
        warned("smaller than 5000 MB catches all", u"Size: < 5000 MB"_s, u"catches every message whose size"_s);
        warned("smaller than nothing", u"Size: < 0 KB"_s, u"smaller than 0 bytes: it never matches"_s);
        warned("domain with a final dot", u"*@spam.example."_s, u"ends in \".\""_s);
        warned("pattern domain with a final dot", u"*@*.spam.example."_s, u"ends in \".\""_s);
        warned("domain after a blank", u"*@ spam.example"_s, u"write \"*@spam.example\""_s);
        warned("star alone", u"*"_s, u"as in \"*@*\""_s);
        warned("at sign alone", u"@"_s, u"neither a sender nor a domain"_s);
        warned("address without a domain", u"boss@"_s, u"needs a domain"_s);
        warned("header rule without the blank", u"X-Spam-Flag:YES"_s, u"\"X-Spam-Flag: YES\""_s);
        warned("header rule without a pattern", u"Subject:"_s, u"nothing to match"_s);
        warned("xn-- label with a wildcard", u"*@xn--*"_s, u"Unicode spelling"_s);
        const auto fine = [](const char *name, const QString &rule) {
            QTest::newRow(name) << (QByteArray("exempt ") + rule.toUtf8()) << rule << QString() << QString();
        };
        fine("header rule", u"X-Spam-Flag: YES"_s);
        fine("group", u"undisclosed-recipients:;"_s);
        fine("name with a colon and an address", u"Info:News <a@b.example>"_s);
        fine("name without an address", u"MAILER-DAEMON"_s);
        fine("name with a question mark", u"Who?"_s);
        fine("inner blanks of a name", u"a  b@x.de"_s);
        fine("valid xn-- label in a pattern", u"*@*.xn--caf-dma.example"_s);
        fine("largest size", u"Size: > 4095 MB"_s);
        QTest::newRow("domain alone warned")
            << QByteArray("filter spam.example") << u"spam.example"_s << QString() << u"*@spam.example"_s;
        QTest::newRow("@domain warned") << QByteArray("filter @spam.example") << u"@spam.example"_s << QString()
                                        << u"*@spam.example"_s;
        QTest::newRow("header rule without the blank warned")
            << QByteArray("filter Subject:*x*") << u"Subject:*x*"_s << QString() << u"Subject: *x*"_s;
        QTest::newRow("domain rule not warned")
            << QByteArray("filter *@spam.example") << u"*@spam.example"_s << QString() << QString();
        QTest::newRow("size rule") << QByteArray("exempt Size: < 2 KB") << u"Size: < 2 KB"_s << QString() << QString();
    }
    void importLine()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, stored);
        QFETCH(QString, refusal);
        QFETCH(QString, warning);
        const QString file = m_f->path(u"line.txt"_s);
        QVERIFY(write(file, "# one line\n" + line + '\n'));
        QString error;
        const std::optional<RuleFile::ImportReport> report = RuleFile::importRules(m_f->db, file, &error);
        QVERIFY2(report, qPrintable(error));
        const QStringList all = rules(m_f->db, u"tbfilter"_s) + rules(m_f->db, u"tbexempted"_s);
        QCOMPARE(all, stored.isNull() ? QStringList{} : QStringList{stored});
        QCOMPARE(report->refused, stored.isNull() ? 1 : 0);
        if (!refusal.isEmpty())
            QVERIFY2(report->firstRefusedLine == 2 && report->firstRefusedReason.contains(refusal),
                     qPrintable(report->firstRefusedReason));
        QCOMPARE(report->warnings.size(), warning.isEmpty() ? 0 : 1);
        if (!warning.isEmpty()) {
            QCOMPARE(report->warnings.front().line, 2);
            QVERIFY2(report->warnings.front().reason.contains(warning), qPrintable(report->warnings.front().reason));
            QVERIFY(RuleFile::reportText(*report).contains(u"line 2: "_s));
            // For the command line: the warning on a line of its own.
            const QStringList lines = RuleFile::reportLines(*report);
            QCOMPARE(lines.size(), 2);
            QVERIFY(lines.at(1).startsWith(u"line 2: "_s) && lines.at(1).endsWith(report->warnings.front().reason));
        }
    }

    // Every value the rule commands and the add dialog can store comes
    // back exactly from its file.
    void everyMadeValueSurvivesTheRoundTrip()
    {
        const QStringList senders{u"Ines\tDuarte (Legal)"_s, // a name folded with a TAB
                                  u"\tMailer\t"_s, // blanks at both ends
                                  QString(998, u'n'), // the longest whole value
                                  u"\"A\\B\" <a\\b@x.example>"_s, // backslashes
                                  u"Info <info@xn--bcher-kva.example>"_s,
                                  u"C:\\t is no TAB"_s,
                                  u"line\u2028separator"_s};
        QStringList made;
        for (const QString &sender : senders) {
            for (const RuleCommands::Value v : {RuleCommands::Value::Sender, RuleCommands::Value::Domain}) {
                if (RuleCommands::refusal(sender, v).isEmpty())
                    made.append(RuleCommands::ruleValue(sender, v));
            }
        }
        made.removeDuplicates();
        QVERIFY(made.contains(u"Ines\tDuarte (Legal)"_s) && made.contains(QString(998, u'n')));
        // Values typed in the dialog keep inner and leading TABs; values
        // typed in earlier versions, and whatever else a database
        // can hold: longer than the dialog takes, a leading U+FEFF, rules
        // that do not do what they seem to.
        const QStringList typed{u"\tSubject: *x*"_s,
                                u"Subject: *a\tb*"_s,
                                u"Size: > 10 MB"_s,
                                QString(1200, u'n'),
                                u"\uFEFF*@spam.example"_s,
                                u"\uFEFF"_s,
                                u"Size: >= 10 MB"_s,
                                u"*"_s,
                                u"*@"_s};
        QVERIFY(m_f->db.InsertRuleSets(made + typed, made));

        const QString file = m_f->path(u"export.txt"_s);
        QString error;
        QVERIFY2(RuleFile::exportRules(m_f->db, file, &error), qPrintable(error));
        RuleDatabase other(m_f->path(u"other"_s));
        QVERIFY(other.OpenRuleDatabase());
        const std::optional<RuleFile::ImportReport> report = RuleFile::importRules(other, file, &error);
        QVERIFY2(report, qPrintable(error));
        QCOMPARE(report->refused, 0);
        QCOMPARE(rules(other, u"tbfilter"_s), sorted(made + typed));
        QCOMPARE(rules(other, u"tbexempted"_s), sorted(made));
    }

    void nothingImportedWithoutTheFile()
    {
        QString error;
        QVERIFY(!RuleFile::importRules(m_f->db, m_f->path(u"missing.txt"_s), &error));
        QVERIFY(error.contains(u"missing.txt"_s));
        QCOMPARE(rules(m_f->db, u"tbfilter"_s), QStringList{});
    }

    void exportThenImportGivesTheSameLists()
    {
        const QStringList filter{u"*@spam.example"_s, u"Offers <win@promo.example>"_s,
                                 u"o'neil@x.ie"_s,    u"Subject: *free money*"_s,
                                 u"ärger@x.de"_s,     u"#not a comment@x.example"_s};
        const QStringList exempted{u"boss@work.example"_s, u"List-Id: *my-project*"_s};
        QVERIFY(m_f->db.InsertRuleSets(filter, exempted));
        const QString file = m_f->path(u"export.txt"_s);
        QString error;
        QVERIFY2(RuleFile::exportRules(m_f->db, file, &error), qPrintable(error));

        RuleDatabase other(m_f->path(u"other"_s));
        QVERIFY(other.OpenRuleDatabase());
        const std::optional<RuleFile::ImportReport> report = RuleFile::importRules(other, file, &error);
        QVERIFY2(report, qPrintable(error));
        QCOMPARE(report->added, int(filter.size() + exempted.size()));
        QCOMPARE(report->refused, 0);
        QCOMPARE(rules(other, u"tbfilter"_s), sorted(filter));
        QCOMPARE(rules(other, u"tbexempted"_s), sorted(exempted));
        // Into a folder that is not there: a clear failure, no file.
        QVERIFY(!RuleFile::exportRules(m_f->db, m_f->path(u"no/such/folder/x.txt"_s), &error));
        QVERIFY(error.contains(u"x.txt"_s));
    }
};

QTEST_GUILESS_MAIN(TestRuleFile)
#include "tst_rulefile.moc"
