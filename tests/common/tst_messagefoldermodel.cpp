#include "MessageFolderModel.h"

#include <QLocale>
#include <QPersistentModelIndex>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocumentFragment>

#include <algorithm>
#include <tuple>

namespace {

MessageEntry row(const QString &sender, int number, const QString &size = u"    1K"_qs, const QString &date = {})
{
    MessageEntry e;
    std::tie(e.sender, e.subject, e.date, e.size) = std::tuple(sender, u"s"_qs + QString::number(number), date, size);
    e.number = number;
    return e;
}

// A tool tip as Qt draws it: text that might be markup is drawn as markup.
QString drawnTip(const QVariant &tip)
{
    const QString text = tip.toString();
    return Qt::mightBeRichText(text) ? QTextDocumentFragment::fromHtml(text).toPlainText() : text;
}

QList<int> numbers(const MessageFolderModel &m)
{
    QList<int> out;
    for (int r = 0; r < m.count(); ++r)
        out << m.entry(r).number;
    return out;
}

} // namespace

class TestMessageFolderModel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A locale whose collation puts accented letters beside their base letter.
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void sortOrder_data();
    void sortOrder();
    void sortIsStable();
    void compactDate_data();
    void compactDate();
    void shownDecodedRawKept();
    void rowsShareTheirTexts();
    void headerBlockRoundTrip_data();
    void headerBlockRoundTrip();
    void countSignals();
};

void TestMessageFolderModel::sortOrder_data()
{
    // Rows are numbered from 1 in the order appended; the column is sorted
    // twice (no toggle: ascending again) and filled once with sorting on.
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QList<int>>("order");
    QTest::newRow("padded sizes by size, unreadable last")
        << int(MessageFolderModel::Size)
        << QStringList{"  100K", "    9K", "     ?", "   10K", "12345K", "99999K", "    9K"}
        << QList<int>{2, 7, 4, 1, 5, 6, 3};
    // Dates used to sort by their text (Fri before Mon); they sort by time.
    QTest::newRow("dates by time, unreadable last by text") << int(MessageFolderModel::Date)
                                                            << QStringList{"Mon, 1 Jan 2024 10:00:00 +0000",
                                                                           "Fri, 5 Jan 2024 10:00:00 +0000",
                                                                           "garbage b",
                                                                           "1 Jan 2024 09:00:00 -0200",
                                                                           "Fri, 29 Dec 23 23:00 EST",
                                                                           "",
                                                                           "Annoying text",
                                                                           "Mon, 1 Jan 2024 11:00:00 +0100 (CET)"}
                                                            << QList<int>{5, 1, 8, 4, 2, 6, 7, 3};
    // By the decoded names in the locale's order, ignoring case.
    QTest::newRow("senders as shown") << int(MessageFolderModel::Sender)
                                      << QStringList{"=?UTF-8?Q?Zo=C3=AB?= <z@example.com>", "bob <b@example.com>",
                                                     "=?UTF-8?B?w4lsaWU=?= <e@example.com>", "Alice <a@example.com>",
                                                     "=?ISO-8859-1?Q?elie?= <e@example.com>"}
                                      << QList<int>{4, 2, 5, 3, 1};
    // The learning's percent as a number (9 before 10); "": a rule sorted the row.
    QTest::newRow("scores by percent, rows the learning did not judge last")
        << int(MessageFolderModel::Score) << QStringList{"97", "", "9", "10", "", "0"} << QList<int>{6, 3, 4, 1, 2, 5};
}

void TestMessageFolderModel::sortOrder()
{
    QFETCH(int, column);
    QFETCH(QStringList, texts);
    QFETCH(QList<int>, order);
    MessageFolderModel m, placed, batched;
    placed.sort(column);
    batched.sort(column);
    QList<MessageEntry> batch;
    for (int i = 0; i < texts.size(); ++i) {
        MessageEntry e = row(u"a"_qs, i + 1);
        if (column == MessageFolderModel::Score)
            e.sortReason = texts.at(i).isEmpty()
                ? SortReason{SortReason::Kind::Filter, u"*@x.example"_qs}
                : SortReason::learned(SortReason::Verdict::Unsure, texts.at(i).toInt(), {});
        else
            (column == MessageFolderModel::Size       ? e.size
                 : column == MessageFolderModel::Date ? e.date
                                                      : e.sender) = texts.at(i);
        m.append(e);
        placed.append(e);
        batch.append(e);
    }
    batched.appendRows(batch);
    m.sort(column);
    QCOMPARE(numbers(m), order);
    m.sort(column);
    QCOMPARE(numbers(m), order);
    QCOMPARE(numbers(placed), order);
    QCOMPARE(numbers(batched), order);
    if (column == MessageFolderModel::Score) {
        QCOMPARE(m.index(0, column).data().toString(), u"0 %"_qs);
        QCOMPARE(m.index(order.size() - 1, column).data().toString(), QString());
        // A rule now names the lowest: it joins the unjudged rows, ahead of them as it was.
        m.setSortReasons({{0, SortReason{SortReason::Kind::Filter, u"*@y.example"_qs}}});
        QCOMPARE(numbers(m), (QList<int>{3, 4, 1, 6, 2, 5}));
    }
}

void TestMessageFolderModel::sortIsStable()
{
    MessageFolderModel m;
    for (int i = 1; i <= 6; ++i)
        m.append(row(i % 2 ? u"odd"_qs : u"even"_qs, i));
    const QPersistentModelIndex selected(m.index(0, 0)); // "odd", number 1
    m.setSortingEnabled(true); // Sender is the initial sort column
    QCOMPARE(numbers(m), (QList<int>{2, 4, 6, 1, 3, 5}));
    QCOMPARE(selected.row(), 3);
    QCOMPARE(selected.data(MessageFolderModel::NumberRole).toInt(), 1);
    for (int r = 0; r < m.count(); ++r) // the numbers travel with their rows
        QCOMPARE(m.entry(r).subject, QStringLiteral("s") + QString::number(m.entry(r).number));
    // Appended rows go in order, after their equals; unsorted, at the end.
    QCOMPARE(m.append(row(u"EVEN"_qs, 7)), 3);
    QCOMPARE(m.append(row(u"a"_qs, 8)), 0);
    m.setSortingEnabled(false);
    QCOMPARE(m.append(row(u"a"_qs, 9)), 8);
}

void TestMessageFolderModel::compactDate_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QString>("shown");
    const QDateTime afternoon(QDate(2026, 12, 6), QTime(15, 0, 59));
    QTest::newRow("C: short year, no seconds") << QLocale::c() << afternoon << u"6 Dec 26 15:00"_qs;
    QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates) << afternoon << u"12/6/26 3:00 PM"_qs;
    QTest::newRow("en_US, wide day and hour")
        << QLocale(QLocale::English, QLocale::UnitedStates) << QDateTime(QDate(2026, 12, 28), QTime(22, 58))
        << u"12/28/26 10:58 PM"_qs;
    QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany) << afternoon << u"06.12.26 15:00"_qs;
}

void TestMessageFolderModel::compactDate()
{
    QFETCH(QLocale, locale);
    QFETCH(QDateTime, time);
    QTEST(MessageFolderModel::compactDate(time, locale), "shown");
    // The samples the column is sized by are at least as wide as this date.
    const QStringList samples = MessageFolderModel::compactDateSamples(locale);
    QVERIFY(std::any_of(samples.begin(), samples.end(), [&](const QString &s) {
        return s.size() >= MessageFolderModel::compactDate(time, locale).size();
    }));
}

void TestMessageFolderModel::shownDecodedRawKept()
{
    MessageFolderModel m;
    const QString sender = u"=?ISO-8859-1?Q?Andr=E9?= Pirard <andre@example.org>"_qs;
    const QString date = u"Fri, 5 Jan 2024 10:00 -0500"_qs;
    MessageEntry e = row(sender, 1, u"   12K"_qs, date);
    e.subject = u"=?UTF-8?B?R3LDvMOfZSBhdXMgS8O2bG4=?=\r\n =?UTF-8?Q?_und_Bonn?="_qs;
    m.append(e);
    m.append(row(u"Joe <joe@example.com>"_qs, 2, u"    1K"_qs, u" Sometime\r\n soon"_qs));
    QCOMPARE(m.index(0, 0).data().toString(), u"André Pirard <andre@example.org>"_qs);
    QCOMPARE(m.index(0, 1).data().toString(), u"Grüße aus Köln und Bonn"_qs);
    const QDateTime sent(QDate(2024, 1, 5), QTime(15, 0), Qt::UTC);
    QCOMPARE(m.index(0, 2).data().toString(), MessageFolderModel::compactDate(sent.toLocalTime()));
    QCOMPARE(drawnTip(m.index(0, 2).data(Qt::ToolTipRole)),
             QLocale().toString(sent.toLocalTime(), QLocale::LongFormat));
    QCOMPARE(m.index(1, 2).data().toString(), u"Sometime soon"_qs); // unreadable: as sent, on one line
    QVERIFY(!m.index(1, 2).data(Qt::ToolTipRole).isValid());
    // The sender's tooltip is the whole sender, address and all, and as sent when decoded.
    QCOMPARE(drawnTip(m.index(0, 0).data(Qt::ToolTipRole)), u"André Pirard <andre@example.org>\n"_qs + sender);
    QCOMPARE(drawnTip(m.index(1, 0).data(Qt::ToolTipRole)), u"Joe <joe@example.com>"_qs);
    // Markup in a sender is shown as the characters it is, never drawn.
    const QString hostile = u"<b>x</b><img src=\"/etc/hostname\"> <e@x.example>"_qs;
    m.append(row(hostile, 3));
    QCOMPARE(drawnTip(m.index(2, 0).data(Qt::ToolTipRole)), hostile);
    QCOMPARE(m.index(0, 2).data(MessageFolderModel::RawTextRole).toString(), date);
    // What rules and lookups read stays as sent, through a sort and a move.
    m.sort(MessageFolderModel::Subject);
    const MessageEntry taken = m.takeAt(m.entry(0).number == 1 ? 0 : 1);
    QCOMPARE((QStringList{taken.sender, taken.subject, taken.date, taken.size}),
             (QStringList{sender, e.subject, date, u"   12K"_qs}));
}

void TestMessageFolderModel::rowsShareTheirTexts()
{
    // A text shown as sent is the sent one, not a copy; so is a rule's text
    // that each row got read on its own.
    MessageFolderModel m;
    MessageEntry e = row(QString::fromLatin1("Joe <joe@example.com>"), 1); // as read, not a literal
    e.sortReason = {SortReason::Kind::Filter, QString::fromLatin1("*@example.com")};
    m.append(e);
    e.number = 2;
    e.sortReason.rule = QString::fromLatin1("*@example.com");
    m.append(e);
    QVERIFY(m.index(0, 0).data().toString().isSharedWith(m.entry(0).sender));
    QVERIFY(m.entry(1).sortReason.rule.isSharedWith(m.entry(0).sortReason.rule));

    // A list nothing shows does no decoding and no date reading.
    MessageFolderModel plain;
    plain.setDisplayed(false);
    const QString encoded = u"=?UTF-8?Q?Andr=C3=A9?= <a@example.org>"_qs;
    plain.append(row(encoded, 1, u"    1K"_qs, u"Fri, 5 Jan 2024 10:00 -0500"_qs));
    QCOMPARE(plain.index(0, 0).data().toString(), encoded);
    QCOMPARE(plain.index(0, 2).data().toString(), u"Fri, 5 Jan 2024 10:00 -0500"_qs);
}

void TestMessageFolderModel::headerBlockRoundTrip_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::newRow("none") << QByteArray();
    QByteArray bytes;
    for (int b = 0; b < 256; ++b)
        bytes += char(b);
    QTest::newRow("every byte, 8-bit and NUL") << bytes + "\r\n";
    // Noise does not pack: it must come back all the same.
    QByteArray noise(300'000, Qt::Uninitialized);
    quint32 x = 7;
    for (char &c : noise)
        c = char((x = x * 1664525u + 1013904223u) >> 24);
    QTest::newRow("large, incompressible") << noise;
    QTest::newRow("a header")
        << QByteArray(
               "Received: from mx.example.org (mx.example.org [192.0.2.1])\r\n\tby pop.example.net with ESMTPS id "
               "4Xq; Tue, 8 Dec 2026 10:00:00 +0000\r\nFrom: =?UTF-8?B?SsO2cmc=?= <j@example.org>\r\n"
               "Subject: \xe9t\xe9\r\n\r\n")
               .repeated(20);
}

void TestMessageFolderModel::headerBlockRoundTrip()
{
    QFETCH(QByteArray, block);
    MessageEntry e = row(u"a@example.org"_qs, 1);
    e.setHeaderBlock(block);
    MessageFolderModel m;
    m.append(e);
    m.appendRows({e, e});
    const MessageEntry &kept = m.entry(2);
    QCOMPARE(kept.hasHeaderBlock(), !block.isEmpty());
    QCOMPARE(kept.headerBlock(), block);
    // A fetch packs every row with one packer, reset between blocks.
    PackedHeader::Packer packer;
    for (const QByteArray &next : {block, QByteArray("From: b@example.org\r\n\r\n").repeated(80), block})
        QCOMPARE(PackedHeader::unpack(packer.pack(next)), next);
}

void TestMessageFolderModel::countSignals()
{
    MessageFolderModel m;
    QSignalSpy counts(&m, &MessageFolderModel::countChanged);
    m.append(row(u"a"_qs, 1));
    m.append(row(u"b"_qs, 2));
    QCOMPARE(m.takeAt(0).number, 1);
    m.clear();
    m.clear(); // already empty: no signal
    // A batch is told to views once, in order.
    QSignalSpy inserted(&m, &QAbstractItemModel::rowsInserted);
    m.appendRows({row(u"c"_qs, 3), row(u"d"_qs, 4)});
    m.appendRows({});
    QCOMPARE(numbers(m), (QList<int>{3, 4}));
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(inserted.at(0).mid(1), (QVariantList{0, 1}));
    QCOMPARE(QList<QVariantList>(counts), (QList<QVariantList>{{1}, {2}, {1}, {0}, {2}}));
}

QTEST_MAIN(TestMessageFolderModel)
#include "tst_messagefoldermodel.moc"
