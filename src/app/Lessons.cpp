#include "Lessons.h"

#include "LearnStore.h"
#include "Learner.h"
#include "MessageFolderModel.h"

namespace {

// A row the learning placed by a verdict of its own (spam, or good): the
// user leaving it there confirms nothing. An unsure row was placed by no one,
// as a row no rule names: the user's review of it is a lesson.
bool sortedOnlyByLearning(const MessageEntry &entry)
{
    return entry.sortReason.kind == SortReason::Kind::Learned
        && entry.sortReason.verdict != SortReason::Verdict::Unsure;
}

void add(QList<Learner::Lesson> &lessons, const MessageEntry &entry, bool spam)
{
    if (entry.hasHeaderBlock())
        lessons.append({entry.headerBlock(), spam});
}

QString store(RuleDatabase &db, const QString &profile, const QList<Learner::Lesson> &lessons, bool moves)
{
    if (lessons.isEmpty() || profile.isEmpty())
        return {};
    Learner learner(db, profile);
    QString error;
    if (!learner.load(&error) || !(moves ? learner.moved(lessons, &error) : learner.teach(lessons, &error)))
        return error.isEmpty() ? QStringLiteral("The lessons could not be stored.") : error;
    return {};
}

} // namespace

QString Lessons::fromMoves(RuleDatabase &db, const QString &profile, const QList<MessageEntry> &moved,
                           bool toRecycleBin)
{
    QList<Learner::Lesson> lessons;
    for (const MessageEntry &entry : moved)
        add(lessons, entry, toRecycleBin);
    return store(db, profile, lessons, true);
}

QString Lessons::fromEmpty(RuleDatabase &db, const QString &profile, const QList<MessageEntry> &deleted,
                           const MessageFolderModel *reviewedInbox)
{
    QList<Learner::Lesson> lessons;
    for (const MessageEntry &entry : deleted) {
        if (!sortedOnlyByLearning(entry))
            add(lessons, entry, true);
    }
    for (int row = 0; reviewedInbox && row < reviewedInbox->count(); ++row) {
        if (!sortedOnlyByLearning(reviewedInbox->entry(row)))
            add(lessons, reviewedInbox->entry(row), false);
    }
    return store(db, profile, lessons, false);
}

QString Lessons::forget(RuleDatabase &db, const QString &profile)
{
    QString error;
    if (profile.isEmpty() || LearnStore(db, profile).reset(&error))
        return {};
    return error.isEmpty() ? QStringLiteral("The learning could not be reset.") : error;
}

QString Lessons::forgetAll(RuleDatabase &db)
{
    QString error;
    if (LearnStore::resetAll(db, &error))
        return {};
    return error.isEmpty() ? QStringLiteral("The learning could not be reset.") : error;
}
