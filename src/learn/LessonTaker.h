#pragma once

#include "Learner.h"
#include "RuleClassifier.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

class RuleDatabase;

// Lessons from mail the user sorted before Trelvik knew it (a server's
// Junk folder and Inbox), taken a batch at a time, each batch in one
// transaction: a message teaches once (by its header digest), never against
// a lesson the user gave before, and the counts say how many lessons were
// new. A message in the spam folder that Trelvik itself moved there on a
// learned verdict, unattended, is no lesson: the learning never confirms
// itself. Nor is a message the filter rules would send to the Recycle Bin,
// or that the learning judges spam and no exempted rule keeps, good mail,
// wherever it waits: an Inbox on the server holds the spam a fetch put in
// the Recycle Bin until the user empties it.
class LessonTaker {
public:
    struct Counts {
        int spam = 0; // new spam lessons
        int good = 0;
        int known = 0; // taken before, the same way
        int ownVerdicts = 0; // the learning's own moves, left out
        int filtered = 0; // good by its folder, but a filter rule's hit: left out
        int judgedSpam = 0; // good by its folder, but the learning's spam: left out
        int decidedOtherwise = 0; // learned the other way before (the user's decision): left out
    };

    // `learning`: whose counts the profile uses (its own, or a shared pool).
    LessonTaker(RuleDatabase &database, const QString &profile, const QString &learning);

    // Reads the profile's counts and which messages its learned verdicts
    // moved. False with *error when they cannot be read.
    bool load(QString *error);
    bool take(const QList<QByteArray> &headers, bool spam, QString *error);
    const Counts &counts() const { return m_counts; }

private:
    RuleDatabase &m_database;
    QString m_profile;
    Learner m_learner;
    Counts m_counts;
    QSet<QString> m_movedByVerdict; // sender, subject and date of each
    MessageClassifier m_rules;
};
