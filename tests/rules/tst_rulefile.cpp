// Importing and exporting the rule lists as a text file.
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
        QVERIFY(write(file, "\xEF\xBB\xBF# moved from the old machine\r\n"
                            "\r\n"
                            "filter *@spam.example\r\n"
                            "FILTER   *@SPAM.example  \n"         // twice in the file
                            "exempt Boss@Work.Example\n"          // already in the list
                            "filter *@spam.example\n"
                            "block x@y.example\n"                 // line 7: the first refused
                            "filter \xC3\x84RGER@b\xC3\xBC" "cher.example\n"
                            "filter \xC3\xA4rger@B\xC3\x9C" "CHER.example\n" // the same, other case
                            "exempt\n"
                            "filter bad\xFF" "byte@x.example\n"
                            "   # an indented comment\n"
                            "exempt List-Id: *my-project*\n"
                            "exempt *@spam.example"));            // no final line break; other list
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

    void nothingImportedWithoutTheFile()
    {
        QString error;
        QVERIFY(!RuleFile::importRules(m_f->db, m_f->path(u"missing.txt"_s), &error));
        QVERIFY(error.contains(u"missing.txt"_s));
        QCOMPARE(rules(m_f->db, u"tbfilter"_s), QStringList{});
    }

    void exportThenImportGivesTheSameLists()
    {
        const QStringList filter{u"*@spam.example"_s, u"Offers <win@promo.example>"_s, u"o'neil@x.ie"_s,
                                 u"Subject: *free money*"_s, u"ärger@x.de"_s, u"#not a comment@x.example"_s};
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
