#include "LearnFigures.h"

#include <algorithm>
#include <cmath>

double LearnFigures::recallAtFpr(QList<double> hamScores, const QList<double> &spamScores, double fpr)
{
    if (hamScores.isEmpty() || spamScores.isEmpty())
        return 0;
    std::sort(hamScores.begin(), hamScores.end(), std::greater<double>());
    const auto allowed = qsizetype(std::floor(fpr * double(hamScores.size())));
    const double threshold = allowed < hamScores.size() ? hamScores[allowed] : -1.0;
    const auto caught = std::count_if(spamScores.begin(), spamScores.end(), [&](double s) { return s > threshold; });
    return 100.0 * double(caught) / double(spamScores.size());
}

double LearnFigures::percentAtOrAbove(const QList<double> &scores, double cutoff)
{
    if (scores.isEmpty())
        return 0;
    const auto n = std::count_if(scores.begin(), scores.end(), [&](double s) { return s >= cutoff; });
    return 100.0 * double(n) / double(scores.size());
}

double LearnFigures::rocAreaAbove(QList<double> hamScores, const QList<double> &spamScores)
{
    if (hamScores.isEmpty() || spamScores.isEmpty())
        return 0;
    std::sort(hamScores.begin(), hamScores.end());
    // For each spam, the hams above it and half those level with it.
    double above = 0;
    for (const double s : spamScores) {
        const auto level = std::equal_range(hamScores.begin(), hamScores.end(), s);
        above += double(hamScores.end() - level.second) + 0.5 * double(level.second - level.first);
    }
    return 100.0 * above / (double(hamScores.size()) * double(spamScores.size()));
}
