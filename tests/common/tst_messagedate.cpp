#include "MessageDate.h"

#include <QTest>

class TestMessageDate : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parse_data();
    void parse();
};

void TestMessageDate::parse_data()
{
    // utc: the moment in UTC, ISO form; empty when no time can be read.
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("utc");

    QTest::newRow("full") << u"Mon, 1 Jan 2024 10:00:00 +0000"_qs << u"2024-01-01T10:00:00Z"_qs;
    QTest::newRow("offset applied") << u"Sat, 6 Jan 2024 03:00:00 +0800"_qs << u"2024-01-05T19:00:00Z"_qs;
    QTest::newRow("no seconds, EST") << u"Fri, 5 Jan 2024 10:00 EST"_qs << u"2024-01-05T15:00:00Z"_qs;
    QTest::newRow("comment after the zone") << u"Fri, 5 Jan 2024 10:00:00 +0100 (CET)"_qs << u"2024-01-05T09:00:00Z"_qs;
    QTest::newRow("two-digit year 99") << u"Tue, 5 Jan 99 10:00:00 +0000"_qs << u"1999-01-05T10:00:00Z"_qs;
    QTest::newRow("folded") << u"Fri, 5 Jan 2024\r\n 10:00:00 +0000"_qs << u"2024-01-05T10:00:00Z"_qs;

    QTest::newRow("garbage") << u"not a date at all"_qs << QString();
    QTest::newRow("31 February") << u"31 Feb 2024 10:00 +0000"_qs << QString();
    QTest::newRow("hour out of range") << u"Tue, 6 Dec 2022 25:61:00 +0000"_qs << QString();
    QTest::newRow("empty") << QString() << QString();
}

void TestMessageDate::parse()
{
    QFETCH(QString, raw);
    QFETCH(QString, utc);
    const QDateTime parsed = parseMessageDate(raw);
    QCOMPARE(parsed.isValid() ? parsed.toUTC().toString(Qt::ISODate) : QString(), utc);
}

QTEST_GUILESS_MAIN(TestMessageDate)
#include "tst_messagedate.moc"
