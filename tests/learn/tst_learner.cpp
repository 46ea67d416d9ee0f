// A profile's learning kept in the rule database: lessons taught once,
// replaced or taken back, verdicts that never teach, the bound on the
// tables, and resets.
#include "Learner.h"
#include "RuleDatabase.h"

#include <QTemporaryDir>
#include <QtTest>

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
