// The Sieve script as text: which rules it carries and how, what it leaves
// out and why, and how a script changed on the server is told apart. What
// the tests mean is checked against a real engine in tst_sieveagreement.
#include "RuleCollation.h"
#include "SieveScript.h"
#include "SieveSpellings.h"

#include <QtTest>

class TestSieveScript : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void mapping_data();
    void mapping();
    void spellings_data();
    void spellings();
    void asciiLettersOtherCharactersFoldTo();
    void listsInOrder();
    void extensionsOnlyAsAnnounced();
    void noFileintoNoScript();
    void stamp_data();
    void stamp();
};

void TestSieveScript::mapping_data()
{
    QTest::addColumn<QString>("rule");
    QTest::addColumn<QString>("testHolds"); // empty: left out
    QTest::addColumn<QString>("reasonHolds");

    QTest::newRow("size over") << "Size: > 10 KB"
                               << "size :over 10240"
                               << "";
    QTest::newRow("size under") << "size:<2b"
                                << "size :under 2"
                                << "";
    QTest::newRow("plain header pattern") << "Subject: *bar*"
                                          << "header :matches \"Subject\" \"*bar*\""
                                          << "";
    QTest::newRow("backslash escaped for :matches") << "Subject: *a\\b*"
                                                    << "header :matches \"Subject\" \"*a\\\\\\\\b*\""
                                                    << "";
    QTest::newRow("letters with other foldings need regex")
        << "X-Spam-Flag: YES"
        << "header :regex :comparator \"i;octet\" \"X-Spam-Flag\" \"^[yY][eE]([sS]|ſ)$\""
        << "";
    QTest::newRow("ligature before a star") << "Subject: *free*"
                                            << "ﬀ"
                                            << "";
    QTest::newRow("question mark") << "Subject: *w?n*"
                                   << ""
                                   << "one byte on the server";
    QTest::newRow("latin-1 letter") << "Subject: *gagné*"
                                    << ""
                                    << "Latin-1";
    QTest::newRow("sharp s") << "Subject: *strasse*"
                             << ""
                             << "\"ß\"";
    QTest::newRow("domain, other spellings only in UTF-8")
        << "*@spam.example"
        << "anyof (string :matches :comparator \"i;ascii-casemap\" \"${sender}\" \"*@spam.example\", allof (not header "
           ":contains \"from\" "
           "\"\uFFFD\", string :matches :comparator \"i;ascii-casemap\" \"${sender}\" \"*@ſpam.example\"))"
        << "";
    QTest::newRow("idn both spellings") << "*@bücher.example"
                                        << "\"*@xn--bcher-kva.example\""
                                        << "";
    QTest::newRow("idn in latin-1") << "*@bücher.example"
                                    << "\"*@b${hex:fc}cher.example\""
                                    << "";
    QTest::newRow("idn stored as xn--") << "*@xn--bcher-kva.example"
                                        << ""
                                        << "Unicode";
    QTest::newRow("address") << "win@lottery.example"
                             << "string :is :comparator \"i;ascii-casemap\" \"${sender}\" \"win@lottery.example\""
                             << "";
    QTest::newRow("two ats only as regex") << "a@b.example@c.example"
                                           << "header :regex"
                                           << "";
    QTest::newRow("pattern") << "news-*@shop.example"
                             << "string :matches :comparator \"i;ascii-casemap\" \"${sender}\" \"news-*@shop.example\""
                             << "";
    QTest::newRow("wildcard inside a label") << "*@spam*.example"
                                             << ""
                                             << "label";
    QTest::newRow("whole From line") << "Bank <a@bank.example>"
                                     << ""
                                     << "whole From line";
    QTest::newRow("star-at alone") << "*@"
                                   << ""
                                   << "no domain";
    QTest::newRow("encoded-character opener") << "Subject: *${hex:41}*"
                                              << ""
                                              << "${";
    QTest::newRow("carriage return, as an import can give") << "Subject: *a\rb*"
                                                            << ""
                                                            << "control character";
}

void TestSieveScript::mapping()
{
    QFETCH(QString, rule);
    QFETCH(QString, testHolds);
    QFETCH(QString, reasonHolds);
    const SieveScript::Script script = SieveScript::generate({rule}, {}, {});
    QVERIFY(script.error.isEmpty());
    if (testHolds.isEmpty()) {
        QCOMPARE(script.exported, 0);
        QCOMPARE(script.leftOut.size(), 1);
        QVERIFY2(script.leftOut.front().reason.contains(reasonHolds), qPrintable(script.leftOut.front().reason));
        return;
    }
    QCOMPARE(script.exported, 1);
    QVERIFY2(script.text.contains(testHolds), qPrintable(script.text));
    QVERIFY(script.text.contains(QStringLiteral("# filter: ") + rule + u'\n'));
}

void TestSieveScript::spellings_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("ascii only") << "ab.example" << QStringList{"ab.example"};
    QTest::newRow("kelvin sign") << "k" << QStringList{"k", QString(QChar(0x212A))};
    QTest::newRow("sharp s both ways") << "ss" << QStringList{"ss", "sſ", "ſs", "ſſ", "ß", "ẞ"};
    QTest::newRow("upper case outside ascii") << "Ü" << QStringList{"ü", "Ü"};
}

void TestSieveScript::spellings()
{
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    std::optional<QStringList> got = SieveSpellings::spellings(text, 64);
    QVERIFY(got);
    got->sort();
    expected.sort();
    QCOMPARE(*got, expected);
    QVERIFY(!SieveSpellings::spellings(QString(40, u's'), 64)); // too many to list
}

void TestSieveScript::asciiLettersOtherCharactersFoldTo()
{
    // The generator takes a pattern without these letters as it is; the
    // folding must still agree.
    QString letters;
    for (char32_t cp = 0x80; cp <= 0x10FFFF; ++cp) {
        char32_t out[3];
        const int n = RuleCollation::foldFull(cp, out);
        for (int i = 0; i < n; ++i) {
            if (out[i] < 0x80 && !letters.contains(QChar(char16_t(out[i]))))
                letters.append(QChar(char16_t(out[i])));
        }
    }
    std::sort(letters.begin(), letters.end());
    QCOMPARE(letters, QStringLiteral("afhijklnstwy"));
}

// An exempted match ends Trelvik's script alone where it can be included:
// the user's own script that includes it still files the message.
void TestSieveScript::listsInOrder()
{
    SieveScript::Options withoutInclude;
    withoutInclude.capabilities.extensions = {QStringLiteral("fileinto")};
    for (const auto &[options, keep] : {std::pair{SieveScript::Options{}, QLatin1String("{ return; }")},
                                        std::pair{withoutInclude, QLatin1String("{ keep; stop; }")}}) {
        const SieveScript::Script script = SieveScript::generate({QStringLiteral("Subject: *x*")},
                                                                 {QStringLiteral("Subject: *bc*")}, options);
        const qsizetype kept = script.text.indexOf(keep);
        const qsizetype junk = script.text.indexOf(QLatin1String("{ fileinto \"Junk\"; stop; }"));
        QVERIFY2(kept > 0 && junk > kept, qPrintable(script.text));
        QCOMPARE(script.text.contains(QLatin1String("\"include\"")), keep.startsWith(QLatin1String("{ return")));
        QVERIFY(!script.text.contains(QLatin1String("discard")));
    }
}

void TestSieveScript::extensionsOnlyAsAnnounced()
{
    SieveScript::Options options;
    options.capabilities.extensions = {QStringLiteral("fileinto")};
    const SieveScript::Script script =
        SieveScript::generate({QStringLiteral("*@spam.example"), QStringLiteral("Subject: *x*"),
                               QStringLiteral("Size: > 1 MB")},
                              {}, options);
    QCOMPARE(script.exported, 2);
    QCOMPARE(script.leftOut.size(), 1);
    QVERIFY(script.leftOut.front().reason.contains(QLatin1String("offers no")));
    QVERIFY(script.text.contains(QLatin1String("require \"fileinto\";")));
}

void TestSieveScript::noFileintoNoScript()
{
    SieveScript::Options options;
    options.capabilities.extensions = {QStringLiteral("regex"), QStringLiteral("relational")};
    const SieveScript::Script script = SieveScript::generate({QStringLiteral("Subject: *x*")}, {}, options);
    QVERIFY(script.text.isEmpty());
    QVERIFY(script.error.contains(QLatin1String("fileinto")));
}

void TestSieveScript::stamp_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("ours");
    QTest::addColumn<bool>("intact");
    QTest::newRow("as written") << "" << true << true;
    QTest::newRow("a rule edited") << "edit" << true << false;
    QTest::newRow("header comment gone") << "strip" << false << false;
    QTest::newRow("a line added at the end") << "append" << true << false;
}

void TestSieveScript::stamp()
{
    QFETCH(QString, change);
    QFETCH(bool, ours);
    QFETCH(bool, intact);
    QString text = SieveScript::generate({QStringLiteral("*@spam.example")}, {}, {}).text;
    if (change == u"edit")
        text.replace(QLatin1String("spam.example"), QLatin1String("spam.exampl"));
    else if (change == u"strip")
        text = text.mid(text.indexOf(QLatin1String("\nrequire")));
    else if (change == u"append")
        text += QLatin1String("discard;\n");
    const SieveScript::Stamp stamp = SieveScript::read(text);
    QCOMPARE(stamp.ours, ours);
    QCOMPARE(stamp.intact, intact);
}

QTEST_GUILESS_MAIN(TestSieveScript)
#include "tst_sievescript.moc"
