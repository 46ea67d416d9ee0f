// The header digest that confirms a message before its deletion: the same
// for the same message however a server rewrites its own bookkeeping fields,
// different as soon as anything else in the header differs.
#include "HeaderDigest.h"

#include <QCryptographicHash>
#include <QTest>

class TestHeaderDigest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void digest_data();
    void digest();
    void emptyBlockHasNone();
    void digestIsSha256OfTheKeptLines();
};

namespace {
const QByteArray kFetched = "Received: from mx.example\r\n\tby pop.example; Mon, 1 Jun 2026 10:00:00 +0000\r\n"
                            "From: a@x.example\r\nSubject: Hello\r\nDate: Mon, 1 Jun 2026 10:00:00 +0000\r\n\r\n";
}

void TestHeaderDigest::digest_data()
{
    QTest::addColumn<QByteArray>("later"); // the same message's header read at its deletion
    QTest::addColumn<bool>("same");
    QByteArray marked = kFetched;
    marked.insert(marked.indexOf("Subject"), "Status: RO\r\nX-Status: A\r\nX-UID: 17\r\nX-Keywords: \r\n");
    QTest::newRow("mbox server marked it read") << marked << true;
    QTest::newRow("fields named in another case, folded")
        << QByteArray("STATUS: O\r\ncontent-length: 1200\r\n\t 12\r\nLINES: 40\r\nx-uidl: abc\r\n" + kFetched) << true;
    QTest::newRow("LF line ends") << QByteArray(kFetched).replace("\r\n", "\n") << true;
    QTest::newRow("subject changed") << QByteArray(kFetched).replace("Hello", "Hallo") << false;
    QTest::newRow("continuation of a kept field changed")
        << QByteArray(kFetched).replace("by pop.example", "by pop2.example") << false;
    QTest::newRow("a field whose name only starts like a skipped one")
        << QByteArray("Status-Report: yes\r\n" + kFetched) << false;
    QTest::newRow("Lines as a continuation line of a kept field")
        << QByteArray(kFetched).replace("Subject: Hello\r\n", "Subject: Hello\r\n Lines: 3\r\n") << false;
    QTest::newRow("header cut short") << kFetched.left(kFetched.indexOf("Date")) << false;
}

void TestHeaderDigest::digest()
{
    QFETCH(QByteArray, later);
    QFETCH(bool, same);
    QCOMPARE(HeaderDigest::of(later) == HeaderDigest::of(kFetched), same);
}

void TestHeaderDigest::emptyBlockHasNone()
{
    QVERIFY(HeaderDigest::of(QByteArray()).isEmpty());
    QCOMPARE(HeaderDigest::blockOfReply(u"-ERR no such message"), QByteArray());
    QCOMPARE(HeaderDigest::blockOfReply(u"+OK\r\nFrom: a\r\n\r\n.\r\n"), QByteArray("From: a\r\n\r\n"));
    QCOMPARE(HeaderDigest::blockOfReply(QByteArrayView("+OK\r\nFrom: a\r\n\r\n.\r\n")),
             QByteArrayView("From: a\r\n\r\n"));
    QVERIFY(HeaderDigest::blockOfReply(QByteArrayView("+OK no line end")).isEmpty());
    QCOMPARE(HeaderDigest::blockOfReply(u"From: a\r\n\r\n"), QByteArray("From: a\r\n\r\n"));
    QCOMPARE(HeaderDigest::blockOfReply(QByteArrayView("From: a\r\n\r\n")), QByteArrayView("From: a\r\n\r\n"));
}

// Rows keep digests from earlier runs: the digest stays SHA-256 of the kept
// lines, each ended by LF.
void TestHeaderDigest::digestIsSha256OfTheKeptLines()
{
    const QByteArray block = "From: a\r\nStatus: RO\r\nSubject: b\r\n c\nX-UID: 7\r\n\r\n";
    QCOMPARE(HeaderDigest::of(block),
             QCryptographicHash::hash("From: a\nSubject: b\n c\n\n", QCryptographicHash::Sha256));
}

QTEST_GUILESS_MAIN(TestHeaderDigest)
#include "tst_headerdigest.moc"
