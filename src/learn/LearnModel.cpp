#include "LearnModel.h"

#include "LearnReasons.h"

#include <algorithm>
#include <cmath>

namespace {

double logAdd(double a, double b)
{
    const double hi = std::max(a, b);
    if (hi == -HUGE_VAL)
        return hi;
    return hi + std::log1p(std::exp(std::min(a, b) - hi));
}

// The logarithms of the chance of a chi-square value at least `x2` (upper)
// and below it (lower), with `dof` (even) degrees of freedom: the series of
// the incomplete gamma function, summed as logarithms so that a message far
// to one side still ranks above one a little less far, instead of both
// rounding to exactly 0 or 1.
struct Tails {
    double upper;
    double lower;
};

Tails chi2Tails(double x2, int dof)
{
    const double m = x2 / 2.0;
    const int k = dof / 2;
    // The sum of m^i / i! below k, as sum * e^scale: rescaled before it could
    // overflow, so that large evidence keeps its size.
    double term = 1;
    double sum = 1;
    double scale = 0;
    for (int i = 1; i < k; ++i) {
        term *= m / i;
        sum += term;
        if (sum > 1e200) {
            term *= 1e-200;
            sum *= 1e-200;
            scale += 200 * std::log(10.0);
        }
    }
    const double upper = std::min(std::log(sum) + scale - m, 0.0);
    if (m >= k || m <= 0)
        return {upper, std::log1p(-std::exp(upper))};
    // The lower tail directly where it is small: its first term as a
    // logarithm (it may be far below the smallest double), then ratios.
    const double first = k * std::log(m) - std::lgamma(k + 1.0);
    double ratio = 1;
    double tail = 1;
    for (int i = k + 1; i < k + 400 && ratio > tail * 1e-17; ++i) {
        ratio *= m / i;
        tail += ratio;
    }
    return {upper, std::min(first + std::log(tail) - m, 0.0)};
}

} // namespace

double LearnModel::logOddsOf(double score)
{
    return std::log(score) - std::log1p(-score);
}

namespace {

// Far beyond any weight lessons give: a sum that would pass it stops there
// rather than wrap.
constexpr qint64 kMaxWeight = qint64(1) << 30;

qint32 movedBy(qint32 weight, qint64 step)
{
    return qint32(std::clamp(qint64(weight) + step, -kMaxWeight, kMaxWeight));
}

} // namespace

qint32 LearnModel::learn(const TokenList &tokens, bool spam, qint32 day)
{
    // The weights' step: logistic regression's, on the log odds they give
    // the message before this lesson.
    const double before = weightsLogOdds(tokens);
    qint32 step = 0;
    if ((spam ? before : -before) < m_params.weightMargin) {
        const double wrong = (spam ? 1.0 : 0.0) - 1 / (1 + std::exp(-before));
        step = qint32(std::lround(m_params.weightRate * wrong * kWeightUnit));
    }
    m_index.reset();
    (spam ? m_spam : m_ham) += 1;
    for (const quint64 token : tokens.ids()) {
        Counts &counts = m_tokens[token];
        (spam ? counts.spam : counts.ham) += 1;
        counts.day = std::max(counts.day, day);
        counts.weight = movedBy(counts.weight, step);
        m_changed.insert(token);
    }
    return step;
}

void LearnModel::unlearn(const TokenList &tokens, bool spam, qint32 step)
{
    m_index.reset();
    quint32 &total = spam ? m_spam : m_ham;
    total -= total > 0 ? 1 : 0;
    for (const quint64 token : tokens.ids()) {
        auto it = m_tokens.find(token);
        if (it == m_tokens.end())
            continue;
        quint32 &count = spam ? it->spam : it->ham;
        count -= count > 0 ? 1 : 0;
        it->weight = movedBy(it->weight, -qint64(step));
        if (it->spam == 0 && it->ham == 0)
            m_tokens.erase(it);
        m_changed.insert(token);
    }
}

void LearnModel::setTotals(quint32 spam, quint32 ham)
{
    m_index.reset();
    m_spam = spam;
    m_ham = ham;
}

double LearnModel::probability(const Counts &counts) const
{
    const double spamRatio = m_spam ? double(counts.spam) / m_spam : 0.0;
    const double hamRatio = m_ham ? double(counts.ham) / m_ham : 0.0;
    const double n = double(counts.spam) + counts.ham;
    const double p = spamRatio + hamRatio > 0 ? spamRatio / (spamRatio + hamRatio) : m_params.unknown;
    return (m_params.strength * m_params.unknown + n * p) / (m_params.strength + n);
}

TokenIndex::Entry LearnModel::entryOf(quint64 id, const Counts &counts) const
{
    TokenIndex::Entry entry{id, {}, counts.weight, 0};
    const double f = probability(counts);
    if (std::abs(f - 0.5) >= m_params.minDeviation) {
        const double clamped = std::clamp(f, 1e-6, 1 - 1e-6);
        entry.logs = {std::log(clamped), std::log1p(-clamped)};
        entry.seen = entry.logs.odds() >= 0 ? counts.spam : counts.ham;
    }
    return entry;
}

void LearnModel::prepareLookups()
{
    auto index = std::make_shared<TokenIndex>();
    index->build(m_tokens.size(), [this](const auto &put) {
        for (auto it = m_tokens.cbegin(); it != m_tokens.cend(); ++it) {
            const TokenIndex::Entry entry = entryOf(it.key(), *it);
            if (entry.seen > 0 || entry.weight != 0)
                put(entry);
        }
    });
    m_index = std::move(index);
}

LearnModel::EvidenceList LearnModel::evidence(const TokenList &tokens, double *weights) const
{
    EvidenceList found;
    qint64 weightSum = 0; // whole units: the same sum in any order
    const QList<quint64> &ids = tokens.ids();
    const auto take = [&](qsizetype i, const TokenIndex::Entry &entry) {
        weightSum += entry.weight;
        if (entry.seen > 0)
            found.append({entry.logs, entry.seen, i});
    };
    if (m_index) {
        // Holds only the tokens that speak, or have a weight.
        m_index->lookup(ids.constData(), ids.size(), take);
    } else {
        for (qsizetype i = 0; i < ids.size(); ++i) {
            const auto it = m_tokens.constFind(ids[i]);
            if (it != m_tokens.cend())
                take(i, entryOf(it.key(), *it));
        }
    }
    if (weights)
        *weights = double(weightSum);
    if (found.size() > m_params.maxTokens) {
        // Ties go by id, so that the order the tokens came in changes nothing.
        std::nth_element(found.begin(), found.begin() + m_params.maxTokens, found.end(),
                         [&ids](const Evidence &a, const Evidence &b) {
                             const double da = std::abs(a.logs.odds());
                             const double db = std::abs(b.logs.odds());
                             return da != db ? da > db : ids[a.index] < ids[b.index];
                         });
        found.resize(m_params.maxTokens);
    }
    return found;
}

double LearnModel::weightsLogOddsOf(double weights, qsizetype tokens)
{
    // Over the root of the token count: a long header is not surer than a
    // short one for having more tokens.
    constexpr double kScale = 4;
    return tokens > 0 ? kScale * weights / kWeightUnit / std::sqrt(double(tokens)) : 0.0;
}

double LearnModel::blended(double counts, double weights)
{
    constexpr double kCountsBound = 30; // beyond, Fisher's tails say no more
    return (weights + std::clamp(counts, -kCountsBound, kCountsBound) / 3) / 2;
}

LearnModel::Combined LearnModel::combine(const EvidenceList &evidence)
{
    if (evidence.isEmpty())
        return {0.5, 0.0};
    double sumOfSpam = 0; // of log f
    double sumOfGood = 0; // of log(1 - f)
    for (const Evidence &e : evidence) {
        sumOfSpam += e.logs.ofSpam;
        sumOfGood += e.logs.ofGood;
    }
    const int dof = 2 * int(evidence.size());
    const Tails h = chi2Tails(-2 * sumOfSpam, dof);
    const Tails s = chi2Tails(-2 * sumOfGood, dof);
    // The indicator (1 + H - S) / 2 and its complement, as logarithms.
    const double spamward = logAdd(h.upper, s.lower);
    const double hamward = logAdd(h.lower, s.upper);
    return {std::exp(spamward - std::log(2.0)), spamward - hamward};
}

double LearnModel::judged(const TokenList &tokens, EvidenceList *found) const
{
    double weights = 0;
    *found = evidence(tokens, &weights);
    return blended(combine(*found).logOdds, weightsLogOddsOf(weights, tokens.size()));
}

double LearnModel::score(const TokenList &tokens) const
{
    return 1 / (1 + std::exp(-logOdds(tokens)));
}

double LearnModel::logOdds(const TokenList &tokens) const
{
    EvidenceList found;
    return judged(tokens, &found);
}

double LearnModel::countsScore(const TokenList &tokens) const
{
    return combine(evidence(tokens)).score;
}

double LearnModel::countsLogOdds(const TokenList &tokens) const
{
    return combine(evidence(tokens)).logOdds;
}

double LearnModel::weightsLogOdds(const TokenList &tokens) const
{
    double weights = 0;
    evidence(tokens, &weights);
    return weightsLogOddsOf(weights, tokens.size());
}

LearnedVerdict LearnModel::verdict(const TokenList &tokens) const
{
    LearnedVerdict verdict;
    if (m_spam < m_params.minLessons || m_ham < m_params.minLessons)
        return verdict;
    EvidenceList found;
    const double logOdds = judged(tokens, &found);
    verdict.score = 1 / (1 + std::exp(-logOdds));
    verdict.kind = logOdds >= m_cutoffs.spam ? LearnedVerdict::Kind::Spam
        : logOdds < m_cutoffs.good           ? LearnedVerdict::Kind::Good
                                             : LearnedVerdict::Kind::Unsure;
    const bool spamward = verdict.score >= 0.5;
    // Only the strongest three are told.
    std::partial_sort(found.begin(), found.begin() + std::min<qsizetype>(3, found.size()), found.end(),
                      [spamward, &ids = tokens.ids()](const Evidence &a, const Evidence &b) {
                          const double oddsA = a.logs.odds();
                          const double oddsB = b.logs.odds();
                          if (oddsA != oddsB)
                              return spamward ? oddsA > oddsB : oddsA < oddsB;
                          return ids[a.index] < ids[b.index];
                      });
    for (const Evidence &e : found) {
        if (verdict.reasons.size() == 3 || (e.logs.odds() >= 0) != spamward)
            break;
        verdict.reasons.append(LearnReasons::describe(tokens.view(e.index), e.seen, spamward));
    }
    return verdict;
}
