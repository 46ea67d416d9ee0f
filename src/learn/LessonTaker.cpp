#include "LessonTaker.h"

#include "DeletionHistory.h"
#include "HeaderScan.h"

namespace {

QString shownKey(const QString &sender, const QString &subject, const QString &date)
{
    return sender + QChar(0) + subject + QChar(0) + date;
}

} // namespace

LessonTaker::LessonTaker(RuleDatabase &database, const QString &profile, const QString &learning)
    : m_database(database)
    , m_profile(profile)
    , m_learner(database, learning)
    , m_rules(RuleClassifier::lazy(database))
{
}

bool LessonTaker::load(QString *error)
{
    m_counts = {};
    m_movedByVerdict.clear();
    if (!m_learner.load(error))
        return false;
    const std::optional<QList<DeletionRecord>> records = DeletionHistory(m_database).read(error);
    if (!records)
        return false;
    // The history keeps the shown fields, not the header: they name it well
    // enough, and a message wrongly left out only teaches nothing.
    for (const DeletionRecord &record : *records)
        if (record.profile == m_profile && !record.action.isEmpty()
            && record.rule.startsWith(QLatin1String("Learned:")))
            m_movedByVerdict.insert(shownKey(record.sender, record.subject, record.date));
    return true;
}

bool LessonTaker::take(const QList<QByteArray> &headers, bool spam, QString *error)
{
    QList<Learner::Lesson> lessons;
    Counts counts;
    QSet<QByteArray> inBatch;
    for (const QByteArray &header : headers) {
        const QByteArray digest = Learner::digestOf(header);
        if (digest.isEmpty() || inBatch.contains(digest))
            continue;
        inBatch.insert(digest);
        const HeaderScan::ShownFields shown = HeaderScan::shownFields(header);
        if (spam && m_movedByVerdict.contains(shownKey(shown.from, shown.subject, shown.date))) {
            ++counts.ownVerdicts;
            continue;
        }
        // An Inbox not yet screened holds spam the user's rules name; what
        // an exempted rule keeps is good mail, whatever the learning thinks.
        SortReason::Kind ruled = SortReason::Kind::NoRule;
        try {
            if (!spam)
                ruled = m_rules(shown.from, header, -1).kind;
        } catch (const std::exception &e) {
            if (error)
                *error = QString::fromLocal8Bit(e.what());
            return false;
        }
        if (ruled == SortReason::Kind::Filter) {
            ++counts.filtered;
            continue;
        }
        if (!spam && ruled != SortReason::Kind::Exempted
            && m_learner.verdict(header).kind == LearnedVerdict::Kind::Spam) {
            ++counts.judgedSpam;
            continue;
        }
        QString failure;
        const std::optional<LearnStore::Lesson> earlier = m_learner.store().lesson(digest, &failure);
        if (!failure.isEmpty()) {
            if (error)
                *error = failure;
            return false;
        }
        if (earlier && earlier->spam == spam) {
            ++counts.known;
            lessons.append({header, spam}); // teaches nothing, but keeps its record
            continue;
        }
        // The user's own decision stands: a message moved to the Recycle Bin
        // waits in the server's Inbox until the Empty, and where a folder
        // holds it says less than what the user did with it.
        if (earlier) {
            ++counts.decidedOtherwise;
            continue;
        }
        ++(spam ? counts.spam : counts.good);
        lessons.append({header, spam});
    }
    if (!lessons.isEmpty() && !m_learner.teach(lessons, error))
        return false;
    m_counts.spam += counts.spam;
    m_counts.good += counts.good;
    m_counts.known += counts.known;
    m_counts.ownVerdicts += counts.ownVerdicts;
    m_counts.filtered += counts.filtered;
    m_counts.judgedSpam += counts.judgedSpam;
    m_counts.decidedOtherwise += counts.decidedOtherwise;
    return true;
}
