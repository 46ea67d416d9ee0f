#include "Learner.h"

#include "HeaderDigest.h"
#include "HeaderTokens.h"

#include <QDateTime>

namespace {

qint32 today()
{
    return qint32(QDateTime::currentSecsSinceEpoch() / 86400);
}

} // namespace

Learner::Learner(RuleDatabase &database, const QString &profile)
    : m_store(database, profile)
{
}

bool Learner::load(QString *error)
{
    std::optional<LearnModel> model = m_store.load(error);
    if (!model)
        return false;
    model->setParams(m_model.params());
    m_model = std::move(*model);
    m_model.prepareLookups();
    return true;
}

QByteArray Learner::digestOf(QByteArrayView header)
{
    QByteArrayView block = header;
    if (block.startsWith("+OK") || block.startsWith("From ")) {
        const qsizetype lf = block.indexOf('\n');
        block = lf < 0 ? QByteArrayView() : block.sliced(lf + 1);
    }
    block = block.first(std::min(block.size(), HeaderTokens::kMaxHeaderBytes));
    const qsizetype end = HeaderTokens::headerEnd(block);
    return HeaderDigest::of(end < 0 ? block : block.first(end));
}

LearnedVerdict Learner::verdict(QByteArrayView header) const
{
    if (m_model.spamMessages() < m_model.params().minLessons || m_model.hamMessages() < m_model.params().minLessons)
        return {};
    return m_model.verdict(HeaderTokens::of(header));
}

bool Learner::apply(const QList<Lesson> &lessons, bool oppositeUndoes, QString *error, qsizetype *taughtCount)
{
    const LearnModel before = m_model;
    const qint32 day = today();
    QSet<QByteArray> taught; // the digests given a new lesson here
    QSet<QByteArray> kept; // and those whose lesson was given again, dated anew
    const bool done = m_store.inTransaction(
        [&] {
            for (const Lesson &lesson : lessons) {
                const QByteArray digest = digestOf(lesson.header);
                if (digest.isEmpty())
                    continue;
                QString failure;
                const std::optional<LearnStore::Lesson> earlier = m_store.lesson(digest, &failure);
                if (!failure.isEmpty()) {
                    if (error)
                        *error = failure;
                    return false;
                }
                if (earlier && earlier->spam == lesson.spam) {
                    // Its record is as young as its latest lesson: a trim that
                    // forgot a message still taught (an Inbox kept for months)
                    // would let its next lesson count its tokens again.
                    if (!kept.contains(digest) && !taught.contains(digest)
                        && !m_store.setLesson(digest, *earlier, day, error))
                        return false;
                    kept.insert(digest);
                    continue;
                }
                const TokenList tokens = HeaderTokens::of(lesson.header);
                if (earlier)
                    m_model.unlearn(tokens, earlier->spam, earlier->step);
                if (earlier && oppositeUndoes) {
                    if (!m_store.removeLesson(digest, error))
                        return false;
                    continue;
                }
                const qint32 step = m_model.learn(tokens, lesson.spam, day);
                if (!m_store.setLesson(digest, {lesson.spam, step}, day, error))
                    return false;
                taught.insert(digest);
            }
            // Once per teaching, not per lesson: a large import sorts the
            // records once, and keeps the lessons it just took.
            return m_store.trimLessons(taught + kept, error) && m_store.save(m_model, error);
        },
        error);
    if (!done)
        m_model = before;
    else if (taughtCount)
        *taughtCount = taught.size();
    m_model.prepareLookups();
    return done;
}

bool Learner::forget(QByteArrayView header, QString *error)
{
    const QByteArray digest = digestOf(header);
    QString failure;
    const std::optional<LearnStore::Lesson> earlier = m_store.lesson(digest, &failure);
    if (!failure.isEmpty()) {
        if (error)
            *error = failure;
        return false;
    }
    if (!earlier)
        return true;
    const LearnModel before = m_model;
    m_model.unlearn(HeaderTokens::of(header), earlier->spam, earlier->step);
    const bool forgotten =
        m_store.inTransaction([&] { return m_store.removeLesson(digest, error) && m_store.save(m_model, error); },
                              error);
    if (!forgotten)
        m_model = before;
    m_model.prepareLookups();
    return forgotten;
}
