#pragma once

#include <QList>

// Recall of spam at a given false positive rate, from scores (higher is
// spammier): the threshold lets at most floor(rate * hams) good messages
// through, and a spam is caught when it scores strictly above it.
namespace LearnFigures {

double recallAtFpr(QList<double> hamScores, const QList<double> &spamScores, double fpr);
// The area above the ROC curve, in percent (the TREC spam track's 1-ROCA):
// the chance that a good message outscores a spam, ties counting half. It
// weighs every ham, where recall at 0.1 % rests on the few highest: on a
// small split, the steadier guide.
double rocAreaAbove(QList<double> hamScores, const QList<double> &spamScores);
// Percent of `scores` at or above `cutoff`.
double percentAtOrAbove(const QList<double> &scores, double cutoff);

} // namespace LearnFigures
