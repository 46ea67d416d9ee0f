// What start-up makes of a damaged rule database: the rules the damaged file
// still holds in full are never traded for an older backup.
#include "DamagedDatabase.h"
#include "DatabaseRecovery.h"
#include "DeletionHistory.h"
#include "RuleDatabase.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QStringList rules(int from, int count)
{
    QStringList list;
    for (int i = from; i < from + count; ++i)
        list << u"sender%1@spam.example"_s.arg(i);
    return list;
}

} // namespace

class TestDatabaseRecovery : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A backup with the older 100 rules; the database since has 300.
    void damagedDatabase_data()
    {
        QTest::addColumn<QByteArray>("table");
        QTest::addColumn<bool>("rebuilt");
        QTest::newRow("history damaged: rebuilt from its rules") << QByteArray("tbdeleted") << true;
        QTest::newRow("filter index damaged: rebuilt") << QByteArray("tbfilter_email") << true;
        QTest::newRow("filter list damaged: backup offered") << QByteArray("tbfilter") << false;
    }
    void damagedDatabase()
    {
        QFETCH(QByteArray, table);
        QFETCH(bool, rebuilt);
        testsupport::TempHome home;
        const QString folder = home.appDataFolder();
        QVERIFY(testsupport::makeRuleDatabase(folder, rules(0, 100), {u"boss@work.example"_s}));
        QVERIFY(QFile::copy(folder + u"/trelvik.mdb"_s, folder + u"/backup.mdb"_s));
        {
            RuleDatabase db(folder);
            QVERIFY(db.OpenRuleDatabase() && db.InsertRules(u"tbfilter"_s, rules(100, 200)));
        }
        QVERIFY(testsupport::damageTable(folder, table.constData()));
        const QByteArray damaged = contents(folder + u"/trelvik.mdb"_s);
        const QByteArray backup = contents(folder + u"/backup.mdb"_s);

        testsupport::MessageBoxRecorder boxes;
        RuleDatabase db(folder);
        QCOMPARE(offerDatabaseRecovery(db), rebuilt);
        QCOMPARE(boxes.shown().size(), 1);
        const MessageBox::Request box = boxes.shown().first();
        QCOMPARE(contents(folder + u"/backup.mdb"_s), backup);
        const QStringList kept = QDir(folder).entryList({u"trelvik.mdb.damaged-*"_s}, QDir::Files);
        if (rebuilt) {
            QCOMPARE(box.icon, MessageBox::Icon::Information);
            QVERIFY2(box.text.contains(u"300 filter and 1 exempted rules"_s), qPrintable(box.text));
            QCOMPARE(kept.size(), 1);
            QVERIFY2(box.text.contains(kept.first()), qPrintable(box.text));
            QCOMPARE(contents(folder + u'/' + kept.first()), damaged);
            QCOMPARE(RuleDatabase::inspect(db.databasePath()).state, RuleDatabase::FileHealth::State::Sound);
            QVERIFY(db.OpenRuleDatabase());
            QStringList filter = db.FillRules(u"tbfilter"_s).value_or(QStringList());
            filter.sort();
            QStringList expected = rules(0, 300);
            expected.sort();
            QCOMPARE(filter, expected);
            QCOMPARE(db.FillRules(u"tbexempted"_s).value_or(QStringList()), QStringList{u"boss@work.example"_s});
            // The damaged file's history is lost; the backup's one entry is kept.
            QVERIFY2(box.text.contains(u"the deletion history holds the one entry of the backup"_s),
                     qPrintable(box.text));
            QString error;
            QCOMPARE(DeletionHistory(db).read(&error).value_or(QList<DeletionRecord>{}).size(), 1);
        } else {
            // Offered with both counts, answered No: nothing changes.
            QCOMPARE(box.icon, MessageBox::Icon::Question);
            QVERIFY2(box.text.contains(u"with 100 filter and 1 exempted rules"_s), qPrintable(box.text));
            QVERIFY2(box.text.contains(u"Not all of its rules can be read"_s)
                         && box.text.contains(u"and 1 exempted rules could be"_s),
                     qPrintable(box.text));
            QVERIFY(kept.isEmpty());
            QCOMPARE(contents(folder + u"/trelvik.mdb"_s), damaged);
        }
    }
};

QTEST_MAIN(TestDatabaseRecovery)
#include "tst_databaserecovery.moc"
