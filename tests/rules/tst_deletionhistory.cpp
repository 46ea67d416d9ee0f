// The deletion history beside the rules: made on first use in a database
// that predates it, newest first, bounded, and kept by the compaction.
#include "DeletionHistory.h"
#include "RuleDatabase.h"

#include <QTemporaryDir>
#include <sqlite3.h>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

DeletionRecord record(int i)
{
    MessageEntry e;
    e.sender = u"sender%1@x.example"_s.arg(i);
    e.subject = u"it's number %1"_s.arg(i); // an apostrophe travels as a value
    e.size = u"   %1K"_s.arg(i);
    e.bytes = i * 1000;
    e.uid = u"uid-%1"_s.arg(i);
    // Every third was put in the Recycle Bin by hand.
    e.sortReason = i % 3 == 0 ? SortReason{SortReason::Kind::ByHand, {}}
                              : SortReason{SortReason::Kind::Filter, u"*@x.example"_s};
    return DeletionRecord::from(u"Work"_s, e, QDateTime(QDate(2026, 12, 7), QTime(10, 0)).addSecs(i));
}

} // namespace

class TestDeletionHistory : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void recordsReadBackNewestFirstAndSurviveCompaction()
    {
        QTemporaryDir dir;
        RuleDatabase db(dir.path());
        QVERIFY(db.OpenRuleDatabase());
        QVERIFY(db.InsertRule(u"tbfilter"_s, u"*@x.example"_s)); // a database from before the history
        DeletionHistory history(db);
        QString error;
        QCOMPARE(history.read(&error)->size(), 0);
        QVERIFY2(history.record({record(1), record(2)}, &error), qPrintable(error));
        QVERIFY(history.record({record(3)}, &error));
        QVERIFY(history.record({}, &error));

        QVERIFY(db.CompactRuleDatabase());
        const auto records = DeletionHistory(db).read(&error);
        QVERIFY2(records, qPrintable(error));
        QCOMPARE(records->size(), 3);
        const DeletionRecord &newest = records->constFirst();
        QCOMPARE(newest.uid, u"uid-3"_s);
        QCOMPARE(newest.subject, u"it's number 3"_s);
        QCOMPARE(newest.size, u"3K"_s);
        QCOMPARE(newest.bytes, 3000);
        QCOMPARE(newest.profile, u"Work"_s);
        QCOMPARE(newest.rule, u"Moved by hand"_s);
        QCOMPARE(newest.time, record(3).time);
        QCOMPARE(records->constLast().uid, u"uid-1"_s);
        QCOMPARE(records->constLast().rule, u"*@x.example (Filter List)"_s);
    }

    void keepsTheNewestUpToTheLimitAndTheLearningsMoves()
    {
        QTemporaryDir dir;
        RuleDatabase db(dir.path());
        QVERIFY(db.OpenRuleDatabase());
        DeletionHistory history(db);
        // A move the learning made stays, for the lessons from the Junk folder.
        DeletionRecord learnedMove = record(0);
        learnedMove.rule = u"Learned: 99 % like your spam"_s;
        learnedMove.action = u"moved to Junk"_s;
        QList<DeletionRecord> many{learnedMove};
        for (int i = 1; i <= DeletionHistory::kLimit; ++i)
            many.append(record(i));
        QString error;
        QVERIFY2(history.record(many, &error), qPrintable(error));
        QVERIFY(history.record({record(DeletionHistory::kLimit + 1), record(DeletionHistory::kLimit + 2)}, &error));
        const auto records = history.read(&error);
        QCOMPARE(records->size(), DeletionHistory::kLimit + 1);
        QCOMPARE(records->constFirst().uid, u"uid-%1"_s.arg(DeletionHistory::kLimit + 2));
        QCOMPARE(records->at(DeletionHistory::kLimit - 1).uid, u"uid-3"_s);
        QCOMPARE(records->constLast().uid, u"uid-0"_s);
    }

    void pendingEntriesAreSettledOrStayUnconfirmed()
    {
        // A history table from before pending entries, byte sizes and
        // actions: it gains the columns, and what it held counts as a
        // confirmed deletion.
        QTemporaryDir dir;
        RuleDatabase db(dir.path());
        QVERIFY(db.OpenRuleDatabase());
        QCOMPARE(sqlite3_exec(db.connection(),
                              "create table tbdeleted (id integer primary key, deleted_at text not null, profile text, "
                              "sender text, subject text, date text, size text, uid text, rule text);"
                              "insert into tbdeleted (deleted_at, uid) values ('2026-12-01T10:00:00Z', 'old')",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        DeletionHistory history(db);
        QString error;
        DeletionRecord moved = record(2);
        moved.action = u"moved to Junk"_s;
        const auto kept = history.recordPending({record(1), moved}, &error);
        QVERIFY2(kept, qPrintable(error));
        const auto dropped = history.recordPending({record(3)}, &error);
        const auto killed = history.recordPending({record(4)}, &error); // never settled
        QVERIFY(dropped && killed);
        QVERIFY(history.settle(*kept, true, &error));
        QVERIFY(history.settle(*dropped, false, &error));

        const auto records = DeletionHistory(db).read(&error);
        QVERIFY2(records, qPrintable(error));
        QStringList shown;
        for (const DeletionRecord &r : *records)
            shown << (u"%1 %2%3"_s.arg(r.uid).arg(r.bytes).arg(r.unconfirmed ? u" unconfirmed"_s : QString())
                      + (r.action.isEmpty() ? QString() : u" "_s + r.action));
        // The old row has no byte size: unknown, not 0.
        QCOMPARE(shown,
                 (QStringList{u"uid-4 4000 unconfirmed"_s, u"uid-2 2000 moved to Junk"_s, u"uid-1 1000"_s,
                              u"old -1"_s}));
    }

    void pendingEntriesAreSettledByALaterListing()
    {
        // Left by runs that ended before QUIT was answered: gone from the
        // server now (confirmed), still there (never deleted: withdrawn),
        // and those a listing cannot tell (no id, a move, another profile,
        // an entry settled already) untouched.
        QTemporaryDir dir;
        RuleDatabase db(dir.path());
        QVERIFY(db.OpenRuleDatabase());
        DeletionHistory history(db);
        QString error;
        DeletionRecord noId = record(5), moved = record(6), elsewhere = record(7), sameIdElsewhere = record(2);
        noId.uid.clear();
        moved.action = u"moved to Junk"_s;
        elsewhere.profile = sameIdElsewhere.profile = u"Home"_s;
        QVERIFY(history.record({record(8)}, &error));
        QVERIFY2(history.recordPending({record(1), record(2), record(3), noId, moved, elsewhere, sameIdElsewhere},
                                       &error),
                 qPrintable(error));
        // Asked again by a run that ended the same way: as it is still
        // there, neither deletion happened.
        QVERIFY(history.recordPending({record(2)}, &error));
        // uid-2 is listed still, and uid-8 (deleted for certain, and since
        // come back under its old id) too.
        const auto settled = history.settleByListing(u"Work"_s, {u"uid-2"_s, u"uid-8"_s, u"uid-9"_s}, &error);
        QVERIFY2(settled, qPrintable(error));
        QCOMPARE(settled->confirmed, 2);
        QCOMPARE(settled->withdrawn, 2);

        const auto records = DeletionHistory(db).read(&error);
        QVERIFY2(records, qPrintable(error));
        QStringList shown;
        for (const DeletionRecord &r : *records)
            shown << u"%1 %2%3"_s.arg(r.profile, r.uid.isEmpty() ? u"-"_s : r.uid,
                                      r.unconfirmed ? u" unconfirmed"_s : QString());
        QCOMPARE(shown,
                 (QStringList{u"Home uid-2 unconfirmed"_s, u"Home uid-7 unconfirmed"_s, u"Work uid-6 unconfirmed"_s,
                              u"Work - unconfirmed"_s, u"Work uid-3"_s, u"Work uid-1"_s, u"Work uid-8"_s}));
    }

    void closedDatabaseIsAFailureNotAnEmptyHistory()
    {
        QTemporaryDir dir;
        RuleDatabase db(dir.path());
        QString error;
        QVERIFY(!DeletionHistory(db).record({record(1)}, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!DeletionHistory(db).read(&error));
    }
};

QTEST_GUILESS_MAIN(TestDeletionHistory)
#include "tst_deletionhistory.moc"
