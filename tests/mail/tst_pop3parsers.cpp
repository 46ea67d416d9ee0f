#include "HeaderScan.h"
#include "Pop3Listing.h"
#include "Pop3Parsers.h"
#include "HeaderFields.h"

#include <QTest>

class TestPop3Parsers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void replyWord_data();
    void replyWord();
    void headerValue_data();
    void headerValue();
    void shownFields_data();
    void shownFields();
    void listing_data();
    void listing();
    void listedSize_data();
    void listedSize();
};

void TestPop3Parsers::replyWord_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("word");

    const QString stat = QStringLiteral("+OK 3 4567\r\n");
    QTest::newRow("status word") << stat << 1 << "+OK";
    QTest::newRow("last word ends at CR LF") << stat << 3 << "4567";
    QTest::newRow("past the last word") << stat << 4 << "";
    QTest::newRow("two spaces enclose an empty word") << "+OK  5\r\n" << 2 << "";
    QTest::newRow("no line end") << "+OK 1 200" << 3 << "200";
    QTest::newRow("CR LF ends a word only when no space follows") << "+OK 1\r\nmore text" << 2 << "1\r\nmore";
}

void TestPop3Parsers::replyWord()
{
    QFETCH(QString, reply);
    QFETCH(int, n);
    QFETCH(QString, word);
    QCOMPARE(GetReplyWord(reply, n), word);
}

void TestPop3Parsers::headerValue_data()
{
    QTest::addColumn<QString>("headers");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");

    const QString ok = QStringLiteral("+OK top follows\r\n");
    QTest::newRow("X- prefix gives the priority") << ok + "X-Priority: 3\r\n"
                                                  << "Priority:"
                                                  << "3";
    QTest::newRow("status line is no header") << "+OK From: liar@x.example\r\nFrom: real@y.example\r\n"
                                              << "From:"
                                              << "real@y.example";
    QTest::newRow("DKIM h= list is not a From line") << ok
            + "DKIM-Signature: v=1; a=rsa-sha256; d=news.example;\r\n"
              "\th=from:to:subject:date; bh=abc=\r\nFrom: Shop <deals@news.example>\r\n"
                                                     << "From:"
                                                     << "Shop <deals@news.example>";
    QTest::newRow("Resent-From is not From") << ok + "Resent-From: relay@list.example\r\nFrom: author@home.example\r\n"
                                             << "From:"
                                             << "author@home.example";
    QTest::newRow("X-Original-From is not From")
        << ok + "X-Original-From: orig@old.example\r\nFrom: new@list.example\r\n"
        << "From:"
        << "new@list.example";
    QTest::newRow("folded From is unfolded")
        << ok + "From: \"A very long display name\"\r\n <long@name.example>\r\nTo: x@y.example\r\n"
        << "From:"
        << "\"A very long display name\" <long@name.example>";
    QTest::newRow("no such header") << ok + "To: a@b.example\r\n\r\n"
                                    << "From:"
                                    << "";
    QTest::newRow("X-From above From is not the sender")
        << ok + "X-From: boss@work.example\r\nFrom: win@spam.example\r\n"
        << "From:"
        << "win@spam.example";
    QTest::newRow("X-Subject is not the subject") << ok + "X-Subject: quiet\r\nSubject: loud\r\n"
                                                  << "Subject:"
                                                  << "loud";
    QTest::newRow("From-Address is not From") << ok + "From-Address: boss@work.example\r\nFrom: win@spam.example\r\n"
                                              << "From:"
                                              << "win@spam.example";
    QTest::newRow("blank before the colon") << ok + "Subject : Hello\r\n"
                                            << "Subject:"
                                            << "Hello";
    QTest::newRow("tab before the colon, upper case") << ok + "FROM\t: a@b.example\r\n"
                                                      << "From:"
                                                      << "a@b.example";
    // The session hands bytes over one character each: "é" as UTF-8 is two.
    QTest::newRow("raw UTF-8 read as UTF-8") << ok + QString::fromLatin1("Subject: Vous avez gagn\xc3\xa9\r\n")
                                             << "Subject:" << QString::fromUtf8("Vous avez gagn\xc3\xa9");
    QTest::newRow("raw UTF-8 address") << ok
            + QString::fromLatin1("From: Info <info@b\xc3\xbc"
                                  "cher.example>\r\n")
                                       << "From:"
                                       << QString::fromUtf8("Info <info@b\xc3\xbc"
                                                            "cher.example>");
    QTest::newRow("Latin-1 stays Latin-1") << ok + QString::fromLatin1("Subject: Vous avez gagn\xe9\r\n")
                                           << "Subject:" << QString::fromLatin1("Vous avez gagn\xe9");
    const QString envelope = QStringLiteral("From : MAILER-DAEMON Fri Apr 06 10:00:00 2018\r\n");
    QTest::newRow("mangled mbox From line above the real From") << ok + envelope + "From: Anna <anna@x.example>\r\n"
                                                                << "From:"
                                                                << "Anna <anna@x.example>";
    QTest::newRow("mangled mbox From line, no real From") << ok + envelope + "Subject: hi\r\n"
                                                          << "From:"
                                                          << "";
    QTest::newRow("mangled mbox From line with its colon kept")
        << ok + "From : : MAILER-DAEMON Fri Apr  6 10:00:00 2018\r\nTo: a@b.example\r\n"
        << "From:"
        << "";
    QTest::newRow("blank before the colon yields to a plain line") << ok + "Subject : first\r\nSubject: second\r\n"
                                                                   << "Subject:"
                                                                   << "second";
    QTest::newRow("broken UTF-8 read as Latin-1")
        << ok + QString::fromLatin1("Subject: caf\xc3\r\n") << "Subject:" << QString::fromLatin1("caf\xc3");
}

void TestPop3Parsers::headerValue()
{
    QFETCH(QString, headers);
    QFETCH(QString, name);
    QFETCH(QString, value);
    QCOMPARE(GetHeaderValue(headers, name), value);
    // Asked beside other names, in one pass, the same value.
    const QStringList several = GetHeaderValues(headers, {QStringLiteral("To:"), name, QStringLiteral("Subject:")});
    QCOMPARE(several.size(), 3);
    QCOMPARE(several.at(1), value);
}

void TestPop3Parsers::shownFields_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("shown"); // From, Subject, Date, Priority

    QTest::newRow("all four, X-Priority for Priority")
        << QByteArray("+OK\r\nFrom: a@b.example\r\nSubject: hi\r\nDate: Mon, 7 Dec 2026\r\nX-Priority: 1\r\n\r\n.\r\n")
        << QStringList{"a@b.example", "hi", "Mon, 7 Dec 2026", "1"};
    QTest::newRow("no status line, no blank line, no last CR LF")
        << QByteArray("Subject: s\r\nFrom: f") << QStringList{"f", "s", "", ""};
    QTest::newRow("refused") << QByteArray("-ERR From: no\r\n") << QStringList{"", "", "", ""};
    QTest::newRow("empty") << QByteArray() << QStringList{"", "", "", ""};
    QTest::newRow("status line only") << QByteArray("+OK") << QStringList{"", "", "", ""};
    QTest::newRow("a bare LF or CR stays in its line")
        << QByteArray("+OK\r\nSubject: a\nFrom: b\r\nDate: c\rFrom: d\r\n")
        << QStringList{"", "a\nFrom: b", "c\rFrom: d", ""};
    QTest::newRow("folded first line is no field")
        << QByteArray("+OK\r\n Subject: folded\r\nSubject: real\r\n") << QStringList{"", "real", "", ""};
    QTest::newRow("duplicates: the first counts, X-Priority too")
        << QByteArray("+OK\r\nFrom: one\r\nfrom: two\r\nX-Priority: 1\r\nPriority: 5\r\n")
        << QStringList{"one", "", "", "1"};
    QTest::newRow("fields after the blank line are the body")
        << QByteArray("+OK\r\nFrom: a\r\n\r\nSubject: body\r\n.\r\n") << QStringList{"a", "", "", ""};
    QTest::newRow("obsolete blanks, folds with tabs, spaces trimmed")
        << QByteArray("+OK\r\nSUBJECT \t:  Hello\r\n\tWorld  \r\n  again \r\nDate:\r\n \r\n")
        << QStringList{"", "Hello\tWorld    again", "", ""};
    QTest::newRow("other fields that start alike")
        << QByteArray("+OK\r\nX-From: x\r\nFromage: no\r\nX-X-Priority: 9\r\nX-Subject: q\r\nX:\r\nX-\r\nF\r\n")
        << QStringList{"", "", "", ""};
    QTest::newRow("8-bit: UTF-8 as UTF-8, others a character a byte")
        << QByteArray("+OK\r\nFrom: M\xc3\xbcller <m@b\xc3\xbc"
                      "cher.example>\r\nSubject: caf\xe9\r\nDate: \xc3\r\n")
        << QStringList{QString::fromUtf8("M\xc3\xbcller <m@b\xc3\xbc"
                                         "cher.example>"),
                       QString::fromLatin1("caf\xe9"), QString::fromLatin1("\xc3"), ""};
    QTest::newRow("mangled mbox From line is no sender")
        << QByteArray("+OK\r\nFrom : MAILER-DAEMON Fri Apr 06 10:00:00 2018\r\nSubject : s\r\nFrom : a@b.example\r\n"
                      "Subject: t\r\n")
        << QStringList{"a@b.example", "t", "", ""};
    QTest::newRow("8-bit only in a continuation line") << QByteArray("+OK\r\nSubject: gagn\r\n \xc3\xa9\r\n")
                                                       << QStringList{"", QString::fromUtf8("gagn \xc3\xa9"), "", ""};
}

// The byte scan gives what GetHeaderValues gives for the reply read a
// character a byte.
void TestPop3Parsers::shownFields()
{
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, shown);
    const HeaderScan::ShownFields fields = HeaderScan::shownFields(reply);
    QCOMPARE((QStringList{fields.from, fields.subject, fields.date, fields.priority}), shown);
    const QStringList names{"From:", "Subject:", "Date:", "Priority:"};
    QCOMPARE(GetHeaderValues(QString::fromLatin1(reply), names), shown);
}

void TestPop3Parsers::listing_data()
{
    // A UIDL or LIST reply as pairs "number=word;..."; "none" when it is no listing.
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("pairs");
    QTest::newRow("in order") << "+OK 2 messages\r\n1 abc\r\n2 4200\r\n.\r\n"
                              << "1=abc;2=4200";
    QTest::newRow("refused") << "-ERR no\r\n1 abc\r\n.\r\n"
                             << "none";
    QTest::newRow("lines without a number or a word are skipped")
        << "+OK\r\nfoo bar\r\n0 zero\r\n3\r\n-4 neg\r\n 6 lead\r\n5 ok\r\n\r\n.\r\n"
        << "5=ok";
    QTest::newRow("a number past 32 bits, words after the second") << "+OK\r\n4294967296 big\r\n7 x y\r\n.\r\n"
                                                                   << "7=x";
    QTest::newRow("two spaces enclose an empty word") << "+OK\r\n1  a\r\n2 b\r\n.\r\n"
                                                      << "2=b";
    QTest::newRow("nothing after the closing dot") << "+OK\r\n1 a\r\n.\r\n2 b\r\n"
                                                   << "1=a";
    QTest::newRow("dot-stuffed line") << "+OK\r\n..9 x\r\n8 .y\r\n.\r\n"
                                      << "8=.y";
    QTest::newRow("no closing dot") << "+OK\r\n1 a\r\n2 b"
                                    << "1=a;2=b";
    QTest::newRow("empty") << "+OK\r\n.\r\n"
                           << "";
}

void TestPop3Parsers::listing()
{
    QFETCH(QString, reply);
    QFETCH(QString, pairs);
    const auto parsed = ParseNumberedListing(reply);
    QStringList got;
    for (const auto &[number, word] : parsed.value_or(QList<QPair<qint32, QString>>{}))
        got << QString::number(number) + u'=' + word;
    QCOMPARE(parsed ? got.join(u';') : QStringLiteral("none"), pairs);
}

// A size the server did not list is not known (-1), never 0 bytes: a size
// rule then matches nothing.
void TestPop3Parsers::listedSize_data()
{
    QTest::addColumn<QString>("word"); // the size in "n size"
    QTest::addColumn<qint64>("bytes");
    QTest::newRow("plain") << "4200" << qint64(4200);
    QTest::newRow("zero") << "0" << qint64(0);
    QTest::newRow("largest") << "9223372036854775807" << qint64(9223372036854775807);
    QTest::newRow("none") << "" << qint64(-1);
    QTest::newRow("letters") << "abc" << qint64(-1);
    QTest::newRow("digits then letters") << "12k" << qint64(-1);
    QTest::newRow("negative") << "-5" << qint64(-1);
    QTest::newRow("plus sign") << "+5" << qint64(-1);
    QTest::newRow("past 64 bits") << "99999999999999999999" << qint64(-1);
    QTest::newRow("one past the largest") << "9223372036854775808" << qint64(-1);
    QTest::newRow("non-ASCII digits") << QString::fromUtf8("\xd9\xa4\xd9\xa2") << qint64(-1);
}

void TestPop3Parsers::listedSize()
{
    QFETCH(QString, word);
    QFETCH(qint64, bytes);
    // As a LIST n reply, and as a line of the whole listing.
    QCOMPARE(ListReplySize(QStringLiteral("+OK 3 ") + word + QStringLiteral("\r\n")), bytes);
    MailboxListing listing = pop3Listing(std::nullopt, Pop3Pairs{{1, QStringLiteral("10")}, {3, word}}, 2);
    takeListedSizes(listing, Pop3Pairs{{1, QStringLiteral("10")}, {3, word}});
    QCOMPARE(listing.messages.size(), 2);
    QCOMPARE(listing.messages.at(1).bytes, bytes);
    // A reply that lists no size, or refuses, gives none either.
    QCOMPARE(ListReplySize(QStringLiteral("+OK 3\r\n")), qint64(-1));
    QCOMPARE(ListReplySize(QStringLiteral("-ERR ") + word + QStringLiteral("\r\n")), qint64(-1));
}

QTEST_APPLESS_MAIN(TestPop3Parsers)
#include "tst_pop3parsers.moc"
