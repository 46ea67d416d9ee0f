#include "StringHelpers.h"

#include <QTest>
#include <stdexcept>

class TestStringHelpers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void getField_data();
    void getField();
    void replaceText_data();
    void replaceText();
    void domainRule_data();
    void domainRule();
    void trimSpaces_data();
    void trimSpaces();
};

void TestStringHelpers::getField_data()
{
    QTest::addColumn<QString>("delimiter");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("expected");
    QTest::newRow("field 1 after first") << "@"
                                         << "joe@example.com" << 1 << "example.com";
    QTest::newRow("past the last field") << "@"
                                         << "joe@example.com" << 2 << "";
    QTest::newRow("no delimiter: whole text is field 0") << "@"
                                                         << "nobody" << 0 << "nobody";
    QTest::newRow("adjacent delimiters") << "@"
                                         << "a@@b" << 1 << "";
    QTest::newRow("negative field") << "@"
                                    << "a@b" << -1 << "";
    QTest::newRow("empty delimiter") << ""
                                     << "a@b" << 0 << "";
    // Long texts are texts like any other: no 16-bit limit.
    QTest::newRow("past 65535 characters") << "@" << QString(70000, u'a') + "@tail" << 1 << "tail";
    QTest::newRow("case matters") << "a"
                                  << "xAy" << 1 << "";
}

void TestStringHelpers::getField()
{
    QFETCH(QString, delimiter);
    QFETCH(QString, text);
    QFETCH(int, field);
    QFETCH(QString, expected);
    QCOMPARE(GetField(delimiter, text, field), expected);
}

void TestStringHelpers::replaceText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("search");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("expected");
    QTest::newRow("remove every >") << "a>>b>"
                                    << ">"
                                    << "" << 1 << -1 << 0 << "ab";
    QTest::newRow("empty search unchanged") << "abc"
                                            << ""
                                            << "x" << 1 << -1 << 0 << "abc";
    QTest::newRow("count limits") << "aaaa"
                                  << "a"
                                  << "b" << 1 << 2 << 0 << "bbaa";
    QTest::newRow("start keeps prefix") << "aaaa"
                                        << "a"
                                        << "b" << 3 << -1 << 0 << "aabb";
    QTest::newRow("replacement not searched again") << "aa"
                                                    << "a"
                                                    << "aa" << 1 << -1 << 0 << "aaaa";
    QTest::newRow("start below one throws") << "a"
                                            << "a"
                                            << "" << 0 << -1 << 0 << "";
    QTest::newRow("exact compare") << "AbA"
                                   << "a"
                                   << "x" << 1 << -1 << 0 << "AbA";
    QTest::newRow("case-insensitive compare") << "AbA"
                                              << "a"
                                              << "x" << 1 << -1 << 1 << "xbx";
}

void TestStringHelpers::replaceText()
{
    QFETCH(QString, text);
    QFETCH(QString, search);
    QFETCH(QString, replacement);
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(int, mode);
    QFETCH(QString, expected);
    if (start < 1)
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, ReplaceText(text, search, replacement, start, count, mode));
    else
        QCOMPARE(ReplaceText(text, search, replacement, start, count, mode), expected);
}

void TestStringHelpers::domainRule_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("expected");
    QTest::newRow("display name and brackets") << "Joe <joe@example.com>"
                                               << "*@example.com";
    QTest::newRow("no @") << "Mailer Daemon"
                          << "*@";
    QTest::newRow("empty sender") << ""
                                  << "*@";
    // Mail goes to the domain after the last "@".
    QTest::newRow("two @: the domain after the last") << "a@b.com@c.org"
                                                      << "*@c.org";
    QTest::newRow("two @ in angle brackets: the domain after the last") << "Bank <a@bank.example@spam.example>"
                                                                        << "*@spam.example";
    // The address's domain, never a piece of the display name.
    QTest::newRow("quoted name with @") << "\"support@bank.example\" <win@spam.example>"
                                        << "*@spam.example";
    QTest::newRow("unquoted name with @") << "support@bank.example <win@spam.example>"
                                          << "*@spam.example";
    QTest::newRow("encoded name with @") << "=?utf-8?q?a@bank.example?= <w@spam.example>"
                                         << "*@spam.example";
    QTest::newRow("comment after a bare address") << "bob@home.example (Bob Smith)"
                                                  << "*@home.example";
    QTest::newRow("colon in an unquoted name") << "Re: Your order <o@shop.example>"
                                               << "*@shop.example";
    QTest::newRow("angle address alone") << "<only@angle.example>"
                                         << "*@angle.example";
    QTest::newRow("name only, with a comment") << "Ines Duarte (Legal)"
                                               << "*@";
    QTest::newRow("quoted text, no address") << "\"x@y.example\""
                                             << "*@";
    QTest::newRow("group without members") << "undisclosed-recipients:;"
                                           << "*@";
}

void TestStringHelpers::domainRule()
{
    QFETCH(QString, sender);
    QFETCH(QString, expected);
    QCOMPARE(DomainRule(sender), expected);
}

void TestStringHelpers::trimSpaces_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("spaces both sides, inner kept") << "  john smith@example.com "
                                                   << "john smith@example.com";
    // Only the space character goes: a tab typed into a password is part of it.
    QTest::newRow("tabs and no-break space kept") << "\tpass\u00a0 "
                                                  << "\tpass\u00a0";
    QTest::newRow("spaces only") << "   "
                                 << "";
}

void TestStringHelpers::trimSpaces()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(TrimSpaces(text), expected);
}

QTEST_APPLESS_MAIN(TestStringHelpers)
#include "tst_stringhelpers.moc"
