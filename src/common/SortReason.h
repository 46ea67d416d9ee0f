#pragma once

#include <QString>
#include <QStringList>

// Why a message row is in its folder: the rule that sorted it (its value as
// stored, and the list it belongs to), no rule at all, the user's hand, or
// (where no rule decided) what the profile learned from the user.
struct SortReason {
    enum class Kind { NoRule, Filter, Exempted, ByHand, Learned };
    enum class Verdict { Good, Unsure, Spam };
    Kind kind = Kind::NoRule;
    QString rule; // the rule value as stored; empty unless Filter or Exempted
    // Learned only: the verdict, how much the message looks like the user's
    // spam (0 to 100) and the strongest reasons, in words.
    Verdict verdict = Verdict::Good;
    int percent = 0;
    QStringList reasons = {};
    // A learned spam that stays in the Inbox because this run may not delete
    // it unattended (the profile does not allow it): still spam, shown so,
    // left for the user's review.
    bool keptForReview = false;

    static SortReason learned(Verdict verdict, int percent, const QStringList &reasons);

    // "*@spam.example (Filter List)", "boss@work.example (Exempted List)",
    // "No rule matched", "Moved by hand", "Learned: 97 % like your spam
    // (sender domain ... seen in 14 of your spam; ...)".
    QString text() const;
    // A filter rule, or a learned spam not kept for review.
    bool sendsToRecycleBin() const
    {
        return kind == Kind::Filter || (kind == Kind::Learned && verdict == Verdict::Spam && !keptForReview);
    }
    // "spam", "unsure" or "good"; empty unless Learned.
    QString verdictName() const;

    bool operator==(const SortReason &other) const = default;
};
