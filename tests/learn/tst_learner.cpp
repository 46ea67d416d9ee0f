// A profile's learning kept in the rule database: lessons taught once,
// replaced or taken back, verdicts that never teach, the bound on the
// tables, and resets.
#include "DamagedDatabase.h"
#include "HeaderTokens.h"
#include "Learner.h"
#include "LearningClassifier.h"
#include "LessonTaker.h"
#include "RuleDatabase.h"

#include <QTemporaryDir>
#include <QtTest>
#include <sqlite3.h>

namespace {

QByteArray spam(int i)
{
    return "From: \"Prize Desk\" <win" + QByteArray::number(i) + "@prizes.example>\nSubject: You won a prize "
        + QByteArray::number(i) + "\nMessage-ID: <" + QByteArray::number(i) + "@prizes.example>\n\n";
}

QByteArray ham(int i)
{
    return "From: Ann Colleague <ann@work.example>\nSubject: Minutes of meeting " + QByteArray::number(i)
        + "\nList-Id: <team.work.example>\nMessage-ID: <m" + QByteArray::number(i) + "@work.example>\n\n";
}

QList<Learner::Lesson> basics(int each)
{
    QList<Learner::Lesson> lessons;
    for (int i = 0; i < each; ++i)
        lessons << Learner::Lesson{spam(i), true} << Learner::Lesson{ham(i), false};
    return lessons;
}

} // namespace

class TestLearner : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        m_db.reset(new RuleDatabase(m_dir->path()));
        QVERIFY(m_db->OpenRuleDatabase());
    }

    // A database from before the learning: nothing learned, no verdict,
    // and the lessons survive closing and opening again.
    void learnsAndKeepsItsCounts()
    {
        QString error;
        Learner fresh(*m_db, QStringLiteral("Work"));
        QVERIFY2(fresh.load(&error), qPrintable(error));
        QCOMPARE(fresh.verdict(spam(99)).kind, LearnedVerdict::Kind::None);
        QVERIFY2(fresh.teach(basics(6), &error), qPrintable(error));
        m_db->CloseRuleDatabase();
        QVERIFY(m_db->OpenRuleDatabase());
        Learner again(*m_db, QStringLiteral("Work"));
        QVERIFY(again.load(&error));
        QCOMPARE(again.model().spamMessages(), 6u);
        QCOMPARE(again.verdict(spam(99)).kind, LearnedVerdict::Kind::Spam);
        QCOMPARE(again.verdict(ham(99)).kind, LearnedVerdict::Kind::Good);
        // Another profile's lessons are not these.
        Learner other(*m_db, QStringLiteral("Home"));
        QVERIFY(other.load(&error));
        QCOMPARE(other.model().tokenCount(), 0);
    }

    // A file that learned before the weights: its counts load with no
    // weight, and a lesson of then, which gave the weights no step, is taken
    // back by its counts alone.
    void aFileFromBeforeTheWeightsKeepsItsLessons()
    {
        sqlite3 *db = m_db->connection();
        const char *older =
            "create table tblearn (profile text not null, token integer not null, spam integer not null, "
            "ham integer not null, day integer not null, primary key (profile, token)) without rowid;"
            "create table tblearntotal (profile text primary key, spam integer not null, ham integer not null);"
            "create table tblesson (profile text not null, digest blob not null, spam integer not null, "
            "day integer not null, primary key (profile, digest)) without rowid;"
            "insert into tblearntotal values ('Work', 0, 1)";
        QCOMPARE(sqlite3_exec(db, older, nullptr, nullptr, nullptr), SQLITE_OK);
        const TokenList taught = HeaderTokens::of(ham(1));
        for (const quint64 token : taught.ids()) {
            const QByteArray row = "insert into tblearn values ('Work', " + QByteArray::number(qint64(token))
                + ", 0, 1, 9)";
            QCOMPARE(sqlite3_exec(db, row.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        }
        sqlite3_stmt *lesson = nullptr;
        QCOMPARE(sqlite3_prepare_v2(db, "insert into tblesson values ('Work', ?1, 0, 9)", -1, &lesson, nullptr),
                 SQLITE_OK);
        const QByteArray digest = Learner::digestOf(ham(1));
        sqlite3_bind_blob(lesson, 1, digest.constData(), int(digest.size()), SQLITE_TRANSIENT);
        QCOMPARE(sqlite3_step(lesson), SQLITE_DONE);
        sqlite3_finalize(lesson);

        QString error;
        Learner learner(*m_db, QStringLiteral("Work"));
        QVERIFY2(learner.load(&error), qPrintable(error));
        QCOMPARE(learner.model().hamMessages(), 1u);
        QCOMPARE(learner.model().tokens().value(taught.ids().first()).weight, 0);
        QVERIFY2(learner.teach(spam(1), true, &error), qPrintable(error));
        QVERIFY(learner.store().lesson(Learner::digestOf(spam(1)), &error)->step > 0);
        QVERIFY(learner.forget(ham(1), &error));
        QCOMPARE(learner.model().hamMessages(), 0u);
        for (const quint64 token : taught.ids())
            QCOMPARE(learner.model().tokens().value(token).ham, 0u);
    }

    // Lessons from a server's INBOX ask the rules: rules that cannot be
    // read stop them with the reason, they do not throw.
    void serverLessonsStopOnUnreadableRules()
    {
        QTemporaryDir dir;
        QVERIFY(testsupport::makeRuleDatabase(dir.path(), {QStringLiteral("*@spam.example")}, {}));
        QVERIFY(testsupport::damageTable(dir.path(), "tbfilter"));
        RuleDatabase db(dir.path());
        QVERIFY(db.OpenRuleDatabase());
        LessonTaker taker(db, QStringLiteral("Work"), QStringLiteral("Work"));
        QString error;
        QVERIFY2(taker.load(&error), qPrintable(error));
        QVERIFY(!taker.take({ham(1)}, false, &error));
        QVERIFY2(error.contains(QLatin1String("could not be read")), qPrintable(error));
        QCOMPARE(taker.counts().good, 0);
    }

    void verdictsNeverTeach()
    {
        QString error;
        Learner learner(*m_db, QStringLiteral("Work"));
        QVERIFY(learner.load(&error));
        QVERIFY(learner.teach(basics(6), &error));
        const auto before = learner.model().tokens();
        for (int i = 0; i < 20; ++i)
            QCOMPARE(learner.verdict(spam(100 + i)).kind, LearnedVerdict::Kind::Spam);
        QCOMPARE(learner.model().tokens(), before);
        Learner reloaded(*m_db, QStringLiteral("Work"));
        QVERIFY(reloaded.load(&error));
        QCOMPARE(reloaded.model().tokens(), before);
    }

    // The same lesson twice counts once; the opposite one replaces it; a
    // message moved back is unlearned, to the counts from before it.
    void lessonsReplaceAndAreTakenBack()
    {
        QString error;
        Learner learner(*m_db, QStringLiteral("Work"));
        QVERIFY(learner.load(&error));
        QVERIFY(learner.teach(basics(6), &error));
        const auto before = learner.model().tokens();
        const QByteArray message = "+OK\r\nFrom: Ann Colleague <ann@work.example>\r\nSubject: Lunch?\r\n\r\n";
        QVERIFY(learner.teach(message, true, &error));
        QVERIFY(learner.teach(message, true, &error));
        QCOMPARE(learner.model().spamMessages(), 7u);
        QVERIFY(learner.teach(message, false, &error)); // the user moved it back to the Inbox
        QCOMPARE(learner.model().spamMessages(), 6u);
        QCOMPARE(learner.model().hamMessages(), 7u);
        QVERIFY(learner.forget(message, &error));
        QVERIFY(learner.forget(message, &error)); // nothing left to forget
        QCOMPARE(learner.model().hamMessages(), 6u);
        QCOMPARE(learner.model().tokens(), before);
        Learner reloaded(*m_db, QStringLiteral("Work"));
        QVERIFY(reloaded.load(&error));
        QCOMPARE(reloaded.model().tokens(), before);
    }

    // A message the user moves to the Recycle Bin and back again leaves the
    // counts as they were; a move against the learned verdict teaches.
    void aMessageMovedBackIsUnlearned()
    {
        QString error;
        Learner learner(*m_db, QStringLiteral("Work"));
        QVERIFY(learner.load(&error));
        QVERIFY(learner.teach(basics(6), &error));
        const auto before = learner.model().tokens();
        const QByteArray message = ham(50);
        QVERIFY(learner.moved({{message, true}}, &error));
        QCOMPARE(learner.model().spamMessages(), 7u);
        QVERIFY(learner.moved({{message, false}}, &error));
        QCOMPARE(learner.model().spamMessages(), 6u);
        QCOMPARE(learner.model().hamMessages(), 6u);
        QCOMPARE(learner.model().tokens(), before);
        QVERIFY(!learner.store().lesson(Learner::digestOf(message), &error).has_value());
        // A server that writes Status into a message as it serves it changes
        // neither the lesson's digest nor the tokens taken back.
        QVERIFY(learner.moved({{"Status: RO\nX-UIDL: 77af\n" + ham(51), true}}, &error));
        QVERIFY(learner.moved({{ham(51), false}}, &error));
        QCOMPARE(learner.model().tokens(), before);
        QVERIFY(learner.moved({{spam(50), false}}, &error)); // out of the Recycle Bin the verdict chose
        QCOMPARE(learner.model().hamMessages(), 7u);
    }

    // The rules keep the last word; the learning speaks only where no rule
    // does, and a profile that learned nothing sorts as the rules alone.
    void rulesStillWin_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<bool>("learned");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("toRecycleBin");
        using K = SortReason::Kind;
        const QByteArray exempted = "From: Prize Desk <boss@prizes.example>\nSubject: You won a prize\n\n";
        const QByteArray filtered = "From: Ann Colleague <ann@work.example>\nSubject: Minutes of meeting\n"
                                    "List-Id: <team.work.example>\nX-Bad: yes\n\n";
        QTest::newRow("exempted spam-like message stays") << exempted << true << int(K::Exempted) << false;
        QTest::newRow("filtered good-looking message goes") << filtered << true << int(K::Filter) << true;
        QTest::newRow("no rule: learned spam") << spam(70) << true << int(K::Learned) << true;
        QTest::newRow("no rule: learned good") << ham(70) << true << int(K::Learned) << false;
        QTest::newRow("nothing learned: as today") << spam(70) << false << int(K::NoRule) << false;
    }
    void rulesStillWin()
    {
        QFETCH(QByteArray, header);
        QFETCH(bool, learned);
        QFETCH(int, kind);
        QFETCH(bool, toRecycleBin);
        QVERIFY(m_db->InsertRule(QStringLiteral("tbexempted"), QStringLiteral("boss@prizes.example")));
        QVERIFY(m_db->InsertRule(QStringLiteral("tbfilter"), QStringLiteral("X-Bad: *yes*")));
        QString error;
        Learner learner(*m_db, QStringLiteral("Work"));
        QVERIFY(learner.load(&error));
        if (learned)
            QVERIFY(learner.teach(basics(6), &error));
        const auto before = learner.model().tokens();
        const MessageClassifier classify = LearningClassifier::lazy(*m_db, QStringLiteral("Work"));
        const QString sender = QString::fromUtf8(header.mid(6, header.indexOf('\n') - 6));
        const SortReason reason = classify(sender, header, -1);
        QCOMPARE(int(reason.kind), kind);
        QCOMPARE(reason.sendsToRecycleBin(), toRecycleBin);
        if (reason.kind == SortReason::Kind::Learned) {
            QVERIFY2(reason.text().startsWith(QStringLiteral("Learned: %1 % like your spam").arg(reason.percent)),
                     qPrintable(reason.text()));
            QVERIFY(!reason.reasons.isEmpty() && reason.reasons.size() <= 3);
        }
        Learner reloaded(*m_db, QStringLiteral("Work")); // classifying taught nothing
        QVERIFY(reloaded.load(&error));
        QCOMPARE(reloaded.model().tokens(), before);
    }

    // Past the bound the rarest, oldest tokens go, in the file and in memory.
    void tokensStayBounded()
    {
        QString error;
        Learner learner(*m_db, QStringLiteral("Work"));
        learner.store().setBounds(60, 40, 5);
        QVERIFY(learner.load(&error));
        QVERIFY2(learner.teach(basics(12), &error), qPrintable(error));
        QVERIFY(learner.model().tokenCount() <= 60);
        QVERIFY(learner.model().tokenCount() >= 40);
        // The common tokens stay: the verdicts still stand.
        QCOMPARE(learner.verdict(spam(99)).kind, LearnedVerdict::Kind::Spam);
        Learner reloaded(*m_db, QStringLiteral("Work"));
        QVERIFY(reloaded.load(&error));
        QCOMPARE(reloaded.model().tokens(), learner.model().tokens());
        // Only the newest lessons are remembered as lessons.
        int remembered = 0;
        for (int i = 0; i < 12; ++i)
            remembered += learner.store().lesson(Learner::digestOf(spam(i)), &error).has_value();
        QVERIFY(remembered <= 5);
    }

    // Past the bound the oldest lesson records go, never those of the
    // teaching that passed it: taught again, those change nothing.
    void lessonRecordsKeepTheNewest()
    {
        QString error;
        Learner learner(*m_db, QStringLiteral("Work"));
        learner.store().setBounds(100000, 80000, 4);
        QVERIFY(learner.load(&error));
        const auto lessons = [](int from, int to) {
            QList<Learner::Lesson> list;
            for (int i = from; i < to; ++i)
                list.append({spam(i), true});
            return list;
        };
        QVERIFY2(learner.teach(lessons(0, 4), &error), qPrintable(error));
        QVERIFY2(learner.teach(lessons(4, 8), &error), qPrintable(error));
        QVERIFY(learner.teach(lessons(4, 8), &error));
        QCOMPARE(learner.model().spamMessages(), 8u);
        // The first four were forgotten as records: they alone teach again.
        QVERIFY(learner.teach(lessons(0, 8), &error));
        QCOMPARE(learner.model().spamMessages(), 12u);

        // A lesson given again is dated anew (the Inbox taught at every
        // Empty, for months): the trim takes the others, and nothing counts
        // twice.
        Learner home(*m_db, QStringLiteral("Home"));
        home.store().setBounds(100000, 80000, 4);
        QVERIFY(home.load(&error) && home.teach(lessons(0, 4), &error));
        const qint32 monthsAgo = qint32(QDateTime::currentSecsSinceEpoch() / 86400) - 100;
        for (const Learner::Lesson &old : lessons(0, 4))
            QVERIFY(home.store().setLesson(Learner::digestOf(old.header), {true, 0}, monthsAgo, &error));
        QVERIFY(home.teach(lessons(0, 2), &error));
        QVERIFY(home.teach(lessons(4, 6), &error));
        QVERIFY(home.teach(lessons(0, 2), &error));
        QCOMPARE(home.model().spamMessages(), 6u);
    }

    void resetPerProfileAndForAll()
    {
        QString error;
        Learner work(*m_db, QStringLiteral("Work"));
        Learner home(*m_db, QStringLiteral("Home"));
        QVERIFY(work.load(&error) && home.load(&error));
        QVERIFY(work.teach(basics(6), &error));
        QVERIFY(home.teach(basics(6), &error));
        QVERIFY(work.store().reset(&error));
        QVERIFY(work.load(&error) && home.load(&error));
        QCOMPARE(work.model().tokenCount(), 0);
        QCOMPARE(work.verdict(spam(1)).kind, LearnedVerdict::Kind::None);
        QCOMPARE(home.verdict(spam(1)).kind, LearnedVerdict::Kind::Spam);
        QVERIFY(LearnStore::resetAll(*m_db, &error));
        QVERIFY(home.load(&error));
        QCOMPARE(home.model().tokenCount(), 0);
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<RuleDatabase> m_db;
};

QTEST_GUILESS_MAIN(TestLearner)
#include "tst_learner.moc"
