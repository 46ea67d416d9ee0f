#include "HeaderDisplay.h"
#include "MessageDate.h"

#include <QTest>

class TestHeaderDisplay : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void decodedText_data();
    void decodedText();
    void parsedDate_data();
    void parsedDate();
};

void TestHeaderDisplay::decodedText_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("shown");
    // Charsets and encodings met in real mail.
    QTest::newRow("utf-8 B") << u"=?UTF-8?B?R3LDvMOfZSBhdXMgS8O2bG4=?="_qs << u"Grüße aus Köln"_qs;
    QTest::newRow("iso-8859-1 Q with underscores") << u"=?ISO-8859-1?Q?Caf=E9_cr=E8me?="_qs << u"Café crème"_qs;
    QTest::newRow("Q: =5F is an underscore, _ a space") << u"=?UTF-8?Q?a_b=5Fc?="_qs << u"a b_c"_qs;
    QTest::newRow("windows-1251") << u"=?windows-1251?B?z/Do4uXyIOzo8A==?="_qs << u"Привет мир"_qs;
    QTest::newRow("koi8-r B") << u"=?KOI8-R?B?896j1A==?="_qs << u"Счёт"_qs;
    QTest::newRow("iso-2022-jp") << u"=?ISO-2022-JP?B?GyRCMnE1RCROJCpDTiRpJDsbKEI=?="_qs << u"会議のお知らせ"_qs;
    QTest::newRow("gb2312 label on gbk text") << u"=?GB2312?B?1uzpRrv5?="_qs << u"朱镕基"_qs;
    QTest::newRow("euc-kr") << u"=?EUC-KR?B?vsiz58fPvLy/5A==?="_qs << u"안녕하세요"_qs;
    QTest::newRow("rfc 2231 language") << u"=?UTF-8*en?Q?hello?="_qs << u"hello"_qs;
    // Joining encoded words.
    QTest::newRow("character split over two words") << u"=?UTF-8?Q?caf=C3?= =?UTF-8?Q?=A9?="_qs << u"café"_qs;
    QTest::newRow("two charsets side by side")
        << u"=?ISO-8859-1?Q?Caf=E9?= =?UTF-8?Q?_cr=C3=A8me?="_qs << u"Café crème"_qs;
    QTest::newRow("space to plain text kept") << u"Re: =?UTF-8?Q?caf=C3=A9?= au lait"_qs << u"Re: café au lait"_qs;
    QTest::newRow("glued to text on both sides") << u"abc=?UTF-8?Q?caf=C3=A9?=def"_qs << u"abccafédef"_qs;
    // Broken and hostile forms, and folding.
    QTest::newRow("unknown charset beside a known one")
        << u"=?x-unknown?Q?a?= =?UTF-8?Q?b?="_qs << u"=?x-unknown?Q?a?= b"_qs;
    QTest::newRow("charset that is a path left as it was")
        << u"=?../../tmp/x?Q?a?= =?UTF-8,version=1?Q?b?="_qs << u"=?../../tmp/x?Q?a?= =?UTF-8,version=1?Q?b?="_qs;
    QTest::newRow("broken base64 decodes what it can") << u"=?UTF-8?B?w6l!!!sw6h2Z?="_qs << u"élèv"_qs;
    QTest::newRow("unterminated word") << u"=?UTF-8?B?w6k"_qs << u"=?UTF-8?B?w6k"_qs;
    // UTF-16 and UTF-32 words are big-endian unless a byte-order mark says otherwise.
    QTest::newRow("UTF-16 without a mark: big-endian") << u"=?UTF-16?B?AEgAaQ==?="_qs << u"Hi"_qs;
    QTest::newRow("UTF-16, little-endian mark") << u"=?utf-16?B?//5IAGkA?="_qs << u"Hi"_qs;
    QTest::newRow("UTF-16, big-endian mark") << u"=?UTF-16?B?/v8ASABp?="_qs << u"Hi"_qs;
    QTest::newRow("UTF-16 words joined, each with its mark")
        << u"=?UTF-16?B?//5IAA==?= =?UTF-16?B?/v8AaQ==?="_qs << u"Hi"_qs;
    QTest::newRow("UTF-32 without a mark: big-endian") << u"=?UTF-32?B?AAAASAAAAGk=?="_qs << u"Hi"_qs;
    QTest::newRow("UTF-16LE named stays little-endian") << u"=?UTF-16LE?B?SABpAA==?="_qs << u"Hi"_qs;
    QTest::newRow("decoded line break shown as a space") << u"=?UTF-8?Q?a=0D=0Ab=00c?="_qs << u"a  b c"_qs;

    QTest::newRow("folded with a tab") << u"part one\r\n\tpart two"_qs << u"part one part two"_qs;
    QTest::newRow("folded encoded words") << u"=?UTF-8?Q?Gr=C3=BC?=\r\n =?UTF-8?Q?=C3=9Fe?="_qs << u"Grüße"_qs;
    QTest::newRow("question marks and equals") << u"a=?b?c 1+1=2?"_qs << u"a=?b?c 1+1=2?"_qs;
}

void TestHeaderDisplay::decodedText()
{
    QFETCH(QString, raw);
    QFETCH(QString, shown);
    QCOMPARE(HeaderDisplay::decodedText(raw), shown);
}

void TestHeaderDisplay::parsedDate_data()
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

void TestHeaderDisplay::parsedDate()
{
    QFETCH(QString, raw);
    QFETCH(QString, utc);
    const QDateTime parsed = parseMessageDate(raw);
    QCOMPARE(parsed.isValid() ? parsed.toUTC().toString(Qt::ISODate) : QString(), utc);
}

QTEST_GUILESS_MAIN(TestHeaderDisplay)
#include "tst_headerdisplay.moc"
