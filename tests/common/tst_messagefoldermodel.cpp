#include "MessageFolderModel.h"

#include <QElapsedTimer>
#include <QLocale>
#include <QPersistentModelIndex>
#include <QSignalSpy>
#include <QTest>

namespace {
MessageEntry row(const QString &sender, const QString &size, int number, const QString &date = {})
{
    MessageEntry e;
    e.sender = sender;
    e.subject = QStringLiteral("s") + QString::number(number);
    e.date = date;
    e.size = size;
    e.number = number;
    e.iconKey = QStringLiteral("inbox");
    return e;
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
    void initTestCase();
    void appendKeepsOrderWhileSortingIsOff();
    void paddedSizesSortInNumericOrderEveryTime();
    void datesSortByTimeUnreadableLast();
    void dateShownInTheLocale();
    void textColumnsSortByShownTextInLocaleOrder();
    void decodedTextsShownRawTextsKept();
    void sortIsStableAndNumbersTravel();
    void appendWithSortingOnPlacesTheRow();
    void persistentSelectionFollowsSort();
    void displayAndRoles();
    void removeAndClearSignalCounts();
};

void TestMessageFolderModel::initTestCase()
{
    // A locale whose collation puts accented letters beside their base letter.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestMessageFolderModel::appendKeepsOrderWhileSortingIsOff()
{
    MessageFolderModel m;
    m.append(row(QStringLiteral("c"), QStringLiteral("    1K"), 1));
    m.append(row(QStringLiteral("a"), QStringLiteral("    1K"), 2));
    m.append(row(QStringLiteral("b"), QStringLiteral("    1K"), 3));
    QCOMPARE(numbers(m), (QList<int>{1, 2, 3}));
    m.setSortingEnabled(true); // Sender is the initial sort column
    QCOMPARE(numbers(m), (QList<int>{2, 3, 1}));
}

void TestMessageFolderModel::paddedSizesSortInNumericOrderEveryTime()
{
    MessageFolderModel m;
    m.append(row(QStringLiteral("x"), QStringLiteral("  100K"), 1));
    m.append(row(QStringLiteral("y"), QStringLiteral("    9K"), 2));
    m.append(row(QStringLiteral("w"), QStringLiteral("     ?"), 3));
    m.append(row(QStringLiteral("z"), QStringLiteral("   10K"), 4));
    m.append(row(QStringLiteral("v"), QStringLiteral("12345K"), 5));
    m.append(row(QStringLiteral("u"), QStringLiteral("99999K"), 6));
    m.append(row(QStringLiteral("t"), QStringLiteral("    9K"), 7));
    const QList<int> bySize{2, 7, 4, 1, 5, 6, 3}; // unreadable size last
    m.sort(MessageFolderModel::Size);
    QCOMPARE(numbers(m), bySize);
    m.sort(MessageFolderModel::Size); // no toggle: ascending again
    QCOMPARE(numbers(m), bySize);
    QCOMPARE(m.sortColumn(), int(MessageFolderModel::Size));
}

void TestMessageFolderModel::datesSortByTimeUnreadableLast()
{
    // Dates used to sort by their text (Fri before Mon); they sort by time now.
    const QStringList dates{
        QStringLiteral("Mon, 1 Jan 2024 10:00:00 +0000"),  // 1
        QStringLiteral("Fri, 5 Jan 2024 10:00:00 +0000"),  // 2
        QStringLiteral("garbage b"),                       // 3
        QStringLiteral("1 Jan 2024 09:00:00 -0200"),       // 4: 11:00 UTC
        QStringLiteral("Fri, 29 Dec 23 23:00 EST"),        // 5: 30 Dec, 04:00 UTC
        QString(),                                         // 6
        QStringLiteral("Annoying text"),                   // 7
        QStringLiteral("Mon, 1 Jan 2024 11:00:00 +0100 (CET)"), // 8: the same moment as 1
    };
    MessageFolderModel m;
    for (int i = 0; i < dates.size(); ++i)
        m.append(row(QStringLiteral("a"), QStringLiteral("    1K"), i + 1, dates.at(i)));
    const QList<int> byTime{5, 1, 8, 4, 2, 6, 7, 3};
    m.sort(MessageFolderModel::Date);
    QCOMPARE(numbers(m), byTime);

    // Appending with sorting on places rows by the same order.
    MessageFolderModel placed;
    placed.sort(MessageFolderModel::Date);
    for (int i = 0; i < dates.size(); ++i)
        placed.append(row(QStringLiteral("a"), QStringLiteral("    1K"), i + 1, dates.at(i)));
    QCOMPARE(numbers(placed), byTime);
}

void TestMessageFolderModel::dateShownInTheLocale()
{
    MessageFolderModel m;
    m.append(row(QStringLiteral("a"), QStringLiteral("    1K"), 1, QStringLiteral("Fri, 5 Jan 2024 10:00 -0500")));
    m.append(row(QStringLiteral("b"), QStringLiteral("    1K"), 2, QStringLiteral(" Sometime\r\n soon")));
    const QDateTime sent(QDate(2024, 1, 5), QTime(15, 0), Qt::UTC);
    QCOMPARE(m.index(0, MessageFolderModel::Date).data().toString(),
             QLocale().toString(sent.toLocalTime(), QLocale::ShortFormat));
    QCOMPARE(m.index(0, MessageFolderModel::Date).data(MessageFolderModel::RawTextRole).toString(),
             QStringLiteral("Fri, 5 Jan 2024 10:00 -0500"));
    // An unreadable date is shown as sent, on one line.
    QCOMPARE(m.index(1, MessageFolderModel::Date).data().toString(), QStringLiteral("Sometime soon"));
}

void TestMessageFolderModel::textColumnsSortByShownTextInLocaleOrder()
{
    MessageFolderModel m;
    m.append(row(QStringLiteral("=?UTF-8?Q?Zo=C3=AB?= <z@example.com>"), QStringLiteral("    1K"), 1));
    m.append(row(QStringLiteral("bob <b@example.com>"), QStringLiteral("    1K"), 2));
    m.append(row(QStringLiteral("=?UTF-8?B?w4lsaWU=?= <e@example.com>"), QStringLiteral("    1K"), 3));
    m.append(row(QStringLiteral("Alice <a@example.com>"), QStringLiteral("    1K"), 4));
    m.append(row(QStringLiteral("=?ISO-8859-1?Q?elie?= <e@example.com>"), QStringLiteral("    1K"), 5));
    m.sort(MessageFolderModel::Sender);
    // By the decoded names, ignoring case: Alice, bob, elie, Élie, Zoë.
    QCOMPARE(numbers(m), (QList<int>{4, 2, 5, 3, 1}));
}

void TestMessageFolderModel::decodedTextsShownRawTextsKept()
{
    MessageFolderModel m;
    const QString sender = QStringLiteral("=?ISO-8859-1?Q?Andr=E9?= Pirard <andre@example.org>");
    const QString subject = QStringLiteral("=?UTF-8?B?R3LDvMOfZSBhdXMgS8O2bG4=?=\r\n =?UTF-8?Q?_und_Bonn?=");
    MessageEntry e = row(sender, QStringLiteral("   12K"), 1, QStringLiteral("Mon, 1 Jan 2024 10:00:00 +0000"));
    e.subject = subject;
    e.priority = QStringLiteral("3");
    m.append(e);
    m.append(row(QStringLiteral("Joe <joe@example.com>"), QStringLiteral("    1K"), 2));

    QCOMPARE(m.index(0, 0).data().toString(), QStringLiteral("André Pirard <andre@example.org>"));
    QCOMPARE(m.index(0, 0).data(Qt::AccessibleTextRole).toString(), QStringLiteral("André Pirard <andre@example.org>"));
    QCOMPARE(m.index(0, 1).data().toString(), QStringLiteral("Grüße aus Köln und Bonn"));
    QCOMPARE(m.index(0, 0).data(MessageFolderModel::RawTextRole).toString(), sender);
    QCOMPARE(m.index(0, 1).data(MessageFolderModel::RawTextRole).toString(), subject);
    QCOMPARE(m.index(0, 0).data(Qt::ToolTipRole).toString(), sender);
    QVERIFY(!m.index(1, 0).data(Qt::ToolTipRole).isValid()); // nothing was decoded

    // What rules and lookups read stays as sent, through a sort and a move.
    m.sort(MessageFolderModel::Subject);
    const int decodedRow = m.entry(0).number == 1 ? 0 : 1;
    QCOMPARE(m.entry(decodedRow).sender, sender);
    QCOMPARE(m.entry(decodedRow).subject, subject);
    QCOMPARE(m.entry(decodedRow).date, QStringLiteral("Mon, 1 Jan 2024 10:00:00 +0000"));
    QCOMPARE(m.entry(decodedRow).size, QStringLiteral("   12K"));
    const MessageEntry taken = m.takeAt(decodedRow);
    QCOMPARE(taken.sender, sender);
    QCOMPARE(taken.subject, subject);
    QCOMPARE(taken.priority, QStringLiteral("3"));
}

void TestMessageFolderModel::sortIsStableAndNumbersTravel()
{
    MessageFolderModel m;
    for (int i = 1; i <= 6; ++i)
        m.append(row(i % 2 ? QStringLiteral("odd") : QStringLiteral("even"), QStringLiteral("    1K"), i));
    m.sort(MessageFolderModel::Sender);
    QCOMPARE(numbers(m), (QList<int>{2, 4, 6, 1, 3, 5}));
    for (int r = 0; r < m.count(); ++r)
        QCOMPARE(m.entry(r).subject, QStringLiteral("s") + QString::number(m.entry(r).number));
}

void TestMessageFolderModel::appendWithSortingOnPlacesTheRow()
{
    MessageFolderModel m;
    m.sort(MessageFolderModel::Sender);
    m.append(row(QStringLiteral("b"), QStringLiteral("    1K"), 1));
    m.append(row(QStringLiteral("d"), QStringLiteral("    1K"), 2));
    QCOMPARE(m.append(row(QStringLiteral("C"), QStringLiteral("    1K"), 3)), 1);
    QCOMPARE(m.append(row(QStringLiteral("a"), QStringLiteral("    1K"), 4)), 0);
    QCOMPARE(numbers(m), (QList<int>{4, 1, 3, 2}));
    m.setSortingEnabled(false);
    QCOMPARE(m.append(row(QStringLiteral("a"), QStringLiteral("    1K"), 5)), 4);
}

void TestMessageFolderModel::persistentSelectionFollowsSort()
{
    MessageFolderModel m;
    m.append(row(QStringLiteral("b"), QStringLiteral("    1K"), 1));
    m.append(row(QStringLiteral("a"), QStringLiteral("    1K"), 2));
    QPersistentModelIndex selected(m.index(0, 0)); // "b", number 1
    m.sort(MessageFolderModel::Sender);
    QCOMPARE(selected.row(), 1);
    QCOMPARE(selected.data(MessageFolderModel::NumberRole).toInt(), 1);
}

void TestMessageFolderModel::displayAndRoles()
{
    MessageFolderModel m;
    m.setIconLookup([](const QString &key) {
        QPixmap p(16, 16);
        p.fill(key == QLatin1String("inbox") ? Qt::green : Qt::red);
        return QIcon(p);
    });
    MessageEntry e = row(QStringLiteral("Joe <joe@example.com>"), QStringLiteral("   12K"), 7);
    e.priority = QStringLiteral("3");
    e.uid = QStringLiteral("uid-7");
    m.append(e);
    QCOMPARE(m.columnCount(), 5);
    QCOMPARE(m.headerData(4, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Size"));
    QCOMPARE(m.index(0, 0).data().toString(), QStringLiteral("Joe <joe@example.com>"));
    QCOMPARE(m.index(0, 3).data().toString(), QStringLiteral("3"));
    QCOMPARE(m.index(0, 4).data().toString(), QStringLiteral("   12K"));
    QCOMPARE(m.index(0, 4).data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight, int(Qt::AlignRight));
    QCOMPARE(m.index(0, 0).data(MessageFolderModel::NumberRole).toInt(), 7);
    QCOMPARE(m.index(0, 0).data(MessageFolderModel::UidRole).toString(), QStringLiteral("uid-7"));
    QVERIFY(!m.index(0, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
    QVERIFY(!m.index(0, 1).data(Qt::DecorationRole).isValid());
}

void TestMessageFolderModel::removeAndClearSignalCounts()
{
    MessageFolderModel m;
    QSignalSpy counts(&m, &MessageFolderModel::countChanged);
    m.append(row(QStringLiteral("a"), QStringLiteral("    1K"), 1));
    m.append(row(QStringLiteral("b"), QStringLiteral("    1K"), 2));
    const MessageEntry taken = m.takeAt(0);
    QCOMPARE(taken.number, 1);
    QCOMPARE(numbers(m), (QList<int>{2}));
    m.clear();
    QCOMPARE(m.count(), 0);
    QCOMPARE(counts.size(), 4);
    QCOMPARE(counts.last().first().toInt(), 0);
    m.clear(); // already empty: no signal
    QCOMPARE(counts.size(), 4);
}

QTEST_MAIN(TestMessageFolderModel)
#include "tst_messagefoldermodel.moc"
