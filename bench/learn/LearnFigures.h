#pragma once

#include <QList>

// Recall of spam at a given false positive rate, from scores (higher is
// spammier): the threshold lets at most floor(rate * hams) good messages
// through, and a spam is caught when it scores strictly above it.
namespace LearnFigures {

double recallAtFpr(QList<double> hamScores, const QList<double> &spamScores, double fpr);
// Percent of `scores` at or above `cutoff`.
double percentAtOrAbove(const QList<double> &scores, double cutoff);

} // namespace LearnFigures
