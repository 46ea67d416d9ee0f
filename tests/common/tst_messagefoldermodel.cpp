#include "MessageFolderModel.h"

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
    void appendKeepsOrderWhileSortingIsOff();
    void paddedSizesSortInNumericOrderEveryTime();
    void dateSortsByTextNotTime();
    void sortIsStableAndNumbersTravel();
    void appendWithSortingOnPlacesTheRow();
    void persistentSelectionFollowsSort();
    void displayAndRoles();
    void removeAndClearSignalCounts();
};

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
    m.append(row(QStringLiteral("z"), QStringLiteral("   10K"), 3));
    m.sort(MessageFolderModel::Size);
    QCOMPARE(numbers(m), (QList<int>{2, 3, 1}));
    m.sort(MessageFolderModel::Size); // no toggle: ascending again
    QCOMPARE(numbers(m), (QList<int>{2, 3, 1}));
    QCOMPARE(m.sortColumn(), int(MessageFolderModel::Size));
}

void TestMessageFolderModel::dateSortsByTextNotTime()
{
    MessageFolderModel m;
    m.append(row(QStringLiteral("a"), QStringLiteral("    1K"), 1, QStringLiteral("Mon, 1 Jan 2024 10:00:00 +0000")));
    m.append(row(QStringLiteral("b"), QStringLiteral("    1K"), 2, QStringLiteral("Fri, 5 Jan 2024 10:00:00 +0000")));
    m.sort(MessageFolderModel::Date);
    QCOMPARE(numbers(m), (QList<int>{2, 1}));
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
