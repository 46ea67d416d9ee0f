// The option table: its rows refer to each other by name, and the checks it
// declares must give the same words as the program always has.
#include "OptionTable.h"

#include <QCommandLineParser>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

struct Read {
    bool ok = false;
    QString why;
    QString action;
    CommandLine::Options options;
};

Read readArguments(const QStringList &arguments)
{
    QCommandLineParser parser;
    OptionTable::addTo(parser);
    Read r;
    if (!parser.parse(QStringList{u"trelvik"_s} + arguments)) {
        r.why = parser.errorText();
        return r;
    }
    const OptionTable::Row *action = nullptr;
    r.ok = OptionTable::read(parser, arguments, &r.options, &action, &r.why);
    if (r.ok)
        r.action = QString::fromLatin1(action->name);
    return r;
}

const QString kFingerprint = u"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"_s;

} // namespace

class TestOptionTable : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rowsReferToRowsThatExist();
    void refusalsNameTheMistake_data();
    void refusalsNameTheMistake();
    void valuesAreNormalised();
    void manualListsEveryOption();
};

void TestOptionTable::rowsReferToRowsThatExist()
{
    using OptionTable::Kind;
    QSet<QString> names;
    for (const OptionTable::Row &row : OptionTable::rows()) {
        const QString name = QString::fromLatin1(row.name);
        QVERIFY2(!names.contains(name), qPrintable(name));
        names << name;
        QVERIFY2(row.help && *row.help, qPrintable(name));
        // A value is declared to the parser exactly when the row checks one.
        QCOMPARE(row.valueName != nullptr, row.value != OptionTable::Value::None);
        QCOMPARE(row.run != nullptr, row.kind == Kind::Action);
        QCOMPARE(row.show != nullptr, row.kind == Kind::Info);
        QVERIFY2(row.kind == Kind::Info || row.flag || row.text || row.number, qPrintable(name));
        QCOMPARE(row.withText != nullptr, row.worksWith != nullptr);
    }
    for (const OptionTable::Row &row : OptionTable::rows()) {
        for (const char *list : {row.worksWith, row.notWith, row.excludes}) {
            for (const QString &other : QString::fromLatin1(list).split(u' ', Qt::SkipEmptyParts))
                QVERIFY2(names.contains(other), qPrintable(other));
        }
    }
}

void TestOptionTable::refusalsNameTheMistake_data()
{
    // A refusal for a missing or second action names every action.
    const QString kActions =
        u"--check, --watch, --history, --import-rules, --export-rules, --learn-spam, --learn-ham, --learn-from-server, --reset-learning, --classify, --sieve-export, --sieve-upload, --sieve-status"_s;
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected"); // the refusal, or the action chosen

    QTest::newRow("check alone") << QStringList{u"--check"_s} << u"check"_s;
    QTest::newRow("learn-ham with a file") << QStringList{u"--learn-ham"_s, u"dir"_s} << u"learn-ham"_s;
    QTest::newRow("one-dash long option") << QStringList{u"-history"_s, u"-json"_s} << u"history"_s;
    QTest::newRow("nothing to do") << QStringList{u"--quiet"_s}
                                   << u"Say what to do: %1 or --sieve-remove."_s.arg(kActions);
    QTest::newRow("two actions") << QStringList{u"--check"_s, u"--sieve-status"_s}
                                 << u"Only one of %1 and --sieve-remove at a time."_s.arg(kActions);
    QTest::newRow("learn-spam beside learn-ham") << QStringList{u"--learn-spam"_s, u"a"_s, u"--learn-ham"_s, u"b"_s}
                                                 << u"Only one of %1 and --sieve-remove at a time."_s.arg(kActions);
    QTest::newRow("stray word") << QStringList{u"--check"_s, u"now"_s} << u"Unexpected argument \"now\"."_s;
    QTest::newRow("option taken for a path") << QStringList{u"--classify"_s, u"--json"_s, u"m.eml"_s}
                                             << u"--classify needs its path right after it, not \"--json\"."_s;
    QTest::newRow("one-dash option taken for a name") << QStringList{u"--check"_s, u"--profile"_s, u"-quiet"_s}
                                                      << u"--profile needs its name right after it, not \"-quiet\"."_s;
    QTest::newRow("a name that looks like an option, joined to it")
        << QStringList{u"--check"_s, u"--profile=-h"_s} << u"check"_s;
    QTest::newRow("a path joined with one dash") << QStringList{u"-classify=--json"_s} << u"classify"_s;
    QTest::newRow("joined to another option")
        << QStringList{u"--check"_s, u"--timeout=--json"_s, u"--profile"_s, u"--json"_s}
        << u"--profile needs its name right after it, not \"--json\"."_s;
    QTest::newRow("a path that only starts with a dash")
        << QStringList{u"--classify"_s, u"-"_s, u"--json"_s} << u"classify"_s;
    QTest::newRow("delete without check") << QStringList{u"--delete"_s} << u"--delete works only with --check."_s;
    QTest::newRow("json with a rule export")
        << QStringList{u"--json"_s, u"--export-rules"_s, u"f"_s}
        << u"--json works only with --check, --history, --classify, --learn-from-server and the --sieve- actions."_s;
    QTest::newRow("json with a sieve action") << QStringList{u"--json"_s, u"--sieve-remove"_s} << u"sieve-remove"_s;
    QTest::newRow("include without upload") << QStringList{u"--sieve-include"_s, u"--sieve-status"_s}
                                            << u"--sieve-include works only with --sieve-upload."_s;
    QTest::newRow("all beside profile") << QStringList{u"--check"_s, u"--all"_s, u"--profile"_s, u"W"_s}
                                        << u"--all and --profile exclude each other."_s;
    QTest::newRow("trusted fingerprint with all")
        << QStringList{u"--check"_s, u"--all"_s, u"--trust-certificate"_s, kFingerprint}
        << u"--trust-certificate works only with --check of one profile."_s;
    QTest::newRow("fingerprint too short") << QStringList{u"--check"_s, u"--trust-certificate"_s, u"ab:cd"_s}
                                           << u"--trust-certificate needs a SHA-256 fingerprint (64 hex digits), not "
                                              "\"ab:cd\"."_s;
    QTest::newRow("fingerprint not hex")
        << QStringList{u"--check"_s, u"--trust-certificate"_s, QString(kFingerprint).replace(u'a', u'g')}
        << u"--trust-certificate needs a SHA-256 fingerprint (64 hex digits), not \"%1\"."_s.arg(
               QString(kFingerprint).replace(u'a', u'g'));
    QTest::newRow("timeout zero") << QStringList{u"--check"_s, u"--timeout"_s, u"0"_s}
                                  << u"--timeout needs a whole number of seconds from 1 to 86400, not \"0\"."_s;
    QTest::newRow("timeout past a day")
        << QStringList{u"--check"_s, u"--timeout"_s, u"86401"_s}
        << u"--timeout needs a whole number of seconds from 1 to 86400, not \"86401\"."_s;
    QTest::newRow("timeout without check")
        << QStringList{u"--history"_s, u"--timeout"_s, u"5"_s} << u"--timeout works only with --check."_s;
    QTest::newRow("blank profile") << QStringList{u"--history"_s, u"--profile"_s, u"  "_s}
                                   << u"--profile needs a profile name."_s;
    QTest::newRow("empty file name") << QStringList{u"--classify"_s, QString()} << u"--classify needs a file name."_s;
}

void TestOptionTable::refusalsNameTheMistake()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    const Read r = readArguments(arguments);
    QCOMPARE(r.ok ? r.action : r.why, expected);
}

void TestOptionTable::valuesAreNormalised()
{
    const Read r = readArguments({u"--check"_s, u"--delete"_s, u"--profile"_s, u" Work "_s, u"--timeout"_s, u" 30 "_s,
                                  u"--trust-certificate"_s, kFingerprint.toUpper().insert(2, u": ")});
    QVERIFY2(r.ok, qPrintable(r.why));
    QVERIFY(r.options.check && r.options.del && !r.options.all);
    QCOMPARE(r.options.profile, u"Work"_s);
    QCOMPARE(r.options.timeoutSeconds, 30);
    QCOMPARE(r.options.trustCertificate, kFingerprint);
    QCOMPARE(readArguments({u"--check"_s}).options.timeoutSeconds, 600);
}

// The manual page is written by hand: its OPTIONS section must name every
// option of the table with its value, and no option the table lacks.
void TestOptionTable::manualListsEveryOption()
{
    QFile file(QStringLiteral(TRELVIK_MANUAL));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
    const QString page = QString::fromUtf8(file.readAll());
    const qsizetype start = page.indexOf(u"\n.SH OPTIONS\n"_s);
    QVERIFY(start >= 0);
    const QStringList lines = page.mid(start + 1, page.indexOf(u"\n.SH "_s, start + 1) - start).split(u'\n');
    QMap<QString, QString> tags; // long name: its tag line
    static const QRegularExpression longName(QStringLiteral(R"(\\-\\-([a-z\\-]+))"));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines[i - 1] != u".TP"_s)
            continue;
        for (auto m = longName.globalMatch(lines[i]); m.hasNext();)
            tags.insert(m.next().captured(1).remove(u'\\'), lines[i]);
    }
    QStringList names;
    for (const OptionTable::Row &row : OptionTable::rows()) {
        const QString name = QString::fromLatin1(row.name);
        names << name;
        QVERIFY2(tags.contains(name), qPrintable(name));
        if (row.valueName)
            QVERIFY2(tags[name].endsWith(u" %1\""_s.arg(QString::fromLatin1(row.valueName).toUpper())),
                     qPrintable(tags[name]));
    }
    names.sort();
    QCOMPARE(tags.keys(), names);
}

QTEST_GUILESS_MAIN(TestOptionTable)
#include "tst_optiontable.moc"
