#pragma once

#include "LearnModel.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <functional>
#include <optional>

class RuleDatabase;

// The learned counts of one profile, kept in the rule database beside the
// rules (tables tblearn, tblearntotal, tblesson, made when missing so that
// older files keep working) and nowhere else. Bounded: beyond kMaxTokens the
// rarest, oldest tokens go, down to kPruneTo; beyond kMaxLessons the oldest
// lessons are forgotten as records (their counts stay).
class LearnStore {
public:
    static constexpr qsizetype kMaxTokens = 400000;
    static constexpr qsizetype kPruneTo = 320000;
    static constexpr qsizetype kMaxLessons = 50000;

    LearnStore(RuleDatabase &database, const QString &profile);

    // The profile's counts; an empty model when nothing was learned yet.
    std::optional<LearnModel> load(QString *error) const;
    // Writes the tokens the model changed and its totals in one transaction
    // (all or none), then prunes past the bound, in the model too.
    bool save(LearnModel &model, QString *error);

    // The lesson a message (by its header digest) gave, nothing when it gave
    // none: spam or good mail, and the step the weights took for it.
    struct Lesson {
        bool spam = false;
        qint32 step = 0;
    };
    std::optional<Lesson> lesson(const QByteArray &digest, QString *error) const;
    bool setLesson(const QByteArray &digest, const Lesson &lesson, qint32 day, QString *error);
    // Forgets the oldest lesson records past the bound, those of `taught`
    // (digests) last.
    bool trimLessons(const QSet<QByteArray> &taught, QString *error);
    bool removeLesson(const QByteArray &digest, QString *error);

    // Forgets everything the profile learned; resetAll() every profile's.
    bool reset(QString *error);
    static bool resetAll(RuleDatabase &database, QString *error);

    // Runs `work` so that all of it or none stays (its failures set *error).
    bool inTransaction(const std::function<bool()> &work, QString *error);

    // Bounds smaller than the shipped ones, for tests.
    void setBounds(qsizetype maxTokens, qsizetype pruneTo, qsizetype maxLessons);

private:
    bool ensureTables(QString *error) const;
    bool prune(LearnModel &model, QString *error);
    bool writeChanged(LearnModel &model, QString *error);

    RuleDatabase &m_database;
    QString m_profile;
    qsizetype m_maxTokens = kMaxTokens;
    qsizetype m_pruneTo = kPruneTo;
    qsizetype m_maxLessons = kMaxLessons;
};
