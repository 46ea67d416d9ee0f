// The deletion history's table: message dates shown and sorted as in the
// message lists, and tooltips that show a sender's text, never its markup.
#include "DeletionHistoryModel.h"
#include "MessageFolderModel.h"
#include "frmDeletionHistory.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

class TestDeletionHistoryModel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void datesAndTooltips();
    void unconfirmedDeletionsSaySo();
    void countSaysWhatWasDone_data();
    void countSaysWhatWasDone();
    void tabReachesClose();
};

namespace {
DeletionRecord record(const QString &subject, const QString &date)
{
    DeletionRecord r;
    r.time = QDateTime(QDate(2026, 12, 7), QTime(9, 0), Qt::UTC);
    r.profile = QStringLiteral("Work");
    r.sender = QStringLiteral("<b>Eve</b> <eve@example.com>");
    r.subject = subject;
    r.date = date;
    r.size = QStringLiteral("1K");
    r.rule = QStringLiteral("Moved by hand");
    return r;
}
} // namespace

void TestDeletionHistoryModel::datesAndTooltips()
{
    const QString sunday = QStringLiteral("Sun, 6 Dec 2026 10:01:17 +0100");
    const QString monday = QStringLiteral("Mon, 7 Dec 2026 08:00:00 +0100");
    DeletionHistoryModel model({record(QStringLiteral("later"), monday), record(QStringLiteral("earlier"), sunday),
                                record(QStringLiteral("unread"), QStringLiteral("no date at all"))});
    const auto at = [&](int row, int column) { return model.index(row, column); };
    const int date = DeletionHistoryModel::Date;

    // Shown as compactly as in the lists; the whole header value in the tooltip.
    QCOMPARE(at(0, date).data().toString(),
             MessageFolderModel::compactDate(
                 QDateTime::fromString(QStringLiteral("2026-12-07T08:00:00+01:00"), Qt::ISODate).toLocalTime()));
    QVERIFY(at(0, date).data(Qt::ToolTipRole).toString().contains(monday));
    QCOMPARE(at(2, date).data().toString(), QStringLiteral("no date at all"));

    // Sorted by time, not by the weekday's name; a date that cannot be read goes last.
    const auto sortKey = [&](int row) { return at(row, date).data(DeletionHistoryModel::SortRole).toLongLong(); };
    QVERIFY(sortKey(1) < sortKey(0));
    QVERIFY(sortKey(0) < sortKey(2));

    // A sender's markup is shown as text.
    const QString tip = at(0, DeletionHistoryModel::Sender).data(Qt::ToolTipRole).toString();
    QVERIFY2(tip.contains(QStringLiteral("&lt;b&gt;Eve&lt;/b&gt;")) && !tip.contains(QStringLiteral("<b>")),
             qPrintable(tip));
}

void TestDeletionHistoryModel::unconfirmedDeletionsSaySo()
{
    // Written before the server was asked to carry it out, never confirmed;
    // a move says where to, a plain deletion reads as it always did.
    DeletionRecord pending = record(QStringLiteral("pending"), QString());
    pending.unconfirmed = true;
    DeletionRecord moved = record(QStringLiteral("moved"), QString());
    moved.action = QStringLiteral("moved to Junk");
    DeletionRecord movedPending = moved;
    movedPending.unconfirmed = true;
    DeletionHistoryModel model({record(QStringLiteral("done"), QString()), pending, moved, movedPending});
    const auto shown = [&model](int row) { return model.index(row, DeletionHistoryModel::Deleted).data().toString(); };
    QVERIFY2(!shown(0).contains(QLatin1Char('(')), qPrintable(shown(0)));
    QVERIFY(shown(1).endsWith(QStringLiteral("(deleted, unconfirmed)")));
    QVERIFY(shown(2).endsWith(QStringLiteral(" (moved to Junk)")));
    QVERIFY(shown(3).endsWith(QStringLiteral("(moved to Junk, unconfirmed)")));
}

void TestDeletionHistoryModel::countSaysWhatWasDone_data()
{
    QTest::addColumn<int>("deleted");
    QTest::addColumn<int>("moved");
    QTest::addColumn<QString>("search"); // the dialog's search text
    QTest::addColumn<QString>("count");
    QTest::newRow("one deletion") << 1 << 0 << ""
                                  << "1 deleted message";
    QTest::newRow("deletions") << 23 << 0 << ""
                               << "23 deleted messages";
    QTest::newRow("moves only") << 0 << 23 << ""
                                << "23 moved messages";
    QTest::newRow("both") << 20 << 3 << ""
                          << "23 messages: 20 deleted, 3 moved";
    QTest::newRow("search keeps the moves") << 20 << 3 << "away"
                                            << "3 of 23 moved messages";
}

// An IMAP profile's messages were moved, not deleted: the count says so.
void TestDeletionHistoryModel::countSaysWhatWasDone()
{
    QFETCH(int, deleted);
    QFETCH(int, moved);
    QFETCH(QString, search);
    QList<DeletionRecord> records;
    for (int i = 0; i < deleted + moved; ++i) {
        records << record(i < deleted ? QStringLiteral("gone") : QStringLiteral("moved away"), QString());
        if (i >= deleted)
            records.last().action = QStringLiteral("moved to Junk");
    }
    frmDeletionHistory dialog(records);
    dialog.findChild<QLineEdit *>(QStringLiteral("txtSearch"))->setText(search);
    QTEST(dialog.findChild<QLabel *>(QStringLiteral("lblCount"))->text(), "count");
}

// The keyboard leaves the table: Tab goes on to Close.
void TestDeletionHistoryModel::tabReachesClose()
{
    frmDeletionHistory dialog({record(QStringLiteral("a"), QString()), record(QStringLiteral("b"), QString())});
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    auto *table = dialog.findChild<QTableView *>(QStringLiteral("lsvHistory"));
    table->setFocus();
    table->setCurrentIndex(table->model()->index(0, 0));
    QTRY_VERIFY(table->hasFocus());
    QTest::keyClick(table, Qt::Key_Tab);
    QTRY_COMPARE(QApplication::focusWidget(), dialog.findChild<QPushButton *>(QStringLiteral("cmdClose")));
}

QTEST_MAIN(TestDeletionHistoryModel)
#include "tst_deletionhistorymodel.moc"
